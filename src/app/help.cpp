#include "app/help.h"

#include <cstdlib>

#include "kestavo_version.h"
#include "platform/folders.h"

namespace kestavo::app {

namespace fs = std::filesystem;

AboutTexts AboutBoxTexts(const std::string& language) {
    AboutTexts t;
    t.title = std::string("Kestavo v.") + kVersion;
    t.ok = "OK";
    if (language == "Russian") {
        t.caption = "О программе";
        t.lines = {"Многоканальная запись телефонных и радиолиний", "по уровню, голосу, идентификатору или расписанию",
                   "© Разработчики Kestavo"};
    } else {
        t.caption = "About";
        t.lines = {"Multi-channel recorder for telephone and radio lines", "by level, voice, identifier or schedule",
                   "© The Kestavo developers"};
    }
    return t;
}

std::vector<fs::path> ManualFolders() {
    std::vector<fs::path> folders;
    if (const char* share = std::getenv("KESTAVO_SHARE"); share && *share)
        folders.push_back(fs::path(share) / "manual");
    const fs::path bin = platform::executablePath().parent_path();
    folders.push_back(bin / ".." / "share" / "kestavo" / "manual");
    // A build folder: the source tree's docs a few levels above the program (build/, build/release/,
    // and their tests/ folders).
    fs::path up = bin;
    for (int level = 0; level < 4 && up.has_parent_path() && up != up.parent_path(); ++level) {
        up = up.parent_path();
        folders.push_back(up / "docs" / "manual");
    }
    return folders;
}

ManualPlace FindManual(const std::string& language, const std::vector<fs::path>& folders) {
    ManualPlace place;
    const char* code = language == "Russian" ? "ru" : "en";
    for (const auto& folder : folders) {
        for (const char* name : {"manual.html", "manual.md"}) {
            const fs::path file = (folder / code / name).lexically_normal();
            place.lookedAt.push_back(file);
            std::error_code ec;
            if (fs::is_regular_file(file, ec)) {
                place.file = file;
                return place;
            }
        }
    }
    return place;
}

std::string ManualMissingText(const std::string& language, const ManualPlace& place) {
    const bool russian = language == "Russian";
    if (!place.file.empty())
        return (russian ? "Не удалось открыть руководство:\n" : "No viewer opened the manual:\n") + place.file.string();
    std::string text = russian ? "Руководство не найдено. Искали:" : "The manual was not found. Looked for:";
    for (const auto& f : place.lookedAt) text += "\n" + f.string();
    return text;
}

}  // namespace kestavo::app
