#pragma once
// ConfigFiles, GeneralSettings and ChannelSettings: where tevra4.ini lies, the settings it holds,
// and the loaders and savers that move them between the two.
//
// GeneralSettings holds the process-wide values, ChannelSettings one channel's values; members and
// comments name the key each comes from (section/key; a channel's keys carry its number, e.g.
// [Channels2] POROG2). The loaders fill them and the savers write them through IniFile (see
// config/ini_file.h for how values are read, written and quoted), without touching any channel
// object: the application core applies the values. A missing key gives the default written
// beside the member; an unreadable real number gives the fallback marked "unreadable", which for
// some keys differs from the default; any other value that cannot be used (not a number, or
// outside the range below) gives its default or the nearest allowed value and is returned as a
// SettingsProblem — nothing here prints or shows it. Every saver stops at the first write that fails and returns
// its error; the caller shows unableToWriteText(files.file). The two copies of the file are kept
// by config/backup.h, the autostart entry by config/autostart.h.
//
// All functions here run on the main thread; none is thread-safe against another writer of the
// same file.
#include "platform/line_rate.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace kestavo::platform {
struct Folders;
}

namespace kestavo::config {

// ---------------------------------------------------------------------------------------------
// Where the files are

struct ConfigFiles {
    std::filesystem::path file;            // tevra4.ini in the configuration folder (the working copy)
    std::filesystem::path backup;          // ConfigBackup: tevra4.ini in the program folder
    std::filesystem::path programFolder;   // the folder "beside the program" (SOUND/n defaults)
    std::filesystem::path autostartEntry;  // $XDG_CONFIG_HOME/autostart/Lodvimar.desktop; empty: none kept
    std::filesystem::path executable;      // the program's full path, for the autostart entry
    char decimalSeparator = '.';           // separator of real numbers in the file

    // The standard places, the running program and the locale's separator.
    [[nodiscard]] static ConfigFiles fromFolders(const platform::Folders& folders, std::filesystem::path executable,
                                                 char decimalSeparator);
    [[nodiscard]] static ConfigFiles fromEnvironment();
};

// ---------------------------------------------------------------------------------------------
// Settings

inline constexpr int kMaxChannels = 100;  // Channels/MAX above this is taken as 2
inline constexpr int kChannelsWhenTooMany = 2;

// The process-wide settings, one instance. Members are named after their keys (section/key).
struct GeneralSettings {
    std::string Language = "English";  // MAIN/Language: language table, "English" or "Russian"
    bool DIRS_D = true;                // MAIN/DIRS_D: one folder per day
    bool RAZN_KART = false;            // MAIN/RAZN_KART: several identical sound cards (shown only)
    bool AUTO = true;                  // MAIN/AUTO: start with the desktop session
    int HEIGHT = 336;                  // MAIN/HEIGHT: main window height, px; the default when the
                                       //   key is missing is the value held here before loading
    bool No_Name = true;               // MAIN/No_Name: computer name in the server's channel label
    bool SIDECAR = false;              // MAIN/SIDECAR: a JSON sidecar beside each recording (app/recording_sidecar.h)
    int MAX = 0;                       // Channels/MAX: number of channels configured, 0..100
    bool LOADALL = true;               // DEVICES/LOADALL: open every available sound input
    std::string NAME;                  // SERVER/NAME: server name or address, or "Local server"
    std::string PORT;                  // SERVER/PORT: second connection parameter of the server library
    std::string USER;                  // SERVER/USER: name this recorder registers under
    bool ENABLED = false;              // SEVRER/ENABLED: use the server
    bool IN_ONE = false;               // SEVRER/IN_ONE: recording, processing and server on one computer
    int FreeSpace = 10;                // Disk/FreeSpace: per cent of the disk to keep free
    bool CHECKspace = false;           // Disk/CHECKspace: watch the free space
    int Device = -1;                   // OUT/Device: monitoring output, -1 the system's default
    int Inv_Point = 1888;              // DirCh/Inv_Point: spectrum-inversion pivot, Hz

    // Not stored in the file:
    std::string ComputerName;    // host name trimmed of blanks; the default of USER
    double KeepFreeBytes = 0.0;  // capacity of channel 1's disk x 0.01 x FreeSpace, bytes

    friend bool operator==(const GeneralSettings&, const GeneralSettings&) = default;
};

// The computer part of channel labels: the first 15 characters of the name, trimmed again.
[[nodiscard]] std::string computerLabel(std::string_view computerName);

// One channel's device line for the start-up thread: the values of DEVICE, MP3Bitrate, MP3Quality,
// MP3SampleRate and CompressMode of that channel.
struct ChannelSetupLine {
    std::string device;                                     // DEVICE: capture device and side feeding the channel
    std::string mp3Bitrate = "16";                          // MP3Bitrate as written, kbit/s
    std::string mp3Quality = "4";                           // MP3Quality as written, 1..4
    std::string mp3SampleRate = std::to_string(kLineRate);  // MP3SampleRate as written, Hz
    int compressMode = 1;                                   // CompressMode: 1 MP3, 0 WAV

