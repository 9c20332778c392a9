#pragma once
// readWholeFile, writeFileAtomically: small file helpers shared by the configuration readers and writers.
//
// Every file this subsystem writes is replaced whole: the new contents go to a temporary file in
// the same folder, which is then renamed over the old one. A reader therefore sees either the old
// or the new file, never a half-written one, whatever happens during the write. Lines are split
// at CR LF, LF or a lone CR, so files edited on any system read the same.
// All functions are plain and thread-safe; they touch only the files named.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace kestavo::config {

// The whole file as bytes. `missing` is set (and the result empty) when the file does not exist;
// any other failure is returned in `error`.
struct FileText {
    std::string bytes;
    bool missing = false;
    std::error_code error;
};
[[nodiscard]] FileText readWholeFile(const std::filesystem::path& file);

// Whether a write waits for the disk. A rename alone already makes every reader (and a program
// that dies mid-write) see the old or the new file whole; Flushed also survives a power loss.
// Writes made in quick succession use Deferred and end with one flushFile.
enum class Durability { Flushed, Deferred };

// Replaces `file` with `bytes` through a temporary file and a rename; a missing folder is created
// with its parents. On failure the old file is untouched and no temporary file is left behind.
[[nodiscard]] std::error_code writeFileAtomically(const std::filesystem::path& file, std::string_view bytes,
                                                  Durability durability = Durability::Flushed);

// Waits until `file` and its folder entry are on the disk.
[[nodiscard]] std::error_code flushFile(const std::filesystem::path& file);

// Copies `from` over `to` the same way (the old `to` stays until the copy is complete).
[[nodiscard]] std::error_code copyFileAtomically(const std::filesystem::path& from, const std::filesystem::path& to);

// The lines of a text, without their line ends; a final line end does not start an empty line.
// A UTF-8 byte-order mark at the very start is dropped.
[[nodiscard]] std::vector<std::string_view> splitLines(std::string_view text);

// The text with blanks and tabs removed from both ends.
[[nodiscard]] std::string_view trimBlanks(std::string_view text) noexcept;

// Decimal integer (optional sign, optional "0x"/"0X" hexadecimal) filling the whole text after
// trimming blanks; nullopt when unreadable or outside the int range.
[[nodiscard]] std::optional<int> parseInteger(std::string_view text) noexcept;

}  // namespace kestavo::config
