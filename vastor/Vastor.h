/* The stereo widener engine's function interface.
 *
 * An engine is opened for one sample rate and used through an opaque handle.
 * It takes stereo blocks, interleaved (frames of two samples) or planar
 * (separate left and right arrays), of unsigned 8-bit (128 is silence),
 * signed 16-bit or float samples (1.0 full scale), and writes the widened
 * block in the same format: 8-bit and 16-bit results saturate, float results
 * are not clipped. Any number of frames may be passed; nothing is allocated
 * while processing. Parameters are in decibels and frames, and take effect
 * at the next processed block.
 *
 * A null handle or buffer pointer is a programming error and aborts the
 * process with an assertion message. One engine must not be used from two
 * threads at once; different engines are independent.
 */
#pragma once

#define VASTOR_EXPORT __attribute__((visibility("default")))

/* Never defined: a handle is the address of the engine object. */
struct Vastor;

/* One-byte truth value; zero is false. */
typedef unsigned char BOOL;

/* Sample types of the planar entry points. */
typedef unsigned char Mono8;
typedef short Mono16;
typedef float MonoFloat;

/* Open flags (bits not listed here are ignored). */
/* The widening filter is one pole/zero section instead of the all-pole cascade. */
#define VASTOR_SINGLE_STAGE 0x80000000u
/* The high-pass stage starts switched on. */
#define VASTOR_HIPASS_ON 0x40000000u
/* One widening filter on the channel difference instead of one per side. */
#define VASTOR_SINGLE_NETWORK 0x20000000u
/* A high shelf on each output side; at a rate without a shelf row the sides
 * run unshelved. */
#define VASTOR_HIGH_SHELF 0x10000000u
/* At rates above 48000 Hz use widening (and shelf) rows designed for that
 * rate (88200, 96000, 176400, 192000 Hz) instead of the nearest player
 * rate's row, so the effect measures as it does at 44100/48000 Hz. */
#define VASTOR_ALL_RATES 0x08000000u

/* What the setters accept. A delay counts as 0 to VASTOR_MAX_DELAY frames
 * (one second at 192000 Hz), whatever is asked. A level counts as at most
 * VASTOR_MAX_GAIN_DB, and one that is not a finite number as 0 dB, the level
 * every setting starts at: whatever the settings, the output stays a bounded
 * multiple of the input, and silence stays silent. */
#define VASTOR_MAX_DELAY 192000
#define VASTOR_MAX_GAIN_DB 24.0f

#ifdef __cplusplus
extern "C" {
#endif

/* Makes an engine for rate Hz (the nearest tabled rate's filters are used for
 * other rates) and stores it in *handle. Answers 0 on success; otherwise
 * stores null. Filter and delay state start silent. */
VASTOR_EXPORT int vastorOpen(struct Vastor** handle, unsigned int rate, unsigned int flags);
/* Releases everything the engine holds. */
VASTOR_EXPORT void vastorClose(struct Vastor* handle);
/* Silences filter and delay state; parameters are kept, and the next change
 * applies without a glide. */
VASTOR_EXPORT void vastorReset(struct Vastor* handle);
/* Widening on or off; off passes the direct path only. */
VASTOR_EXPORT void vastorEnable(struct Vastor* handle, BOOL on);
/* The high-pass on the widening path (75 Hz) on or off. */
VASTOR_EXPORT void vastorEnableHipass(struct Vastor* handle, BOOL on);
/* Widening amount in dB (the player uses -18 to 0). */
VASTOR_EXPORT void vastorSetSpread(struct Vastor* handle, float decibels);
/* Same-side feed relative to the cross-feed, in dB (dual network only). */
VASTOR_EXPORT void vastorSetCenter(struct Vastor* handle, float decibels);
/* Gain of each input channel, in dB. */
VASTOR_EXPORT void vastorSetInputScale(struct Vastor* handle, float leftDecibels, float rightDecibels);
/* Delay of each input channel, in frames (negative counts as 0). */
VASTOR_EXPORT void vastorSetInputDelay(struct Vastor* handle, int leftFrames, int rightFrames);
/* Extra delay of the unfiltered path, in frames (negative counts as 0); the
 * widening filter's row sets it at open. */
VASTOR_EXPORT void vastorSetDirectDelay(struct Vastor* handle, int frames);
/* Frames over which later gain and delay changes glide (0: at once; negative
 * counts as 0). The player's engines keep the ramp they open with. */
VASTOR_EXPORT void vastorSetRampLength(struct Vastor* handle, int frames);
/* Glides whose gains move on by one addition a frame, across calls as within
 * them, so the output does not depend on how the stream is cut into calls.
 * Off from open, as the player has them. */
VASTOR_EXPORT void vastorSetChainedRamps(struct Vastor* handle, BOOL on);
/* The delay of the unfiltered (direct) path from input to output, in frames:
 * what a host reports as the engine's latency. */
VASTOR_EXPORT int vastorGetLatency(struct Vastor* handle);

/* Interleaved blocks of frames stereo frames. outbuf may be inbuf itself
 * (processing in place); other overlaps are not supported. */
VASTOR_EXPORT void vastorProcess16(struct Vastor* handle, const short (*inbuf)[2], short (*outbuf)[2],
                                   unsigned int frames);
VASTOR_EXPORT void vastorProcess8(struct Vastor* handle, const unsigned char (*inbuf)[2],
                                  unsigned char (*outbuf)[2], unsigned int frames);
VASTOR_EXPORT void vastorProcessFloat(struct Vastor* handle, const float (*inbuf)[2], float (*outbuf)[2],
                                      unsigned int frames);

/* Planar blocks: four arrays of frames samples each; an output array may be
 * its side's input array. */
VASTOR_EXPORT void vastorMono16(struct Vastor* handle, const Mono16* leftIn, const Mono16* rightIn,
                                Mono16* leftOut, Mono16* rightOut, unsigned int frames);
VASTOR_EXPORT void vastorMono8(struct Vastor* handle, const Mono8* leftIn, const Mono8* rightIn,
                               Mono8* leftOut, Mono8* rightOut, unsigned int frames);
VASTOR_EXPORT void vastorMonoFloat(struct Vastor* handle, const MonoFloat* leftIn, const MonoFloat* rightIn,
                                   MonoFloat* leftOut, MonoFloat* rightOut, unsigned int frames);

#ifdef __cplusplus
}
#endif
