// The player's entry into the plug-in: the effect record, reading the
// settings, and the per-block sample path that routes mono blocks to the
// mono-to-3D engine and stereo blocks to the widener.
#include "kesta_xmms.h"

#include <glib.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>

#include "M2s.h"
#include "Vastor.h"
#include "configfile.h"

namespace {

// Dual network, multi-stage widening filter, no shelf, high-pass initially on.
const unsigned kVastorFlags = VASTOR_HIPASS_ON;
static_assert(kMusicMode == static_cast<int>(M2S_MUSIC), "the stored mode is the engine's open flag");

// Output storage shared by both engines: grows, never shrinks, never freed.
// Each block is written to buffer; spare holds the block written before. A
// block the plug-in returned may come back to it as input (a player that
// chains effects, or runs one twice on its result): the two are then
// swapped, so that the input is neither overwritten nor moved by growing.
// spare also takes a copy of 16-bit input that is not 2-byte aligned.
unsigned char* buffer = nullptr;
int buffer_len = 0;
unsigned char* spare = nullptr;
int spare_len = 0;
int m2s_rate = 0;   // rate m2s was opened with
int m2s_flags = 0;  // mode m2s was opened with
int vastor_rate = 0;

const KestaConfig kDefaults = {1, kMusicMode, 1, 0.0f, 1};

BOOL lowByte(int on) {
    return static_cast<BOOL>(on != 0);
}

bool inside(const void* p, const unsigned char* storage, int size) {
    const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(p);
    const std::uintptr_t begin = reinterpret_cast<std::uintptr_t>(storage);
    return storage && at >= begin && at - begin < static_cast<std::uintptr_t>(size);
}

// Makes buffer a place for the output of a block read from input: input may
// point anywhere, into buffer too, and stays valid and unchanged.
void keepInputApart(const void* input) {
    if (!inside(input, buffer, buffer_len)) return;
    std::swap(buffer, spare);
    std::swap(buffer_len, spare_len);
}

// Makes room for bytes in storage; false (storage unchanged) when it cannot grow.
bool grow(unsigned char*& storage, int& size, long bytes) {
    if (bytes <= size) return true;
    if (bytes > INT_MAX) return false;
    void* grown = g_try_realloc(storage, static_cast<gsize>(bytes));
    if (!grown) return false;
    storage = static_cast<unsigned char*>(grown);
    size = static_cast<int>(bytes);
    return true;
}

bool growBuffer(long bytes) {
    return grow(buffer, buffer_len, bytes);
}

// The bytes of input at an address fit for samples of width bytes: input
// itself, or a copy in spare; null when no copy can be made. Call after
// keepInputApart, so that input is never in buffer.
const void* alignedInput(const void* input, long bytes, int width) {
    if (reinterpret_cast<std::uintptr_t>(input) % static_cast<unsigned>(width) == 0) return input;
    // Input inside spare already fits in it; elsewhere spare may have to grow.
    if (!inside(input, spare, spare_len) && !grow(spare, spare_len, bytes)) return nullptr;
    std::memmove(spare, input, static_cast<size_t>(bytes));
    return spare;
}

// The format code a caller passed. A player written in C may pass any int
// where the interface says AFormat: the value is read as an integer and never
// loaded as an AFormat, which holds only the codes it names.
static_assert(sizeof(AFormat) == sizeof(int), "the player passes format codes as ints");
int formatCode(const AFormat& format) {
    int code;
    std::memcpy(&code, &format, sizeof code);
    return code;
}

// Bytes per sample of the format codes the engines take; 0 for the others.
// Both 16-bit codes reach the engines as native samples, which little-endian is.
int sampleBytes(int format) {
    switch (format) {
        case FMT_U8:
            return 1;
        case FMT_S16_NE:
            return 2;
        case FMT_S16_LE:
            return G_BYTE_ORDER == G_LITTLE_ENDIAN ? 2 : 0;
        default:
            return 0;
    }
}

gint monoBlock(gpointer* data, gint length, int format, gint rate) {
    // A block whose stereo result could not be described by an int passes through.
    if (length > INT_MAX / 2) return length;
    if (rate != m2s_rate || kesta_cfg.m2s_mode != m2s_flags) {
        if (m2s) m2sClose(m2s);
        m2s = nullptr;
        m2s_rate = 0;
        if (m2sOpen(&m2s, static_cast<unsigned>(rate), static_cast<unsigned>(kesta_cfg.m2s_mode)) != 0 ||
            !m2s) {
            m2s = nullptr;
            return length;
        }
        m2sEnable(m2s, lowByte(kesta_cfg.m2s_enabled));
        m2sEnableHipass(m2s, lowByte(kesta_cfg.subtone_enabled));
        m2s_rate = rate;
        m2s_flags = kesta_cfg.m2s_mode;
    }
    keepInputApart(*data);
    if (!growBuffer(2L * length)) return length;

    const int bytes = sampleBytes(format);
    if (bytes == 0) return length;
    // Only whole samples are processed; a stray trailing byte is dropped.
    const unsigned samples = static_cast<unsigned>(length / bytes);
    if (samples == 0) return length;
    const void* in = alignedInput(*data, static_cast<long>(samples) * bytes, bytes);
    if (!in) return length;
    if (bytes == 2)
        m2sProcess16(m2s, static_cast<const Data16*>(in), reinterpret_cast<short(*)[2]>(buffer), samples);
    else
        m2sProcess8(m2s, static_cast<const Data8*>(in), reinterpret_cast<unsigned char(*)[2]>(buffer),
                    samples);
    *data = buffer;
    return static_cast<gint>(samples * 2 * bytes);
}

gint stereoBlock(gpointer* data, gint length, int format, gint rate) {
    if (rate != vastor_rate) {
        if (vastor) vastorClose(vastor);
        vastor = nullptr;
        vastor_rate = 0;
        if (vastorOpen(&vastor, static_cast<unsigned>(rate), kVastorFlags) != 0 || !vastor) {
            vastor = nullptr;
            return length;
        }
        vastorEnable(vastor, lowByte(kesta_cfg.vastor_enabled));
        vastorSetSpread(vastor, kesta_cfg.spread_db);
        vastorEnableHipass(vastor, lowByte(kesta_cfg.subtone_enabled));
        vastor_rate = rate;
    }
    keepInputApart(*data);
    if (!growBuffer(length)) return length;

    const int bytes = sampleBytes(format);
    if (bytes == 0) return length;
    // Only whole frames are processed; a stray partial frame is dropped.
    const unsigned frames = static_cast<unsigned>(length / (2 * bytes));
    if (frames == 0) return length;
    const void* in = alignedInput(*data, static_cast<long>(frames) * 2 * bytes, bytes);
    if (!in) return length;
    if (bytes == 2)
        vastorProcess16(vastor, static_cast<const short(*)[2]>(in), reinterpret_cast<short(*)[2]>(buffer),
                        frames);
    else
        vastorProcess8(vastor, static_cast<const unsigned char(*)[2]>(in),
                       reinterpret_cast<unsigned char(*)[2]>(buffer), frames);
    *data = buffer;
    return static_cast<gint>(frames * 2 * bytes);
}

// Settings from a file may be anything: keep them inside what the window offers.
void sanitise(KestaConfig& cfg) {
    cfg.m2s_enabled = cfg.m2s_enabled != 0;
    cfg.m2s_mode = (cfg.m2s_mode & kMusicMode) ? kMusicMode : kVoiceMode;
    cfg.vastor_enabled = cfg.vastor_enabled != 0;
    cfg.subtone_enabled = cfg.subtone_enabled != 0;
    if (!std::isfinite(cfg.spread_db)) cfg.spread_db = kDefaults.spread_db;
    if (cfg.spread_db < kSpreadMinDb) cfg.spread_db = kSpreadMinDb;
    if (cfg.spread_db > kSpreadMaxDb) cfg.spread_db = kSpreadMaxDb;
}

}  // namespace

