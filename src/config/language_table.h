#pragma once
// Tlang: one language table (English.txt or Russian.txt in the program folder), read forward only.
//
// Every window is built with its Russian captions and, when created, replaces them with the texts
// of the chosen table: it makes a Tlang, asks for its caption numbers in ascending order and
// applies each non-empty answer. The file holds one entry per line, "<number><TAB><text>" (the
// text is everything after the first tab, tabs included), in ascending order of number.
//
// GetText reads on from where the previous request stopped and never rewinds, so one window's
// captioning is one pass over the file. A request for a number that is missing, or that lies
// before the current position, reads to the end of the file; every later request of that window
// then answers empty and the built-in captions stay. Empty lines and lines whose first field is
// not a decimal number are skipped.
//
// One object per window, used on the main thread only.
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <system_error>

namespace kestavo::config {

// What a window shows when its table is missing.
inline constexpr std::string_view kNoLanguageFileText = "Нет файла с названиями";

class Tlang {
public:
    // Opens <programFolder>/<language>.txt. A missing file (or a language name that is not a plain
    // file name) leaves the object closed; the window then shows kNoLanguageFileText.
    Tlang(const std::filesystem::path& programFolder, std::string_view language);

    [[nodiscard]] bool isOpen() const noexcept { return open_; }

    // The text of `number`, or empty (closed object, number missing or already passed).
    [[nodiscard]] std::string GetText(int number);

private:
    std::ifstream reader_;  // positioned after the last line read
    bool open_ = false;     // the file was opened
};

// Copies English.txt and Russian.txt from `sourceFolder` (the installed share folder) into the
// program folder where they are missing; tables already there are left alone. Returns the first
// error; a table missing in the source is skipped.
[[nodiscard]] std::error_code InstallLanguageTables(const std::filesystem::path& sourceFolder,
                                                    const std::filesystem::path& programFolder);

}  // namespace kestavo::config
