#include "config/settings.h"

#include "config/autostart.h"
#include "config/ini_file.h"
#include "config/text_file.h"
#include "platform/folders.h"
#include "platform/line_rate.h"
#include "platform/locale.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <limits>

namespace kestavo::config {

namespace {

std::string channelKey(std::string_view key, std::size_t number) { return std::string(key) + std::to_string(number); }

// MP3SampleRate as the file holds it when nothing else was chosen: the line rate.
std::string lineRateText() { return std::to_string(kLineRate); }

}  // namespace

// ---------------------------------------------------------------------------------------------
// Places and settings

ConfigFiles ConfigFiles::fromFolders(const platform::Folders& folders, std::filesystem::path executable,
                                     char decimalSeparator) {
    ConfigFiles f;
    f.file = folders.config / "tevra4.ini";
    f.backup = folders.program / "tevra4.ini";
    f.programFolder = folders.program;
    f.autostartEntry = folders.autostart / "Lodvimar.desktop";
    f.executable = std::move(executable);
    f.decimalSeparator = decimalSeparator;
    return f;
}

ConfigFiles ConfigFiles::fromEnvironment() {
    return fromFolders(platform::Folders::fromEnvironment(), platform::executablePath(), platform::decimalSeparator());
}

std::string computerLabel(std::string_view computerName) {
    const std::string_view name = trimBlanks(computerName);
    std::size_t end = 0;
    for (int chars = 0; end < name.size() && chars < 15; ++chars) {
        ++end;
        while (end < name.size() && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) ++end;
    }
    return std::string(trimBlanks(name.substr(0, end)));
}

std::string ChannelSetupLine::text() const {
    std::string line;
    for (std::string field : {device, mp3Bitrate, mp3Quality, mp3SampleRate, std::to_string(compressMode)}) {
        std::ranges::replace(field, '\t', ' ');
        line += field;
        line += '\t';
    }
    line.pop_back();
    return line;
}

std::optional<double> diskCapacity(const std::filesystem::path& folder) {
    std::error_code ec;
    std::filesystem::path probe = folder.empty() ? std::filesystem::current_path(ec) : folder;
    while (!probe.empty() && !std::filesystem::exists(probe, ec)) {
        if (probe == probe.parent_path()) break;
        probe = probe.parent_path();
    }
    const auto info = std::filesystem::space(probe.empty() ? "." : probe, ec);
    if (ec || info.capacity == std::uintmax_t(-1)) return std::nullopt;
    return double(info.capacity);
}

void UpdateKeepFreeBytes(GeneralSettings& settings, const std::filesystem::path& channel1Folder,
                         const DiskCapacityQuery& capacity) {
    const std::optional<double> bytes = capacity ? capacity(channel1Folder) : diskCapacity(channel1Folder);
    settings.KeepFreeBytes = bytes ? *bytes * 0.01 * settings.FreeSpace : 0.0;
}

// ---------------------------------------------------------------------------------------------
// Values that could not be used

std::string SettingsProblem::message() const {
    std::string m = file.string() + " [" + section + "] " + key + ": \"" + text + "\" ";
    m += kind == Kind::NotANumber ? "is not a number" : "is outside " + allowed;
    return m + "; using " + used;
}

namespace {

// MP3 bit rates the settings offer, kbit/s.
constexpr std::array kMp3Bitrates{8, 16, 32, 40, 48, 56, 64, 80, 96, 112, 128};
// Input sample rates the MP3 encoder takes, Hz.
constexpr std::array kMp3SampleRates{8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
constexpr std::array kFileBits{8, 16};
constexpr std::array kCompressModes{0, 1};
constexpr int kAnyInt = std::numeric_limits<int>::max();

std::string range(double lo, double hi, char separator) {
    return formatReal(lo, separator) + ".." + formatReal(hi, separator);
}
std::string range(int lo, int hi) {
    if (hi == kAnyInt) return std::to_string(lo) + " or more";
    return std::to_string(lo) + ".." + std::to_string(hi);
}

// Reads keys through IniFile, checks each text and notes every value it had to replace. A key
// that is missing gives its default without a word, as it always did.
class CheckedReader {
public:
    CheckedReader(const ConfigFiles& files, std::vector<SettingsProblem>& problems)
        : ini_(files.file, files.decimalSeparator), file_(files.file), separator_(files.decimalSeparator),
          problems_(problems) {}

    IniFile& ini() noexcept { return ini_; }

    std::string text(std::string_view section, std::string_view key, std::string_view defaultValue) {
        return ini_.readString(section, key, defaultValue);
    }

    bool boolean(std::string_view section, std::string_view key, bool defaultValue) {
        const auto value = ini_.readValue(section, key);
        if (!value) return defaultValue;
        if (const auto parsed = parseInteger(*value)) return *parsed != 0;
        note_(SettingsProblem::Kind::NotANumber, section, key, *value, "", defaultValue ? "1" : "0");
        return defaultValue;
    }

    // The number a key's text holds; nothing when the key is missing or (noted) holds no number.
    std::optional<int> parsedInteger(std::string_view section, std::string_view key,
                                     const std::optional<std::string>& value, int defaultValue) {
        if (!value) return std::nullopt;
        const auto parsed = parseInteger(*value);
        if (!parsed) note_(SettingsProblem::Kind::NotANumber, section, key, *value, "", std::to_string(defaultValue));
        return parsed;
    }

    // An integer in lo..hi; outside it the nearest end.
    int integer(std::string_view section, std::string_view key, int defaultValue, int lo, int hi) {
        const auto value = ini_.readValue(section, key);
        const auto parsed = parsedInteger(section, key, value, defaultValue);
        if (!parsed) return defaultValue;
        const int used = std::clamp(*parsed, lo, hi);
        if (used != *parsed)
            note_(SettingsProblem::Kind::OutOfRange, section, key, *value, range(lo, hi), std::to_string(used));
        return used;
    }

    // One of `allowed` (ascending); any other number gives the nearest one (the lower on a tie).
    template <std::size_t N>
    int member(std::string_view section, std::string_view key, int defaultValue, const std::array<int, N>& allowed) {
        const auto value = ini_.readValue(section, key);
        const auto parsed = parsedInteger(section, key, value, defaultValue);
        if (!parsed) return defaultValue;
        int used = allowed.front();
        for (int a : allowed)
            if (std::abs(std::int64_t(a) - *parsed) < std::abs(std::int64_t(used) - *parsed)) used = a;
        if (used != *parsed) {
            std::string list = "one of";
            for (int a : allowed) list += (list.size() > 6 ? ", " : " ") + std::to_string(a);
            note_(SettingsProblem::Kind::OutOfRange, section, key, *value, list, std::to_string(used));
        }
        return used;
    }

    // A real number in lo..hi (the text `defaultText` when missing); a text that is not a number
    // gives `fallback`, a number outside the range the nearest end.
    double real(std::string_view section, std::string_view key, std::string_view defaultText, double fallback,
                double lo, double hi) {
        const auto value = ini_.readValue(section, key);
        // A missing key is never reported, even where its default text does not read with this
        // separator ("1,8" where the separator is '.') and gives the fallback.
        if (!value) return parseReal(defaultText, separator_).value_or(fallback);
        const std::string& text = *value;
        const auto parsed = parseReal(text, separator_);
        if (!parsed) {
            note_(SettingsProblem::Kind::NotANumber, section, key, text, "", formatReal(fallback, separator_));
            return fallback;
        }
        const double used = std::clamp(*parsed, lo, hi);
        if (used != *parsed)
            note_(SettingsProblem::Kind::OutOfRange, section, key, text, range(lo, hi, separator_),
                  formatReal(used, separator_));
        return used;
    }

    // Channels/MAX: a count above kMaxChannels is taken as kChannelsWhenTooMany, a negative one
    // as 0 (no channel).
    int channelCount() {
        const auto value = ini_.readValue("Channels", "MAX");
        if (!value) return 0;
        const auto parsed = parseInteger(*value);
        if (!parsed) {
            note_(SettingsProblem::Kind::NotANumber, "Channels", "MAX", *value, "", "0");
            return 0;
        }
        int used = *parsed;
        if (used > kMaxChannels) used = kChannelsWhenTooMany;
        if (used < 0) used = 0;
        if (used != *parsed)
            note_(SettingsProblem::Kind::OutOfRange, "Channels", "MAX", *value, range(0, kMaxChannels),
                  std::to_string(used));
        return used;
    }

private:
    void note_(SettingsProblem::Kind kind, std::string_view section, std::string_view key, std::string_view text,
               std::string allowed, std::string used) {
        problems_.push_back(SettingsProblem{kind, file_, std::string(section), std::string(key), std::string(text),
                                            std::move(allowed), std::move(used)});
    }

    IniFile ini_;
    std::filesystem::path file_;
    char separator_;
    std::vector<SettingsProblem>& problems_;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Loading

GeneralLoad LoadGeneralSettings(const ConfigFiles& files, GeneralSettings& s) {
    GeneralLoad out;
    CheckedReader r(files, out.problems);
    s.RAZN_KART = r.boolean("MAIN", "RAZN_KART", false);
    s.USER = r.text("SERVER", "USER", std::string(trimBlanks(s.ComputerName)));
    s.PORT = r.text("SERVER", "PORT", "");
    s.NAME = r.text("SERVER", "NAME", "");
    s.ENABLED = r.boolean("SEVRER", "ENABLED", false);
    s.IN_ONE = r.boolean("SEVRER", "IN_ONE", false);
    s.AUTO = r.boolean("MAIN", "AUTO", true);
    s.Inv_Point = r.integer("DirCh", "Inv_Point", 1888, 1, 5000);
    s.MAX = r.channelCount();
    s.LOADALL = r.boolean("DEVICES", "LOADALL", true);
    if (s.LOADALL) {
        out.writeError = r.ini().writeBool("DEVICES", "LOADALL", true);
        if (!out.writeError) out.writeError = r.ini().flush();
    }

    for (int n = 1; n <= s.MAX; ++n) {
        const std::string section = channelKey("Channels", std::size_t(n));
        const auto key = [n](std::string_view name) { return channelKey(name, std::size_t(n)); };
        ChannelSetupLine line;
        line.device = r.text(section, key("DEVICE"), "");
        line.mp3Bitrate = std::to_string(r.member(section, key("MP3Bitrate"), 16, kMp3Bitrates));
        line.mp3Quality = std::to_string(r.integer(section, key("MP3Quality"), 4, 1, 4));
        line.mp3SampleRate = std::to_string(r.member(section, key("MP3SampleRate"), kLineRate, kMp3SampleRates));
        line.compressMode = r.member(section, key("CompressMode"), 1, kCompressModes);
        out.lines.push_back(std::move(line));
    }
    out.autostartError = ApplyAutostart(files, s.AUTO);
    return out;
}

ChannelLoad LoadChannelSettings(const ConfigFiles& files, std::size_t channelCount, GeneralSettings& s,
                                const DiskCapacityQuery& capacity, bool createFolders) {
    ChannelLoad out;
    CheckedReader r(files, out.problems);
    s.Language = r.text("MAIN", "Language", "English");
    s.FreeSpace = r.integer("Disk", "FreeSpace", 10, 0, 100);
    s.CHECKspace = r.boolean("Disk", "CHECKspace", false);
    s.No_Name = r.boolean("MAIN", "No_Name", true);
    s.SIDECAR = r.boolean("MAIN", "SIDECAR", false);
    s.Device = r.integer("OUT", "Device", -1, -1, kAnyInt);
    s.HEIGHT = r.integer("MAIN", "HEIGHT", s.HEIGHT, 0, kAnyInt);
    s.DIRS_D = r.boolean("MAIN", "DIRS_D", true);

    for (std::size_t n = 1; n <= channelCount; ++n) {
        const std::string sec = channelKey("Channels", n);
        const auto key = [n](std::string_view name) { return channelKey(name, n); };
        ChannelSettings c;
        c.fileBits = r.member(sec, key("Filebits"), 16, kFileBits);
        c.mixerLine = r.integer(sec, key("MixerLine"), 0, 0, kAnyInt);
        c.recordMode = r.integer(sec, key("VOXmode"), 0, 0, 3);
        c.minTimeSeconds = r.integer(sec, key("Min_Time"), 5, 0, kLongestMinTimeSeconds);
        c.filePrefix = r.text(sec, key("PREFIX"), "");
        c.callerId = r.boolean(sec, key("AON"), true);
        c.pulseDetector = r.boolean(sec, key("Pulse"), true);
        c.recordDir = r.text(sec, key("WAW_PATH"), "");
        if (c.recordDir.empty()) {
            std::string base = files.programFolder.string();
            while (base.size() > 1 && base.back() == '/') base.pop_back();
            c.recordDir = base + "/SOUND/" + std::to_string(n);
        }
        if (createFolders) {
            std::error_code ec;
            std::filesystem::create_directories(c.recordDir, ec);
            if (ec && !out.folderError) out.folderError = ec;  // reported; the channel still loads
        }
        c.compressor = r.boolean(sec, key("exp"), false);
        c.autoRecord = r.boolean(sec, key("auto"), false);
        c.maxTimeMinutes = r.integer(sec, key("Max_Time"), 15, 0, kLongestMaxTimeMinutes);
        c.preRecordSeconds = r.integer(sec, key("Pred_Time"), 5, 0, kLongestPreRecordSeconds);
        c.detectOnlyWhileRecording = r.boolean(sec, key("PulseREC"), true);
        c.dtmf = r.boolean(sec, key("DTMF"), false);
        c.agc = r.boolean(sec, key("AGC"), false);
        // The pulse detector compares a level of full-scale samples: 0..1.
        c.pulseThreshold = r.real(sec, key("PPOROG"), "0,008", 0.008, 0.0, 1.0);
        c.threshold = r.real(sec, key("POROG"), "0", 0.0, kLowestThresholdDb, kHighestThresholdDb);
        // The compressor's curve K1 (1 - e^(-K2 x)); beyond 100 either one is a hard limiter already.
        c.k1 = r.real(sec, key("K1_"), "1,8", 1.8, 0.0, 100.0);
        c.k2 = r.real(sec, key("K2_"), "7", 7.6, 0.0, 100.0);
        c.startDelaySeconds = r.real(sec, key("zad_rec"), "1", 1.0, 0.0, kLongestDelaySeconds);
        c.stopDelaySeconds = r.real(sec, key("zad_stop"), "15", 10.0, 0.0, kLongestDelaySeconds);
        c.combined = r.boolean(sec, key("ComboRec"), false);
        // Read at start-up into the setup lines too; kept here so that a save writes them back. A
        // problem noted in both loads is the same value: whoever shows them shows it once.
        c.device = r.text(sec, key("DEVICE"), "");
        c.compressMode = r.member(sec, key("CompressMode"), 1, kCompressModes);
        c.mp3Bitrate = r.member(sec, key("MP3Bitrate"), 16, kMp3Bitrates);
        c.mp3Quality = r.integer(sec, key("MP3Quality"), 4, 1, 4);
        c.mp3SampleRate = r.member(sec, key("MP3SampleRate"), kLineRate, kMp3SampleRates);
        out.channels.push_back(std::move(c));
    }
    UpdateKeepFreeBytes(
        s, out.channels.empty() ? files.programFolder : std::filesystem::path(out.channels[0].recordDir), capacity);
    return out;
}

// ---------------------------------------------------------------------------------------------
// Saving

namespace {

// Writes keys one by one and remembers the first failure; later writes are skipped, so a save
// stops at the key that failed.
class KeyWriter {
public:
    explicit KeyWriter(const ConfigFiles& files) : ini_(files.file, files.decimalSeparator) {}
    void text(std::string_view section, std::string_view key, std::string_view value) {
        if (!error_) error_ = ini_.writeString(section, key, value);
    }
    void integer(std::string_view section, std::string_view key, int value) {
        if (!error_) error_ = ini_.writeInteger(section, key, value);
    }
    void boolean(std::string_view section, std::string_view key, bool value) {
        if (!error_) error_ = ini_.writeBool(section, key, value);
    }
    void real(std::string_view section, std::string_view key, double value) {
        if (!error_) error_ = ini_.writeReal(section, key, value);
    }
    // The first failed write, or else the outcome of waiting for the disk.
    [[nodiscard]] std::error_code finish() {
        const std::error_code flushed = ini_.flush();
        return error_ ? error_ : flushed;
    }

private:
    IniFile ini_;
    std::error_code error_;
};

}  // namespace

std::error_code WriteNewChannelDefaults(const ConfigFiles& files, std::size_t index) {
    KeyWriter w(files);
    const std::size_t n = index + 1;
    const std::string sec = channelKey("Channels", n);
    const auto key = [n](std::string_view name) { return channelKey(name, n); };
    w.integer(sec, key("MixerLine"), 0);
    w.integer(sec, key("Filebits"), 16);
    w.boolean(sec, key("PulseREC"), true);
    w.real(sec, key("POROG"), 0.0);
    w.boolean(sec, key("auto"), false);
    w.text(sec, key("DEVICE"), "");
    w.text(sec, key("PREFIX"), "");
    w.text(sec, key("WAW_PATH"), "");
    w.boolean(sec, key("exp"), false);
    w.boolean(sec, key("Pulse"), false);
    w.real(sec, key("zad_rec"), 1.0);
    w.real(sec, key("zad_stop"), 15.0);
    w.integer(sec, key("Max_Time"), 15);
    w.real(sec, key("PPOROG"), 0.008);
    w.boolean(sec, key("AON"), false);
    w.integer(sec, key("VOXmode"), 0);
    w.integer(sec, key("Min_Time"), 5);
    w.text(sec, key("MP3Bitrate"), "32");
    w.text(sec, key("MP3SampleRate"), lineRateText());
    return w.finish();
}

std::error_code SaveAllSettings(const ConfigFiles& files, const GeneralSettings& s,
                                const std::vector<ChannelSettings>& channels, bool writeChannelCount) {
    KeyWriter w(files);
    w.text("MAIN", "Language", s.Language);
    if (writeChannelCount) w.integer("Channels", "MAX", int(channels.size()));
    w.boolean("MAIN", "DIRS_D", s.DIRS_D);
    w.boolean("MAIN", "RAZN_KART", s.RAZN_KART);
    w.boolean("DEVICES", "LOADALL", s.LOADALL);
    w.text("SERVER", "PORT", s.PORT);
    w.text("SERVER", "NAME", s.NAME);
    w.text("SERVER", "USER", s.USER);
    w.boolean("SEVRER", "ENABLED", s.ENABLED);
    w.boolean("MAIN", "AUTO", s.AUTO);
    w.integer("MAIN", "HEIGHT", s.HEIGHT);
    w.integer("Disk", "FreeSpace", s.FreeSpace);
    w.boolean("Disk", "CHECKspace", s.CHECKspace);
    w.boolean("MAIN", "No_Name", s.No_Name);
    for (std::size_t i = 0; i < channels.size(); ++i) {
        const ChannelSettings& c = channels[i];
        const std::size_t n = i + 1;
        const std::string sec = channelKey("Channels", n);
        const auto key = [n](std::string_view name) { return channelKey(name, n); };
        w.integer(sec, key("MixerLine"), c.mixerLine);
        w.integer(sec, key("Filebits"), c.fileBits);
        w.boolean(sec, key("PulseREC"), c.detectOnlyWhileRecording);
        w.real(sec, key("POROG"), c.threshold);
        w.boolean(sec, key("auto"), c.autoRecord);
        w.text(sec, key("DEVICE"), c.device);
        w.text(sec, key("PREFIX"), c.filePrefix);
        // With the server the folder comes from the server library; the file keeps its own value.
        if (!s.ENABLED) w.text(sec, key("WAW_PATH"), c.recordDir);
        w.boolean(sec, key("AGC"), c.agc);
        w.boolean(sec, key("exp"), c.compressor);
        w.boolean(sec, key("Pulse"), c.pulseDetector);
        w.real(sec, key("K1_"), c.k1);
        w.real(sec, key("K2_"), c.k2);
        w.real(sec, key("zad_rec"), c.startDelaySeconds);
        w.real(sec, key("zad_stop"), c.stopDelaySeconds);
        w.integer(sec, key("Max_Time"), c.maxTimeMinutes);
        w.real(sec, key("PPOROG"), c.pulseThreshold);
        w.boolean(sec, key("AON"), c.callerId);
        w.boolean(sec, key("DTMF"), c.dtmf);
        w.integer(sec, key("VOXmode"), c.recordMode);
        w.integer(sec, key("Min_Time"), c.minTimeSeconds);
        w.integer(sec, key("MP3Bitrate"), c.mp3Bitrate);
        w.integer(sec, key("MP3Quality"), c.mp3Quality);
        w.integer(sec, key("MP3SampleRate"), c.mp3SampleRate);
        w.integer(sec, key("CompressMode"), c.compressMode);
        w.boolean(sec, key("ComboRec"), c.combined);
    }
    w.integer("OUT", "Device", s.Device);
    w.integer("DirCh", "Inv_Point", s.Inv_Point);
    w.boolean("SEVRER", "IN_ONE", s.IN_ONE);
    return w.finish();
}

std::error_code SaveChannelDialogSettings(const ConfigFiles& files, const GeneralSettings& s, std::size_t index,
                                          const ChannelSettings& c) {
    KeyWriter w(files);
    const std::size_t n = index + 1;
    const std::string sec = channelKey("Channels", n);
    const auto key = [n](std::string_view name) { return channelKey(name, n); };
    w.boolean("DEVICES", "LOADALL", s.LOADALL);
    w.integer("Disk", "FreeSpace", s.FreeSpace);
    w.boolean("Disk", "CHECKspace", s.CHECKspace);
    if (!s.ENABLED) w.text(sec, key("WAW_PATH"), c.recordDir);
    w.boolean(sec, key("exp"), c.compressor);
    w.boolean(sec, key("AGC"), c.agc);
    w.boolean(sec, key("Pulse"), c.pulseDetector);
    w.real(sec, key("K1_"), c.k1);
    w.real(sec, key("K2_"), c.k2);
    w.real(sec, key("zad_rec"), c.startDelaySeconds);
    w.real(sec, key("zad_stop"), c.stopDelaySeconds);
    w.integer(sec, key("Max_Time"), c.maxTimeMinutes);
    w.text(sec, key("PREFIX"), c.filePrefix);
    w.integer(sec, key("Pred_Time"), c.preRecordSeconds);
    w.boolean(sec, key("AON"), c.callerId);
    w.boolean(sec, key("DTMF"), c.dtmf);
    w.integer(sec, key("Min_Time"), c.minTimeSeconds);
    w.integer(sec, key("VOXmode"), c.recordMode);
    w.boolean(sec, key("PulseREC"), c.detectOnlyWhileRecording);
    w.boolean(sec, key("ComboRec"), c.combined);
    return w.finish();
}

std::string ReadDemodChannelFilter(const ConfigFiles& files) {
    IniFile ini(files.file, files.decimalSeparator);
    return ini.readString("Demods", "VChannel", "ALL");
}

std::error_code WriteDemodChannelFilter(const ConfigFiles& files, std::string_view filter) {
    IniFile ini(files.file, files.decimalSeparator);
    if (auto ec = ini.writeString("Demods", "VChannel", filter)) return ec;
    return ini.flush();
}

}  // namespace kestavo::config
