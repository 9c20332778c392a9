#pragma once
// AboutTexts, FindManual: what the Help menu shows — the about box's texts, and where the
// operator's manual of the window's language is.
//
// The manual ships as manual/<en|ru>/manual.md (an HTML copy, manual.html, is taken first when
// there is one). It is looked for, in this order, in $KESTAVO_SHARE/manual, in the installed
// share/kestavo/manual beside the program's bin folder, and in the source tree's docs/manual one
// to four folders above the program (a build folder: build/, build/<kind>/, their tests/). Nothing
// is copied; the desktop's viewer opens the file where it lies.
//
// Threads: any; nothing here keeps state.
#include <array>
#include <filesystem>
#include <string>
#include <vector>

namespace kestavo::app {

// The about box: window caption, the program's name and version, three lines about the program,
// the button.
struct AboutTexts {
    std::string caption;
    std::string title;  // "Kestavo v.<version>"
    std::array<std::string, 3> lines;
    std::string ok;
};
// In "Russian", else English.
[[nodiscard]] AboutTexts AboutBoxTexts(const std::string& language);

// The folders a manual folder (holding en/ and ru/) may be in, most particular first.
[[nodiscard]] std::vector<std::filesystem::path> ManualFolders();

struct ManualPlace {
    std::filesystem::path file;                   // the manual found; empty: none
    std::vector<std::filesystem::path> lookedAt;  // every file looked for, in order
};
// The manual of `language` ("Russian": ru, anything else: en) in the first of `folders` that has it.
[[nodiscard]] ManualPlace FindManual(const std::string& language, const std::vector<std::filesystem::path>& folders);

// The operator's message when the manual cannot be shown: with none found, the files looked for;
// with one found that no viewer opened, its path.
[[nodiscard]] std::string ManualMissingText(const std::string& language, const ManualPlace& place);

}  // namespace kestavo::app
