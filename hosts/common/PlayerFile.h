// The effect's settings as the player's configuration file holds them: the
// section, its five keys and the values that the keys take, stated once. The
// player plug-in reads and writes the file through these names, and so do
// the hosts of the core that share it (PlayerSettings.h). Nothing here
// depends on the core or the engines.
#pragma once

// Section "Kesta" of "<home>/.xmms/config".
inline constexpr char kSettingsSection[] = "Kesta";
inline constexpr char kMonoTo3DKey[] = "m2s_enable";     // truth value: mono-to-3D processing on
inline constexpr char kModeKey[] = "m2s_flags";          // kMusicMode or kVoiceMode
inline constexpr char kWideningKey[] = "vastor_enable";  // truth value: stereo widening on
inline constexpr char kSpreadKey[] = "vastor_spread";    // float, dB, kSpreadMinDb .. kSpreadMaxDb
inline constexpr char kSubtoneKey[] = "subtone";         // truth value: high-pass stage of both engines on

// The mode key holds the mono-to-3D engine's open flags: M2S_MUSIC for Music,
// nothing for Voice.
inline constexpr int kMusicMode = 8;
inline constexpr int kVoiceMode = 0;
inline constexpr float kSpreadMinDb = -18.0f;
inline constexpr float kSpreadMaxDb = 0.0f;