KestaConfig kesta_cfg = kDefaults;
std::mutex engine_mutex;
M2S* m2s = nullptr;
Vastor* vastor = nullptr;

EffectPlugin kesta_ep = {
    nullptr,                                     // handle
    nullptr,                                     // filename
    const_cast<char*>("Orvane Kesta for XMMS"),  // description
    kesta_init,
    nullptr,  // cleanup: the engines and the buffer live as long as the process
    nullptr,  // about
    kesta_configure,
    kesta_mod_samples,
    kesta_query_format,
};

extern "C" __attribute__((visibility("default"))) EffectPlugin* get_eplugin_info(void) {
    return &kesta_ep;
}

char* kesta_config_path() {
    const char* home = g_getenv("HOME");
    if (!home || !*home) home = g_get_home_dir();
    return g_strdup_printf("%s/.xmms/config", home);
}

void kesta_init(void) {
    KestaConfig cfg = kDefaults;
    char* path = kesta_config_path();
    if (ConfigFile* file = xmms_cfg_open_file(path)) {
        gboolean on;
        if (xmms_cfg_read_boolean(file, kSettingsSection, kMonoTo3DKey, &on)) cfg.m2s_enabled = on;
        xmms_cfg_read_int(file, kSettingsSection, kModeKey, &cfg.m2s_mode);
        if (xmms_cfg_read_boolean(file, kSettingsSection, kWideningKey, &on)) cfg.vastor_enabled = on;
        xmms_cfg_read_float(file, kSettingsSection, kSpreadKey, &cfg.spread_db);
        if (xmms_cfg_read_boolean(file, kSettingsSection, kSubtoneKey, &on)) cfg.subtone_enabled = on;
        xmms_cfg_free(file);
    }
    g_free(path);
    sanitise(cfg);
    std::lock_guard<std::mutex> lock(engine_mutex);
    const KestaConfig was = kesta_cfg;
    kesta_cfg = cfg;
    // Open engines hear what changed, as they would from the window; a new
    // mode re-creates the mono engine at its next block.
    if (m2s && cfg.m2s_enabled != was.m2s_enabled) m2sEnable(m2s, lowByte(cfg.m2s_enabled));
    if (m2s && cfg.subtone_enabled != was.subtone_enabled) m2sEnableHipass(m2s, lowByte(cfg.subtone_enabled));
    if (vastor && cfg.vastor_enabled != was.vastor_enabled) vastorEnable(vastor, lowByte(cfg.vastor_enabled));
    if (vastor && cfg.spread_db != was.spread_db) vastorSetSpread(vastor, cfg.spread_db);
    if (vastor && cfg.subtone_enabled != was.subtone_enabled)
        vastorEnableHipass(vastor, lowByte(cfg.subtone_enabled));
}

