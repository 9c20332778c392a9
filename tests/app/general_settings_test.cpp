// The general settings window's logic over a started core: the close's free-space checks and the
// values it applies or leaves, the switches that act at once, the server switch and look-up with
// the logging server library, and the password change.
#include <gtest/gtest.h>

#include "app/general_settings.h"
#include "app_fixture.h"
#include "support/fake_server_library.h"

namespace kestavo::app::testing {
namespace {

namespace fs = std::filesystem;
using Message = GeneralSettingsMessage;

// One mono line and the logging server library; the disk measures `diskBytes` (a test changes it
// to see the close measure it again).
struct SettingsRig : CoreRig {
    test::FakeServerLibrary lib{files.programFolder};
    double diskBytes = 1e12;
    explicit SettingsRig(const std::string& language = "English") {
        input.devices = {device("Line", true, false)};
        writeIni(files.file,
                 {"[MAIN]", "Language=" + language, "DIRS_D=0", "No_Name=1", "AUTO=1", "[SERVER]", "USER=desk",
                  "NAME=archive", "[Disk]", "FreeSpace=10"});
        configure = [this](CoreServices& s) { s.capacity = [this](const fs::path&) { return diskBytes; }; };
        start();
    }
    // A window whose waiting values all differ from what the rig starts with.
    GeneralSettingsModel changedModel(const std::string& freeSpace) {
        GeneralSettingsModel m(*core);
        m.fields.freeSpace = freeSpace;
        m.fields.dayFolders = true;
        m.fields.noName = false;
        m.fields.inOne = true;
        m.fields.identicalCards = true;
        m.fields.computerName = "front-desk";
        m.fields.serverEnabled = true;
        return m;
    }
};

TEST(GeneralSettingsClose, AFreeSpaceThatIsNoWholeNumberOrAbove100AppliesNothingButTheAutostartIsGoneAlready) {
    const std::pair<const char*, Message> cases[] = {
        {"abc", Message::FreeSpaceNotANumber},         {"", Message::FreeSpaceNotANumber},
        {"12.5", Message::FreeSpaceNotANumber},        {"5%", Message::FreeSpaceNotANumber},
        {"99999999999", Message::FreeSpaceNotANumber}, {"101", Message::FreeSpaceAbove100}};
    for (const auto& [text, kind] : cases) {
        SettingsRig rig;
        ASSERT_TRUE(fs::exists(rig.files.autostartEntry));
        const config::GeneralSettings before = rig.core->Settings();
        const std::string panel0 = rig.core->StatusPanels()[0];
        auto model = rig.changedModel(text);
        EXPECT_EQ(model.SetAutostart(false), std::nullopt);
        EXPECT_FALSE(fs::exists(rig.files.autostartEntry)) << text;  // removed at once
        rig.diskBytes = 2e12;

        const auto notes = model.Close();
        ASSERT_EQ(notes.size(), 1u) << text;
        EXPECT_EQ(notes[0].kind, kind) << text;
        config::GeneralSettings expected = before;
        expected.AUTO = false;
        EXPECT_EQ(rig.core->Settings(), expected) << text;
        EXPECT_EQ(rig.core->StatusPanels()[0], panel0) << text;
        EXPECT_TRUE(rig.lib.calls("init_base").empty()) << text;  // no connect
        EXPECT_TRUE(model.Close().empty());                       // the close runs once
    }
    SettingsRig ru("Russian");
    EXPECT_EQ(ru.changedModel("x").Close()[0].text, "Ошибка в значении свободного места на диске");
}

TEST(GeneralSettingsClose, AnAcceptedPercentageAppliesEveryValueWithTheDiskMeasuredAgain) {
    // Free-space text, the percentage kept, and the bytes to keep free of a 2 TB disk.
    const std::tuple<const char*, int, double> cases[] = {
        {"100", 100, 2e12}, {"-5", -5, -1e11}, {" 7 ", 7, 1.4e11}, {"+3", 3, 6e10}, {"0", 0, 0.0}};
    for (const auto& [text, percent, keepFree] : cases) {
        SettingsRig rig;
        auto model = rig.changedModel(text);
        rig.diskBytes = 2e12;
        EXPECT_EQ(model.Close(), std::vector<GeneralSettingsNote>{}) << text;
        const auto& s = rig.core->Settings();
        EXPECT_EQ(s.FreeSpace, percent) << text;
        EXPECT_DOUBLE_EQ(s.KeepFreeBytes, keepFree) << text;
        EXPECT_EQ(rig.core->StatusPanels()[0], "Total space: 2000000000000") << text;
        EXPECT_EQ(std::tuple(s.DIRS_D, s.No_Name, s.IN_ONE, s.RAZN_KART, s.USER, s.AUTO),
                  std::tuple(true, false, true, true, std::string("front-desk"), true))
            << text;
        EXPECT_TRUE(s.ENABLED) << text;  // "archive" connected
    }
    // The channels take the day folders at once: the next recording goes into today's folder.
    SettingsRig rig("Russian");
    auto model = rig.changedModel("10");
    model.fields.serverEnabled = false;
    (void)model.Close();
    EXPECT_EQ(rig.core->StatusPanels()[0], "Всего на диске: 1000000000000");
    EXPECT_EQ(fs::path(rig.core->Row(1)->Channel()->MakeFileName()).parent_path().filename(), "05_12_2026");
}

TEST(GeneralSettingsClose, TheServerIsInUseOnlyWhenTheClientConnectedAndUntickingDisconnects) {
    SettingsRig rig;
    auto on = rig.changedModel("10");
    EXPECT_EQ(on.Close(), std::vector<GeneralSettingsNote>{});
    EXPECT_TRUE(rig.core->Settings().ENABLED);
    EXPECT_EQ(rig.lib.calls("init_base"), std::vector<std::string>{"init_base archive||desk|"});  // USER comes after

    GeneralSettingsModel moved(*rig.core);  // a typed address: the client leaves the old server first
    moved.fields.serverName = "vault";
    moved.fields.serverPort = "7000";
    EXPECT_EQ(moved.Close(), std::vector<GeneralSettingsNote>{});
    EXPECT_EQ(rig.lib.calls("close").size(), 1u);
    EXPECT_EQ(rig.lib.calls("init_base").back(), "init_base vault|7000|front-desk|");
    EXPECT_EQ(rig.core->Settings().NAME, "vault");

    GeneralSettingsModel off(*rig.core);
    off.fields.serverEnabled = false;
    (void)off.Close();
    EXPECT_FALSE(rig.core->Settings().ENABLED);
    EXPECT_EQ(rig.lib.calls("close").size(), 2u);

    fs::remove(rig.lib.file);  // a client that cannot start: a message, and the server stays off
    GeneralSettingsModel failing(*rig.core);
    failing.fields.serverEnabled = true;
    const auto notes = failing.Close();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].kind, Message::ServerNotConnected);
    EXPECT_FALSE(rig.core->Settings().ENABLED);
}

