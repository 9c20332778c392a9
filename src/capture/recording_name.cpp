#include "capture/recording_name.h"

#include <cstdio>
#include <regex>

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

bool IsRecordingName(const fs::path& path) {
    const std::string ext = path.extension().string();
    if (ext != ".wav" && ext != ".mp3") return false;
    const std::string stem = path.stem().string();
    // Real dates and times only, written into the patterns so that a prefix holding digits and
    // underscores cannot shift the match onto a wrong field.
    static const std::string kDate = R"((?:0[1-9]|[12]\d|3[01])_(?:0[1-9]|1[0-2])_\d{4})";
    static const std::string kTime = R"((?:[01]\d|2[0-3])_[0-5]\d_[0-5]\d)";
    // What may follow the channel number: a detected text in parentheses, then a free-name number.
    static const std::string kTail = R"(_\d{1,3}(?:\(.*\))?(?:_\d{1,4})?$)";
    static const std::regex kDated("^.*" + kDate + " " + kTime + "(?:_.+)?" + kTail);
    static const std::regex kDayFolder("^" + kDate + "$");
    static const std::regex kInDayFolder("^(?:.*_)?" + kTime + kTail);
    if (std::regex_match(stem, kDated)) return true;
    return std::regex_match(path.parent_path().filename().string(), kDayFolder) && std::regex_match(stem, kInDayFolder);
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