gint kesta_mod_samples(gpointer* data, gint length, AFormat format, gint rate, gint channels) {
    // Blocks no engine can handle soundly pass through untouched.
    if (!data || !*data || length <= 0 || rate <= 0) return length;
    std::lock_guard<std::mutex> lock(engine_mutex);
    switch (channels) {
        case 1:
            return monoBlock(data, length, formatCode(format), rate);
        case 2:
            return stereoBlock(data, length, formatCode(format), rate);
        default:
            return length;
    }
}

void kesta_query_format(AFormat* format, gint*, gint* channels) {
    if (!format || !channels) return;
    if (*channels == 1 && sampleBytes(formatCode(*format)) != 0) *channels = 2;
}

void kesta_set_m2s_enabled(bool on) {
    std::lock_guard<std::mutex> lock(engine_mutex);
    kesta_cfg.m2s_enabled = on;
    if (m2s) m2sEnable(m2s, lowByte(on));
}

void kesta_set_m2s_mode(int mode) {
    std::lock_guard<std::mutex> lock(engine_mutex);
    kesta_cfg.m2s_mode = mode == kMusicMode ? kMusicMode : kVoiceMode;
}

void kesta_set_vastor_enabled(bool on) {
    std::lock_guard<std::mutex> lock(engine_mutex);
    kesta_cfg.vastor_enabled = on;
    if (vastor) vastorEnable(vastor, lowByte(on));
}

void kesta_set_spread(float db) {
    std::lock_guard<std::mutex> lock(engine_mutex);
    kesta_cfg.spread_db = db;
    if (vastor) vastorSetSpread(vastor, db);
}

void kesta_set_subtone(bool on) {
    std::lock_guard<std::mutex> lock(engine_mutex);
    kesta_cfg.subtone_enabled = on;
    if (m2s) m2sEnableHipass(m2s, lowByte(on));
    if (vastor) vastorEnableHipass(vastor, lowByte(on));
}

void save_config() {
    KestaConfig cfg;
    {
        std::lock_guard<std::mutex> lock(engine_mutex);
        cfg = kesta_cfg;
    }
    char* path = kesta_config_path();
    gint error = 0;
    ConfigFile* file = xmms_cfg_open_file_full(path, &error);
    // Only a file that is not there yet may be started afresh: a file that is
    // there but cannot be read holds the player's other settings, so it is
    // left alone and ours stay in memory.
    if (!file && error == ENOENT) file = xmms_cfg_new();
    if (!file) {
        g_printerr(
            "Kesta: %s cannot be read (%s); the settings were not saved\n", path,
            error == EWOULDBLOCK ? "another program has kept it locked for seconds" : g_strerror(error));
        g_free(path);
        return;
    }
    xmms_cfg_write_boolean(file, kSettingsSection, kMonoTo3DKey, cfg.m2s_enabled);
    xmms_cfg_write_int(file, kSettingsSection, kModeKey, cfg.m2s_mode);
    xmms_cfg_write_boolean(file, kSettingsSection, kWideningKey, cfg.vastor_enabled);
    xmms_cfg_write_float(file, kSettingsSection, kSpreadKey, cfg.spread_db);
    xmms_cfg_write_boolean(file, kSettingsSection, kSubtoneKey, cfg.subtone_enabled);
    if (!xmms_cfg_write_file_full(file, path, &error))
        g_printerr("Kesta: %s cannot be written (%s); the settings were not saved\n", path,
                   g_strerror(error));
    xmms_cfg_free(file);
    g_free(path);
}