TEST(GeneralSettingsLookUp, TakesNameAndPortFromInitOnlyLocalServerMeansOneComputerAndNoLibraryChangesNothing) {
    SettingsRig rig;
    rig.core->EditSettings().IN_ONE = true;
    GeneralSettingsModel model(*rig.core);
    const auto& s = rig.core->Settings();
    using Held = std::tuple<std::string, std::string, bool>;
    for (const auto& [answer, held] : {std::pair<const char*, Held>{"rec@archive|5432", {"rec@archive", "5432", false}},
                                       {"Local server|ptSingleUser", {"Local server", "ptSingleUser", true}}}) {
        rig.lib.env.set("FAKE_NETLOCATE_INIT", answer);
        ASSERT_TRUE(model.LookUpServer());
        EXPECT_EQ(Held(s.NAME, s.PORT, s.IN_ONE), held);
        EXPECT_EQ(Held(model.fields.serverName, model.fields.serverPort, model.fields.inOne), held);
    }
    EXPECT_TRUE(rig.lib.calls("init_base").empty());  // a look-up does not connect
    fs::remove(rig.lib.file);
    rig.lib.env.set("FAKE_NETLOCATE_INIT", "elsewhere|1");
    EXPECT_FALSE(model.LookUpServer());
    EXPECT_EQ(Held(s.NAME, s.PORT, s.IN_ONE), Held("Local server", "ptSingleUser", true));
}

TEST(GeneralSettingsPassword, WrongOldPasswordAndMismatchedConfirmationKeepItARightChangeIsSaved) {
    // Language, the answers typed, the message shown, the questions asked, the password in snd.ini.
    const std::tuple<const char*, std::vector<std::string>, const char*, const char*, const char*> cases[] = {
        {"English", {"guess"}, "Wrong password", "Enter the old password|", "old"},
        {"English",
         {"old", "new", "nwe"},
         "Password not accepted",
         "Enter the old password|Enter the new password|Confirm the password|",
         "old"},
        {"Russian", {"old", "new", "new"}, "", "Введите старый пароль|Введите новый пароль|Подтвердите пароль|", "new"},
        {"Russian", {"old?"}, "Пароль неверен", "Введите старый пароль|", "old"}};
    for (const auto& [language, answers, message, questions, stored] : cases) {
        SettingsRig rig(language);
        config::PasswordStore store{rig.files.programFolder / "snd.ini", "old"};
        ASSERT_FALSE(config::SavePassword(store.file, store.current));
        config::PasswordDialog dialog(store);
        std::string asked;
        std::size_t next = 0;
        const auto note = GeneralSettingsModel(*rig.core).ChangePassword(dialog, [&](std::string_view caption) {
            asked += std::string(caption) + "|";
            dialog.Ok(answers.at(next++));
            return true;
        });
        EXPECT_EQ(note ? note->text : "", message) << questions;
        EXPECT_EQ(asked, questions);
        EXPECT_EQ(config::LoadPassword(store.file), stored) << questions;
    }
}

}  // namespace
}  // namespace kestavo::app::testing