    // The five values joined by single tabs (a tab inside a value becomes a blank, so the line
    // always splits into exactly five fields).
    [[nodiscard]] std::string text() const;
    friend bool operator==(const ChannelSetupLine&, const ChannelSetupLine&) = default;
};

// Every per-channel key of one channel. Defaults are the values used when a key is missing.
struct ChannelSettings {
    std::string device;                    // DEVICE: capture device and side ("" = none)
    int mixerLine = 0;                     // MixerLine: mixer line of the channel's input
    int fileBits = 16;                     // Filebits: bits per sample of WAV files, 16 or 8
    int compressMode = 1;                  // CompressMode: 1 MP3 files, 0 uncompressed WAV
    int mp3Bitrate = 16;                   // MP3Bitrate: kbit/s
    int mp3Quality = 4;                    // MP3Quality: 1 NORMAL, 2 LOW, 3 HIGH, 4 VOICE QUALITY
    int mp3SampleRate = kLineRate;         // MP3SampleRate: Hz (the line rate)
    std::string recordDir;                 // WAW_PATH: recording folder (after loading never empty)
    std::string filePrefix;                // PREFIX: first part of every file name
    int recordMode = 0;                    // VOXmode: 0 level, 1 voice, 2 ID, 3 time
    bool autoRecord = false;               // auto: switched on for automatic recording
    double threshold = 0.0;                // POROG: level threshold, dB (unreadable: 0.0)
    double pulseThreshold = 0.008;         // PPOROG: pulse-dial detector threshold (unreadable: 0.008)
    double k1 = 1.8;                       // K1_: compressor coefficient K1 (unreadable: 1.8)
    double k2 = 7.0;                       // K2_: compressor coefficient K2 (unreadable: 7.6)
    double startDelaySeconds = 1.0;        // zad_rec: start delay, s (unreadable: 1.0)
    double stopDelaySeconds = 15.0;        // zad_stop: stop delay, s (unreadable: 10.0)
    int maxTimeMinutes = 15;               // Max_Time: longest recording, minutes; 0 = no limit
    int minTimeSeconds = 5;                // Min_Time: shorter recordings are deleted, seconds
    int preRecordSeconds = 5;              // Pred_Time: pre-record buffer, seconds
    bool compressor = false;               // exp: compressor on
    bool agc = false;                      // AGC: automatic gain control on
    bool callerId = true;                  // AON: caller-ID detector on
    bool pulseDetector = true;             // Pulse: pulse-dial detector on
    bool dtmf = false;                     // DTMF: DTMF detector on
    bool detectOnlyWhileRecording = true;  // PulseREC: detectors run only while recording
    bool combined = false;                 // ComboRec: combined triggering

    friend bool operator==(const ChannelSettings&, const ChannelSettings&) = default;
};

// Capacity in bytes of the file system holding a folder; nullopt when it cannot be measured.
using DiskCapacityQuery = std::function<std::optional<double>(const std::filesystem::path& folder)>;
// The real query (statvfs of the folder, or of its nearest existing parent).
[[nodiscard]] std::optional<double> diskCapacity(const std::filesystem::path& folder);

// ---------------------------------------------------------------------------------------------
// Values that could not be used

// SettingsProblem: one value of the file that the loader could not use as written. A text that is
// not a number gives the key's default (for real numbers its fallback); a number outside what the
// program can use gives the nearest allowed value. Either way the loader goes on with the value
// used, which the application writes back at its shutdown: the bad text stays in the file only
// until then, after the user has been told.
struct SettingsProblem {
    enum class Kind { NotANumber, OutOfRange };
    Kind kind = Kind::NotANumber;
    std::filesystem::path file;  // the file read
    std::string section;         // as the program names it, e.g. "Channels1"
    std::string key;             // as the program names it, e.g. "POROG1"
    std::string text;            // the text found in the file
    std::string allowed;         // what the key takes, e.g. "-60..0" (OutOfRange only)
    std::string used;            // the value used instead, as the file would hold it

