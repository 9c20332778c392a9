#pragma once
// GeneralSettingsModel: what the general settings window (TForm4) holds and does, without widgets.
//
// The window edits the program-wide settings of the core in memory; they reach tevra4.ini with
// the next save of the configuration (at shutdown, or by the channel settings window). The model
// copies them into `fields`, the states and texts the controls show, when it is made.
//
// Three switches act at once: the autostart switch sets AUTO and writes or removes the desktop
// autostart entry there and then, the load-all and free-space switches set LOADALL and
// CHECKspace. "Параметры сервера" asks the server access library (netlocate.so in the program
// folder, loaded for this one call) for a server name and port; "Local server" means recorder and
// server share this computer. "Изменить пароль" runs the three password questions.
//
// Everything else waits for the close (the "ВВОД" button or the close box), which runs once:
//   1. the free-space text must be a whole number not above 100 (negative numbers pass); if not,
//      a message and nothing of steps 2 to 5 is applied;
//   2. FreeSpace takes it; channel 1's disk is measured again, status panel 0 rewritten and
//      KeepFreeBytes set to disk size x 0.01 x FreeSpace;
//   3. day folders;
//   4. the server: ticked, the client connects and the server is in use only if it did (a failed
//      connect is a message); unticked while the server was in use, the client disconnects;
//   5. one computer, the computer name in the channel label, identical cards and the computer name
//      (USER); then the channels take the values they read.
// The server name and port fields show what the settings and the look-up hold; the close takes
// over what the operator typed into them before the server step (connecting anew when the
// address of a server in use changed).
//
// Messages come back as values (GeneralSettingsNote) in the core's language, for the window's
// message boxes and the tests.
//
// Threads: main thread only (the thread that runs the core).
#include <array>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/app_core.h"
#include "config/password.h"

namespace kestavo::app {

// The states and texts of the window's controls.
struct GeneralSettingsFields {
    bool serverEnabled = false;   // CheckBox1 "Использовать сервер"
    bool inOne = false;           // CheckBox2 (hidden): recorder, processing and server on one computer
    bool autostart = false;       // CheckBox3 (acts at once)
    bool loadAll = false;         // CheckBox4 (acts at once)
    bool checkSpace = false;      // CheckBox5 (acts at once)
    bool noName = false;          // CheckBox6: computer name in the channel number
    bool identicalCards = false;  // CheckBox7 (hidden)
    bool dayFolders = false;      // CheckBox8
    std::string serverName;       // Edit1
    std::string serverPort;       // Edit2
    std::string computerName;     // Edit3
    std::string freeSpace;        // Edit7: per cent of the disk to keep free, as typed
};

enum class GeneralSettingsMessage {
    FreeSpaceNotANumber,  // the free-space text is not a whole number (nothing applied)
    FreeSpaceAbove100,    // the free-space value is above 100 (nothing applied)
    ServerNotConnected,   // the server switch is on but the client did not connect
    AutostartNotChanged,  // the autostart entry could not be written or removed
    WrongPassword,        // the old password was not the stored one
    PasswordNotAccepted,  // the confirmation differed; the password stays
    PasswordNotSaved,     // snd.ini could not be written
};

struct GeneralSettingsNote {
    GeneralSettingsMessage kind;
    std::string text;  // as shown
    friend bool operator==(const GeneralSettingsNote&, const GeneralSettingsNote&) = default;
};

class GeneralSettingsModel {
public:
    // The language texts of the window's captions: 73 the window, 74..84 the controls, 123 day folders.
    static constexpr std::array<int, 13> kCaptionTexts = {73, 74, 75, 76, 77, 78, 79, 80, 81, 82, 83, 84, 123};

    // Fills `fields` from the core's settings and reads the captions. `core` outlives the model.
    explicit GeneralSettingsModel(AppCore& core);

    GeneralSettingsFields fields;

    // Caption text n in the core's language, or empty (the window keeps its own).
    [[nodiscard]] std::string Caption(int n) const;

    // The switches that act at once. A failed autostart entry is returned as a message.
    [[nodiscard]] std::optional<GeneralSettingsNote> SetAutostart(bool on);
    void SetLoadAll(bool on);
    void SetCheckSpace(bool on);

    // "Параметры сервера": false (and nothing changes) when the library is missing, cannot be
    // loaded or has no "init"; otherwise NAME, PORT and IN_ONE and their fields take its answer.
    bool LookUpServer();

    // "Изменить пароль": the three questions of config::ChangePassword on `dialog` (the password
    // window's logic); `ask` shows that window with the caption given, in the core's language, and
    // returns false when it was cancelled. Returns the message to show, if any.
    [[nodiscard]] std::optional<GeneralSettingsNote> ChangePassword(
        config::PasswordDialog& dialog, const std::function<bool(std::string_view caption)>& ask) const;

    // The close: runs the steps of the header comment once (later calls return nothing) and
    // returns the messages in the order they are shown.
    [[nodiscard]] std::vector<GeneralSettingsNote> Close();
    [[nodiscard]] bool Closed() const noexcept { return closed_; }

private:
    [[nodiscard]] GeneralSettingsNote note_(GeneralSettingsMessage kind, std::string_view detail = {}) const;

    AppCore& core_;
    std::map<int, std::string> captions_;  // language texts of the window
    bool russian_ = false;                 // messages in Russian
    bool closed_ = false;                  // the close has run
};

}  // namespace kestavo::app
