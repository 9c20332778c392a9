// The Help menu's parts without a window: the manual found from the build tree in both languages,
// the first folder holding it winning, the files named when it is missing, and the about box's version.
#include "app/help.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "support/temp_dir.h"

using namespace kestavo;
namespace fs = std::filesystem;

TEST(Manual, FoundFromTheBuildTreeInTheFirstFolderHoldingItAndNamedWhereLookedForWhenMissing) {
    const fs::path docs = fs::weakly_canonical(fs::path(KESTAVO_SOURCE_DIR) / "docs" / "manual");
    for (const auto& [language, code] : {std::pair{"English", "en"}, {"Russian", "ru"}, {"Klingon", "en"}})
        EXPECT_EQ(fs::weakly_canonical(app::FindManual(language, app::ManualFolders()).file),
                  docs / code / "manual.md");

    test::TempDir dir{"kestavo-manual"};
    const fs::path installed = dir.path() / "share", source = dir.path() / "docs";
    for (const auto& f : {installed / "ru" / "manual.md", source / "ru" / "manual.md", source / "en" / "manual.md"}) {
        fs::create_directories(f.parent_path());
        std::ofstream(f) << "# manual\n";
    }
    EXPECT_EQ(app::FindManual("Russian", {installed, source}).file, installed / "ru" / "manual.md");
    EXPECT_EQ(app::FindManual("English", {installed, source}).file, source / "en" / "manual.md");
    EXPECT_EQ(app::ManualMissingText("English", app::FindManual("English", {installed})),
              "The manual was not found. Looked for:\n" + (installed / "en" / "manual.html").string() + "\n" +
                  (installed / "en" / "manual.md").string());
}

TEST(AboutBox, TitleCarriesTheVersionTheProjectDeclares) {
    std::stringstream cmake;
    cmake << std::ifstream(fs::path(KESTAVO_SOURCE_DIR) / "CMakeLists.txt").rdbuf();
    std::smatch m;
    const std::string text = cmake.str();
    ASSERT_TRUE(std::regex_search(text, m, std::regex(R"(project\(kestavo VERSION ([0-9.]+))")));
    for (const char* language : {"English", "Russian"})
        EXPECT_EQ(app::AboutBoxTexts(language).title, "Kestavo v." + m[1].str()) << language;
}