    // One line for the user: <file> [<section>] <key>: "<text>" is not a number; using <used>
    // (or: is outside <allowed>; using <used>).
    [[nodiscard]] std::string message() const;
    friend bool operator==(const SettingsProblem&, const SettingsProblem&) = default;
};

// ---------------------------------------------------------------------------------------------
// Loading and saving

// The allowed values of the checked keys (the loaders replace anything else, see SettingsProblem).
inline constexpr double kLowestThresholdDb = -60.0;     // POROG: the level meter's floor, dB
inline constexpr double kHighestThresholdDb = 0.0;      // POROG: full scale, dB
inline constexpr double kLongestDelaySeconds = 3600.0;  // zad_rec, zad_stop
inline constexpr int kLongestMaxTimeMinutes = 1440;     // Max_Time: the elapsed time wraps at 24 h
inline constexpr int kLongestMinTimeSeconds = 3600;     // Min_Time
inline constexpr int kLongestPreRecordSeconds = 60;     // Pred_Time: what the channel keeps at most

struct GeneralLoad {
    std::vector<ChannelSetupLine> lines;    // one per configured channel, channels 1..MAX
    std::vector<SettingsProblem> problems;  // values replaced, in reading order
    std::error_code writeError;             // writing LOADALL back failed (see unableToWriteText)
    std::error_code autostartError;         // the autostart entry could not be written or removed
};

// Start-up, main thread. Reads MAIN/RAZN_KART, SERVER/USER (default settings.ComputerName),
// SERVER/PORT, SERVER/NAME, SEVRER/ENABLED, SEVRER/IN_ONE, MAIN/AUTO, DirCh/Inv_Point, Channels/MAX
// (above 100 becomes 2, below 0 becomes 0, both reported) and DEVICES/LOADALL (written back as "1" when true) into
// `settings`, builds one setup line per channel, then applies the autostart entry.
[[nodiscard]] GeneralLoad LoadGeneralSettings(const ConfigFiles& files, GeneralSettings& settings);

struct ChannelLoad {
    std::vector<ChannelSettings> channels;  // one per channel, in list order
    std::vector<SettingsProblem> problems;  // values replaced, in reading order
    std::error_code folderError;            // the first recording folder that could not be created
};

// After the channels exist, main thread. Reads MAIN/Language, Disk/FreeSpace, Disk/CHECKspace,
// MAIN/No_Name, OUT/Device, MAIN/HEIGHT (default: settings.HEIGHT as it is), MAIN/DIRS_D, then every
// key of channels 1..channelCount. An empty WAW_PATH becomes <program folder>/SOUND/<n>; each folder
// is created with its parents when `createFolders` is set (a failure is reported and the load goes
// on). Finally sets settings.KeepFreeBytes from channel 1's folder.
[[nodiscard]] ChannelLoad LoadChannelSettings(const ConfigFiles& files, std::size_t channelCount,
                                              GeneralSettings& settings, const DiskCapacityQuery& capacity,
                                              bool createFolders = true);

// Sets settings.KeepFreeBytes to the capacity of the disk of `channel1Folder` x 0.01 x FreeSpace (0 when the
// capacity cannot be measured, so the keeper never starts). Main thread.
void UpdateKeepFreeBytes(GeneralSettings& settings, const std::filesystem::path& channel1Folder,
                         const DiskCapacityQuery& capacity);

// A channel that has no settings yet (0-based index; the keys carry index + 1): writes MixerLine,
// Filebits, PulseREC, POROG, auto, DEVICE, PREFIX, WAW_PATH, exp, Pulse, zad_rec, zad_stop, Max_Time,
// PPOROG, AON, VOXmode, Min_Time, MP3Bitrate and MP3SampleRate with the new-channel values.
// Stops at the first failed write and returns its error.
[[nodiscard]] std::error_code WriteNewChannelDefaults(const ConfigFiles& files, std::size_t index);

// Shutdown (writeChannelCount false) and the channel assignment window (true). Writes the general
// keys, Channels/MAX = channels.size() when asked, every channel's keys (WAW_PATH only while the
// server is not in use; Pred_Time never), then OUT/Device, DirCh/Inv_Point and SEVRER/IN_ONE.
// Stops at the first failed write and returns its error.
[[nodiscard]] std::error_code SaveAllSettings(const ConfigFiles& files, const GeneralSettings& settings,
                                              const std::vector<ChannelSettings>& channels, bool writeChannelCount);

// The channel settings dialog's confirmation: DEVICES/LOADALL, Disk/FreeSpace, Disk/CHECKspace and
// channel index+1's WAW_PATH (only while the server is not in use), exp, AGC, Pulse, K1_, K2_,
// zad_rec, zad_stop, Max_Time, PREFIX, Pred_Time, AON, DTMF, Min_Time, VOXmode, PulseREC, ComboRec.
[[nodiscard]] std::error_code SaveChannelDialogSettings(const ConfigFiles& files, const GeneralSettings& settings,
                                                        std::size_t index, const ChannelSettings& channel);

// The demodulator results window's channel filter, Demods/VChannel ("ALL" when missing).
[[nodiscard]] std::string ReadDemodChannelFilter(const ConfigFiles& files);
[[nodiscard]] std::error_code WriteDemodChannelFilter(const ConfigFiles& files, std::string_view filter);

}  // namespace kestavo::config
