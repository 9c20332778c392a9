#pragma once
// IniDocument and IniFile: the INI format of the configuration file, parsed in memory and on disk.
//
// The file is read and written the way the Windows private-profile functions do it, because the
// rest of the system relies on that behaviour:
//   - section and key names match without regard to case ("k2_1" finds "K2_1");
//   - a missing key gives the caller's default; values are cut at 1023 bytes (never inside a
//     UTF-8 character);
//   - booleans are "1"/"0" and read true for any integer other than 0; integers are decimal, or
//     hexadecimal after "0x"; an unreadable integer or boolean gives the default;
//   - real numbers use the locale's decimal separator (chosen explicitly by the caller); a real
//     value that cannot be read gives the key's fixed fallback, which may differ from its default;
//   - every write goes to the file at once, through a temporary file and a rename, keeping every
//     line it does not write; a failed write is reported as "Unable to write to <path>".
// Values with blanks at either end are written in double quotes, which the reader removes, so
// every text reads back exactly; line breaks inside a value cannot be stored and become blanks.
//
// Main thread; an IniFile is not thread-safe against another writer of the same file.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace kestavo::config {

// The parsed lines of an INI text. Lines that are neither section headers nor "key=value" (blank
// lines, comments, junk) are kept verbatim so that a rewrite loses nothing. Pure in-memory value.
class IniDocument {
public:
    [[nodiscard]] static IniDocument parse(std::string_view text);

    // The value of `key` in the first section named `section` (both without regard to ASCII case),
    // trimmed of blanks and of one pair of enclosing quotes; nullopt when absent. Not cut.
    [[nodiscard]] std::optional<std::string> get(std::string_view section, std::string_view key) const;

    // Sets the key, replacing its line in place, or appending it to the section (the section is
    // appended to the text when absent). CR and LF inside the value become blanks.
    void set(std::string_view section, std::string_view key, std::string_view value);

    // The whole text, lines ended by CR LF.
    [[nodiscard]] std::string render() const;

    // Names of the sections in order (duplicates included), for tools and fuzzing.
    [[nodiscard]] std::vector<std::string> sections() const;

private:
    enum class Kind { Other, Section, Key };
    struct Line {
        Kind kind = Kind::Other;
        std::string text;   // the line as it is written
        std::string name;   // section or key name, trimmed
        std::string value;  // key value, trimmed and unquoted
    };
    std::vector<Line> lines_;
};

// The text the user sees when a write fails: "Unable to write to " followed by the path.
[[nodiscard]] std::string unableToWriteText(const std::filesystem::path& file);

// One INI file on disk. Reads see the file as it is now (it is read again whenever it changed on
// disk since the last look); writes replace it at once. A file that exists but cannot be read gives
// the defaults, and every write to it fails with the read error rather than replace what it holds.
class IniFile {
public:
    // `decimalSeparator` is the separator of real numbers, ',' or '.'.
    IniFile(std::filesystem::path file, char decimalSeparator);

    [[nodiscard]] const std::filesystem::path& path() const noexcept { return file_; }

    // The value cut at 1023 bytes, or `defaultValue` when the key is missing.
    [[nodiscard]] std::string readString(std::string_view section, std::string_view key, std::string_view defaultValue);
    // The value cut at 1023 bytes, or nullopt when the key is missing: for readers that check the
    // text themselves and tell the user what they could not use.
    [[nodiscard]] std::optional<std::string> readValue(std::string_view section, std::string_view key);
    // Decimal or "0x" hexadecimal; `defaultValue` when missing or unreadable.
    [[nodiscard]] int readInteger(std::string_view section, std::string_view key, int defaultValue);
    // True for any integer other than 0; `defaultValue` when missing or unreadable.
    [[nodiscard]] bool readBool(std::string_view section, std::string_view key, bool defaultValue);
    // Reads the text (`defaultText` when missing) and converts it with the decimal separator;
    // `fallback` when that fails or the number is not finite.
    [[nodiscard]] double readReal(std::string_view section, std::string_view key, std::string_view defaultText,
                                  double fallback);

    // Each write reaches the file before it returns; on failure the file is as it was. A run of
    // writes (a whole save) ends with flush(), which waits until the file is on the disk.
    [[nodiscard]] std::error_code writeString(std::string_view section, std::string_view key, std::string_view value);
    [[nodiscard]] std::error_code writeInteger(std::string_view section, std::string_view key, int value);
    [[nodiscard]] std::error_code writeBool(std::string_view section, std::string_view key, bool value);
    // Shortest text that reads back to the same double, with the decimal separator.
    [[nodiscard]] std::error_code writeReal(std::string_view section, std::string_view key, double value);
    [[nodiscard]] std::error_code flush();

private:
    struct Stamp {
        bool exists = false;
        std::uintmax_t device = 0, inode = 0, size = 0;
        std::int64_t modifiedNs = 0;
        friend bool operator==(const Stamp&, const Stamp&) = default;
    };
    void refresh_();

    std::filesystem::path file_;
    char separator_;
    IniDocument document_;       // the file's contents as last read or written
    Stamp stamp_;                // what the file looked like then
    bool loaded_ = false;        // document_ has been read at least once
    bool unflushed_ = false;     // written since the last flush()
    std::error_code readError_;  // the file exists but could not be read
};

// Real numbers as the settings store them: `separator` is the only decimal separator accepted.
[[nodiscard]] std::optional<double> parseReal(std::string_view text, char separator) noexcept;
[[nodiscard]] std::string formatReal(double value, char separator);

}  // namespace kestavo::config
