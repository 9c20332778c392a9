#pragma once
// RecordingBaseName: how a channel names a new recording, from the clock, the channel number,
// the prefix and the folder settings. The name has no extension: the writer adds ".wav" or
// ".mp3", and at the end of the recording the last detected text in parentheses.
//
//   normal:       <folder>/<prefix>DD_MM_YYYY hh_mm_ss_N
//   day folders:  <folder>/DD_MM_YYYY/[<prefix>_]hh_mm_ss_N   (the day folder is created; the
//                 recording folder itself is used when it cannot be)
//   with server:  <TEMP>/<prefix>DD_MM_YYYY hh_mm_ss_<computer>_N
//
// Any thread; touches the file system only to create a day folder.
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/clock.h"

namespace kestavo::capture {

struct RecordingNameParts {
    std::string recordDir;             // the channel's recording folder
    std::string prefix;                // the channel's file-name prefix
    int channelNumber = 1;             // 1-based
    bool toServer = false;             // the recording goes to the server through TEMP
    std::filesystem::path tempFolder;  // TEMP below the program folder
    std::string computerName;          // names server recordings
    bool dayFolders = false;           // one folder per day below the recording folder
};

[[nodiscard]] std::string RecordingBaseName(const RecordingNameParts& parts, const platform::LocalTime& time);

// Whether `path` is named the way a channel names its recordings: a ".wav" or ".mp3" file whose
// name ends in "DD_MM_YYYY hh_mm_ss_N" (any prefix before it, a computer name before N for server
// recordings), or — inside a folder named DD_MM_YYYY — in "hh_mm_ss_N"; either may be followed by
// a detected text in parentheses and by "_2" … "_9999" when the name was taken. Dates and times
// must be real ones (month 01..12, hour 00..23 …). Looks at the name only.
[[nodiscard]] bool IsRecordingName(const std::filesystem::path& path);

// The first `maxChars` characters (UTF-8 code points) of `text`.
[[nodiscard]] std::string Utf8Prefix(std::string_view text, std::size_t maxChars);

// The file-name part of a path written with either separator.
[[nodiscard]] std::string FileNamePart(const std::string& path);

}  // namespace kestavo::capture
