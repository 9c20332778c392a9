#include "capture/recording_name.h"

#include <cstdio>

namespace kestavo::capture {

namespace fs = std::filesystem;

namespace {
std::string twoDigits(int v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02d", v);
    return buf;
}
}  // namespace

std::string RecordingBaseName(const RecordingNameParts& parts, const platform::LocalTime& t) {
    const std::string n = std::to_string(parts.channelNumber);
    const std::string date = twoDigits(t.day) + "_" + twoDigits(t.month) + "_" + std::to_string(t.year);
    const std::string time = twoDigits(t.hour) + "_" + twoDigits(t.minute) + "_" + twoDigits(t.second);
    if (parts.toServer)
        return (parts.tempFolder / (parts.prefix + date + " " + time + "_" + parts.computerName + "_" + n)).string();
    if (parts.dayFolders) {
        fs::path folder = fs::path(parts.recordDir) / date;
        std::error_code ec;
        fs::create_directory(folder, ec);
        if (!fs::is_directory(folder, ec)) folder = parts.recordDir;
        return (folder / ((parts.prefix.empty() ? std::string() : parts.prefix + "_") + time + "_" + n)).string();
    }
    return (fs::path(parts.recordDir) / (parts.prefix + date + " " + time + "_" + n)).string();
}

std::string Utf8Prefix(std::string_view text, std::size_t maxChars) {
    std::size_t chars = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {  // a character starts here
            if (chars == maxChars) break;
            ++chars;
        }
        ++i;
    }
    return std::string(text.substr(0, i));
}

std::string FileNamePart(const std::string& path) {
    const auto slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace kestavo::capture
