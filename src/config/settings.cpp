#include "config/settings.h"

#include "config/autostart.h"
#include "config/ini_file.h"
#include "config/text_file.h"
#include "platform/folders.h"
#include "platform/line_rate.h"
#include "platform/locale.h"

#include <algorithm>
#include <filesystem>

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
// Loading

GeneralLoad LoadGeneralSettings(const ConfigFiles& files, GeneralSettings& s) {
    GeneralLoad out;
    IniFile ini(files.file, files.decimalSeparator);
    s.RAZN_KART = ini.readBool("MAIN", "RAZN_KART", false);
    s.USER = ini.readString("SERVER", "USER", std::string(trimBlanks(s.ComputerName)));
    s.PORT = ini.readString("SERVER", "PORT", "");
    s.NAME = ini.readString("SERVER", "NAME", "");
    s.ENABLED = ini.readBool("SEVRER", "ENABLED", false);
    s.IN_ONE = ini.readBool("SEVRER", "IN_ONE", false);
    s.AUTO = ini.readBool("MAIN", "AUTO", true);
    s.Inv_Point = ini.readInteger("DirCh", "Inv_Point", 1888);
    s.MAX = ini.readInteger("Channels", "MAX", 0);
    if (s.MAX > kMaxChannels) s.MAX = kChannelsWhenTooMany;
    if (s.MAX < 0) s.MAX = 0;  // a negative count configures no channel
    s.LOADALL = ini.readBool("DEVICES", "LOADALL", true);
    if (s.LOADALL) {
        out.writeError = ini.writeBool("DEVICES", "LOADALL", true);
        if (!out.writeError) out.writeError = ini.flush();
    }

    for (int n = 1; n <= s.MAX; ++n) {
        const std::string section = channelKey("Channels", std::size_t(n));
        ChannelSetupLine line;
        line.device = ini.readString(section, channelKey("DEVICE", std::size_t(n)), "");
        line.mp3Bitrate = ini.readString(section, channelKey("MP3Bitrate", std::size_t(n)), "16");
        line.mp3Quality = ini.readString(section, channelKey("MP3Quality", std::size_t(n)), "4");
        line.mp3SampleRate = ini.readString(section, channelKey("MP3SampleRate", std::size_t(n)), lineRateText());
        line.compressMode = ini.readInteger(section, channelKey("CompressMode", std::size_t(n)), 1);
        out.lines.push_back(std::move(line));
    }
    out.autostartError = ApplyAutostart(files, s.AUTO);
    return out;
}

ChannelLoad LoadChannelSettings(const ConfigFiles& files, std::size_t channelCount, GeneralSettings& s,
                                const DiskCapacityQuery& capacity, bool createFolders) {
    ChannelLoad out;
    IniFile ini(files.file, files.decimalSeparator);
    s.Language = ini.readString("MAIN", "Language", "English");
    s.FreeSpace = ini.readInteger("Disk", "FreeSpace", 10);
    s.CHECKspace = ini.readBool("Disk", "CHECKspace", false);
    s.No_Name = ini.readBool("MAIN", "No_Name", true);
    s.Device = ini.readInteger("OUT", "Device", -1);
    s.HEIGHT = ini.readInteger("MAIN", "HEIGHT", s.HEIGHT);
    s.DIRS_D = ini.readBool("MAIN", "DIRS_D", true);

    for (std::size_t n = 1; n <= channelCount; ++n) {
        const std::string sec = channelKey("Channels", n);
        const auto key = [n](std::string_view name) { return channelKey(name, n); };
        ChannelSettings c;
        c.fileBits = ini.readInteger(sec, key("Filebits"), 16);
        c.mixerLine = ini.readInteger(sec, key("MixerLine"), 0);
        c.recordMode = ini.readInteger(sec, key("VOXmode"), 0);
        c.minTimeSeconds = ini.readInteger(sec, key("Min_Time"), 5);
        c.filePrefix = ini.readString(sec, key("PREFIX"), "");
        c.callerId = ini.readBool(sec, key("AON"), true);
        c.pulseDetector = ini.readBool(sec, key("Pulse"), true);
        c.recordDir = ini.readString(sec, key("WAW_PATH"), "");
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
        c.compressor = ini.readBool(sec, key("exp"), false);
        c.autoRecord = ini.readBool(sec, key("auto"), false);
        c.maxTimeMinutes = ini.readInteger(sec, key("Max_Time"), 15);
        c.preRecordSeconds = ini.readInteger(sec, key("Pred_Time"), 5);
        c.detectOnlyWhileRecording = ini.readBool(sec, key("PulseREC"), true);
        c.dtmf = ini.readBool(sec, key("DTMF"), false);
        c.agc = ini.readBool(sec, key("AGC"), false);
        c.pulseThreshold = ini.readReal(sec, key("PPOROG"), "0,008", 0.008);
        c.threshold = ini.readReal(sec, key("POROG"), "0", 0.0);
        c.k1 = ini.readReal(sec, key("K1_"), "1,8", 1.8);
        c.k2 = ini.readReal(sec, key("K2_"), "7", 7.6);
        c.startDelaySeconds = ini.readReal(sec, key("zad_rec"), "1", 1.0);
        c.stopDelaySeconds = ini.readReal(sec, key("zad_stop"), "15", 10.0);
        c.combined = ini.readBool(sec, key("ComboRec"), false);
        // Read at start-up into the setup lines; kept here too so that a save writes them back.
        c.device = ini.readString(sec, key("DEVICE"), "");
        c.compressMode = ini.readInteger(sec, key("CompressMode"), 1);
        c.mp3Bitrate = ini.readInteger(sec, key("MP3Bitrate"), 16);
        c.mp3Quality = ini.readInteger(sec, key("MP3Quality"), 4);
        c.mp3SampleRate = ini.readInteger(sec, key("MP3SampleRate"), kLineRate);
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
