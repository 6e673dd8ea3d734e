/* The mono-to-3D engine's function interface.
 *
 * An engine is opened for one sample rate and one mode and used through an
 * opaque handle. It takes mono blocks of unsigned 8-bit (128 is silence) or
 * signed 16-bit samples and writes interleaved stereo blocks of the same
 * sample type, twice as many samples as it was given, saturating. Any number
 * of samples may be passed; nothing is allocated while processing. Settings
 * take effect at the next processed block.
 *
 * A null handle or buffer pointer is a programming error and aborts the
 * process with an assertion message. One engine must not be used from two
 * threads at once; different engines are independent.
 */
#pragma once

#define M2S_EXPORT __attribute__((visibility("default")))

/* Never defined: a handle is the address of the engine object. */
struct M2S;

/* One-byte truth value; zero is false. */
typedef unsigned char BOOL;

/* Sample types: unsigned 8-bit and signed 16-bit (host byte order). */
typedef unsigned char Data8;
typedef short Data16;

/* Open flags: Music mode (the mono signal and a copy turned by about one
 * radian feed a single widener network); clear for Voice mode (the mono
 * signal feeds both sides of a dual widener network). */
#define M2S_MUSIC 0x8u
/* Open flag: at rates above 48000 Hz use filter tables designed for that rate
 * (88200, 96000, 176400, 192000 Hz), so the effect measures as it does at
 * 44100/48000 Hz. Without it every rate takes the nearest of the nine
 * player rates' tables, as the player plug-in has always heard it. */
#define M2S_ALL_RATES 0x100u

/* What the level setters accept: at most M2S_MAX_GAIN_DB; a value that is
 * not a finite number counts as the level the engine starts at (spread 0 dB;
 * centre 0 dB in Music, -10 dB in Voice). Whatever the settings, the output
 * stays a bounded multiple of the input. */
#define M2S_MAX_GAIN_DB 24.0f

#ifdef __cplusplus
extern "C" {
#endif

/* Makes an engine for rate Hz (other rates use the nearest tabled rate's
 * filters) and stores it in *handle. Answers 0 on success; otherwise stores
 * null. The engine starts enabled, with silent filter and delay state. */
M2S_EXPORT int m2sOpen(struct M2S** handle, unsigned int sampleRate, unsigned int flags);
/* Releases everything the engine holds. */
M2S_EXPORT void m2sClose(struct M2S* handle);
/* Silences filter and delay state; settings are kept. */
M2S_EXPORT void m2sReset(struct M2S* handle);
/* 3D processing on or off; off copies the input to both output channels.
 * Before the first block the change is immediate; later it fades over 1024
 * frames. */
M2S_EXPORT void m2sEnable(struct M2S* handle, BOOL on);
/* The high-pass of the widening path on or off. */
M2S_EXPORT void m2sEnableHipass(struct M2S* handle, BOOL on);
/* Same-side feed relative to the cross-feed, in dB (Voice mode only). */
M2S_EXPORT void m2sSetCenter(struct M2S* handle, float decibels);
/* Widening amount, in dB. */
M2S_EXPORT void m2sSetSpread(struct M2S* handle, float decibels);

/* count mono samples from inbuf into count stereo frames at outbuf. The two
 * blocks must not overlap. */
M2S_EXPORT void m2sProcess8(struct M2S* handle, const Data8* inbuf, unsigned char (*outbuf)[2],
                            unsigned int count);
M2S_EXPORT void m2sProcess16(struct M2S* handle, const Data16* inbuf, short (*outbuf)[2], unsigned int count);
/* Float samples (1.0 full scale), not clipped; for in-range input the same
 * signal as m2sProcess16. */
M2S_EXPORT void m2sProcessFloat(struct M2S* handle, const float* inbuf, float (*outbuf)[2],
                                unsigned int count);

/* Frames over which later spread and center changes glide (0: at once;
 * negative counts as 0). The player's engines keep the ramp they open with. */
M2S_EXPORT void m2sSetRampLength(struct M2S* handle, int frames);
/* Glides whose gains move on by one addition a frame, across calls as within
 * them, so the output does not depend on how the stream is cut into calls.
 * Off from open, as the player has them. */
M2S_EXPORT void m2sSetChainedRamps(struct M2S* handle, BOOL on);

/* The engine's delay from input to output, in frames. */
M2S_EXPORT int m2sGetLatency(struct M2S* handle);

#ifdef __cplusplus
}
#endif
