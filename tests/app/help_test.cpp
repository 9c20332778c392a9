// The Help menu's parts without a window: the manual found from the build tree in both languages
// (and where it was looked for when it is not there), and the about box's version.
#include "app/help.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "support/temp_dir.h"

using namespace kestavo;
namespace fs = std::filesystem;

TEST(Manual, EachLanguageIsFoundFromTheBuildTreeAndEndsUpInTheSourcesDocs) {
    const fs::path docs = fs::weakly_canonical(fs::path(KESTAVO_SOURCE_DIR) / "docs" / "manual");
    for (const auto& [language, code] : {std::pair{"English", "en"}, {"Russian", "ru"}, {"Klingon", "en"}}) {
        const auto place = app::FindManual(language, app::ManualFolders());
        ASSERT_FALSE(place.file.empty()) << language;
        EXPECT_EQ(fs::weakly_canonical(place.file), docs / code / "manual.md") << language;
    }
}

TEST(Manual, TheFirstFolderHoldingItWinsAndAMissingOneNamesEveryFileLookedFor) {
    test::TempDir dir{"kestavo-manual"};
    const fs::path installed = dir.path() / "share" / "manual", source = dir.path() / "docs" / "manual";
    for (const auto& f : {installed / "ru" / "manual.md", source / "ru" / "manual.md", source / "en" / "manual.md"}) {
        fs::create_directories(f.parent_path());
        std::ofstream(f) << "# manual\n";
    }
    EXPECT_EQ(app::FindManual("Russian", {installed, source}).file, installed / "ru" / "manual.md");
    EXPECT_EQ(app::FindManual("English", {installed, source}).file, source / "en" / "manual.md");

    const auto missing = app::FindManual("English", {installed});
    EXPECT_TRUE(missing.file.empty());
    EXPECT_EQ(app::ManualMissingText("English", missing),
              "The manual was not found. Looked for:\n" + (installed / "en" / "manual.html").string() + "\n" +
                  (installed / "en" / "manual.md").string());
}

TEST(AboutBox, TitleCarriesTheVersionTheProjectDeclares) {
    std::ifstream in(fs::path(KESTAVO_SOURCE_DIR) / "CMakeLists.txt");
    std::stringstream text;
    text << in.rdbuf();
    std::smatch m;
    const std::string cmake = text.str();
    ASSERT_TRUE(std::regex_search(cmake, m, std::regex(R"(project\(kestavo VERSION ([0-9.]+))")));
    for (const char* language : {"English", "Russian"})
        EXPECT_EQ(app::AboutBoxTexts(language).title, "Kestavo v." + m[1].str()) << language;
    EXPECT_EQ(app::AboutBoxTexts("Russian").caption, "О программе");
}
