#pragma once
// ChannelDialogModel: what the channel settings window (TForm2) holds and does, without widgets.
//
// The window shows one channel's settings. Load(k) copies them from the row (Tkanal) and its
// channel into `fields`, the texts the controls show. Some controls act on the channel at once
// (the detector switches, the recording mode, the delay sliders, plug-ins, the schedule and the
// control list); the rest wait in `fields` until the window is confirmed ("ВВОД") or closed. Then
// Apply() takes them over in a fixed order: compression, bits per sample, bit rate (not a number:
// a message, 16 kbit/s, and the apply goes on), quality, the MP3 parameters, K1 and K2, maximum
// time, pre-record, minimum time, the switches, the channel's keys in tevra4.ini, the delays,
// folder, compressor and coefficients, and last the prefix. Every other value that cannot be read
// shows its message and ends the apply: what came before stays in effect, what follows does not.
//
// The "ВВОД" button applies and closes the window, and the closing applies as well; Confirm() and
// Closing() make that one apply, so a message is shown once. Escape closes without applying the
// waiting fields (what acted at once stays). Messages are returned as values for the window to show.
//
// The MP3 encoder at 11025 Hz (MPEG-2.5 layer III) encodes at most 64 kbit/s and only the rates
// 8, 16, 24 ... 64; EffectiveMp3Bitrate() says what a chosen rate really gives, so the window can
// show it beside the choice.
//
// Threads: main thread only (the channel's setters take the channel's lock).
#include <array>
#include <filesystem>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "app/channel_row.h"
#include "config/settings.h"

namespace kestavo::app {

// The recording modes, as the radio group lists them.
inline constexpr int kRecordModes = 4;  // level, voice, ID, time
// The delay sliders: position x 0.1 s.
inline constexpr int kStartDelayMin = 2, kStartDelayMax = 30;  // 0.2 .. 3.0 s
inline constexpr int kStopDelayMin = 1, kStopDelayMax = 200;   // 0.1 .. 20.0 s
// What the bit-rate list offers (kbit/s; other text may be typed).
inline constexpr std::string_view kBitrateChoices[] = {"8",  "16", "32", "40",  "48", "56",
                                                       "64", "80", "96", "112", "128"};
// The quality list, in the order of the quality codes 1..4.
inline constexpr std::string_view kQualityChoices[] = {"NORMAL", "LOW QUALITY", "HIGH QUALITY", "VOICE QUALITY"};
inline constexpr std::string_view kBitsChoices[] = {"16", "8"};
// The cut dialog's first length, minutes.
inline constexpr std::string_view kDefaultCutMinutes = "30";

// The texts of the controls that wait for the confirmation, and the state of the switches.
struct ChannelDialogFields {
    std::string groupCaption;              // GroupBox1: text 101 + channel number
    std::string folder;                    // Edit1: the recording folder, or text 102 while the server is in use
    std::string prefix;                    // Edit8
    bool compressor = false;               // CheckBox1
    std::string k1, k2;                    // Edit2, Edit3: two decimals, the file's decimal separator
    bool agc = false;                      // CheckBox4
    bool pulse = false;                    // CheckBox2 (acts at once)
    bool callerId = false;                 // CheckBox5 (acts at once)
    bool dtmf = false;                     // CheckBox3 (acts at once)
    bool detectOnlyWhileRecording = true;  // CheckBox7 (acts at once)
    int recordMode = 0;                    // RadioGroup1: 0 level, 1 voice, 2 ID, 3 time (acts at once)
    bool combined = false;                 // Cmb
    int startDelayPosition = 10;           // TrackBar1: tenths of a second (acts at once on the row)
    int stopDelayPosition = 100;           // TrackBar2
    std::string startDelay;                // Edit4: the start delay, one decimal
    std::string stopDelay;                 // Edit5
    std::string preRecordSeconds;          // Edit9
    std::string maxMinutes;                // Edit6
    std::string minSeconds;                // Edit10
    std::string bitrate;                   // ComboBox1, kbit/s
    std::string quality;                   // ComboBox2: one of kQualityChoices
    bool uncompressed = false;             // CheckBox6: WAV files; shows GroupBox3
    std::string bits;                      // ComboBox3: bits per sample of WAV files
};

// The messages of the window, for the message boxes.
enum class DialogMessage {
    BitsError,       // bits per sample is not a number (ends the apply)
    BitrateError,    // bit rate is not a number (16 is taken; the apply goes on)
    K1Error,         // K1 is not a number in the file's format (ends the apply)
    K2Error,         //
    MaxTimeError,    // maximum minutes
    PreRecordError,  // pre-record seconds
    MinTimeError,    // minimum seconds
    WriteError,      // tevra4.ini could not be written (ends the apply)
    StartTimeError,  // a period's start cannot be read
    StopTimeError,   // a period's stop cannot be read
    StartAfterStop,  // a period's start is later than its stop
    PeriodError,     // the selected period's times cannot be read
    NotADigit,       // the cut length is not a whole number
    ZeroMinutes,     // the cut length is 0
};

struct DialogNote {
    DialogMessage kind;
    std::string text;  // as shown
    friend bool operator==(const DialogNote&, const DialogNote&) = default;
};

struct ApplyResult {
    std::vector<DialogNote> notes;  // in the order they were shown
    bool completed = false;         // every step ran (a bit rate message does not end the apply)
};

// Language texts `ascending` (in ascending order) of <folder>/<language>.txt; a number the table
// does not give is missing from the map.
[[nodiscard]] std::map<int, std::string> ReadLanguageTexts(const std::filesystem::path& programFolder,
                                                           std::string_view language, std::span<const int> ascending);

// What LAME encodes at 11025 Hz for a chosen bit rate (kbit/s): the writer keeps 8..128, and
// MPEG-2.5 layer III offers 8, 16, 24, 32, 40, 48, 56 and 64, the nearest of which (the lower on a
// tie) is taken.
[[nodiscard]] int EffectiveMp3Bitrate(int chosenKbps) noexcept;

class ChannelDialogModel {
public:
    // The caption texts the window asks for (text 101 and 102 are used by Load()).
    static constexpr std::array<int, 39> kCaptionTexts = {41, 42, 43, 44, 45, 46, 47,  48,  49,  50,  51,  52,  53,
                                                          54, 55, 56, 57, 58, 59, 60,  61,  62,  63,  64,  65,  66,
                                                          67, 68, 69, 70, 71, 72, 101, 102, 124, 125, 126, 127, 134};

    // `row` is channel k's row; the settings and files are the core's. All outlive the model.
    ChannelDialogModel(Tkanal& row, const config::GeneralSettings& general, const config::ConfigFiles& files);

    // Fills `fields` from the row and its channel, and the captions in the current language.
    void Load(int k);
    [[nodiscard]] int ChannelNumber() const noexcept { return k_; }

    ChannelDialogFields fields;

    // Captions: text n of the language in use, or empty (the window keeps its own).
    [[nodiscard]] std::string Caption(int n) const;
    // Reads the captions again (the language was switched).
    void LoadCaptions(std::string_view language);

    // The K1/K2 window changed the row's coefficients while the window is open: their fields
    // show the new values.
    void CoefficientsChanged();

    // Controls that act at once.
    void SetPulse(bool on);
    void SetCallerId(bool on);
    void SetDtmf(bool on);
    void SetDetectOnlyWhileRecording(bool on);
    void SetRecordMode(int mode);
    void SetUncompressed(bool on) noexcept { fields.uncompressed = on; }  // only the group's visibility
    // The row's delay becomes the position x 0.1 s (clamped to the slider's range); the text follows.
    void SetStartDelayPosition(int position);
    void SetStopDelayPosition(int position);
    // The folder picker is offered only while the server is not in use.
    [[nodiscard]] bool FolderChoosable() const noexcept { return !general_.ENABLED; }
    void ChooseFolder(const std::string& folder);

    // Plug-ins: the channel's (file names), and the catalogue of PLUGINS (name, description, version).
    [[nodiscard]] std::vector<std::string> ChannelPlugins() const;
    [[nodiscard]] std::vector<std::vector<std::string>> PluginCatalogue() const;
    void AddPlugin(const std::string& fileName);
    void RemovePlugin(const std::string& fileName);

    // The control list: its file, and the reload after the editor closed.
    [[nodiscard]] std::filesystem::path ControlListFile() const;
    void ControlListEdited();

    // The schedule, one (start, stop) row per period as the list shows it.
    [[nodiscard]] std::vector<std::pair<std::string, std::string>> Periods() const;
    // The period dialog's two fields (HH:MM). Returns the message when nothing was added.
    [[nodiscard]] std::optional<DialogNote> AddPeriod(std::string_view start, std::string_view stop);
    // The selected row's texts.
    [[nodiscard]] std::optional<DialogNote> RemovePeriod(std::string_view start, std::string_view stop);
    // The cut dialog's text (minutes).
    [[nodiscard]] std::optional<DialogNote> Cut(std::string_view minutes);

    // Takes over the waiting fields (see the header comment).
    [[nodiscard]] ApplyResult Apply();
    // "ВВОД": applies; the closing that follows does not apply again.
    [[nodiscard]] ApplyResult Confirm();
    // The window closes (close box, or after "ВВОД"): applies unless that already happened.
    [[nodiscard]] ApplyResult Closing();

    // The effective bit rate for the bit-rate text, or nullopt when it is not a number.
    [[nodiscard]] std::optional<int> EffectiveBitrate() const;

    [[nodiscard]] Tkanal& Row() noexcept { return row_; }

private:
    [[nodiscard]] DialogNote note_(DialogMessage kind, std::string_view detail = {}) const;
    [[nodiscard]] std::string delayText_(int position) const;
    void keep_(const config::ChannelSettings& s) { row_.KeepSettings(s); }

    Tkanal& row_;
    const config::GeneralSettings& general_;
    const config::ConfigFiles& files_;
    int k_ = 1;
    bool applied_ = false;                 // this closing's apply already ran
    std::map<int, std::string> captions_;  // language texts of the window
    bool russian_ = false;                 // messages in Russian
};

// The identifier-list editor (TCTL): channel k's CONTROL/k.ctl as lines.
struct ControlListText {
    // "Включение записи по ID для канала k" in Russian, "Start recording while ID detected k" in
    // English, else empty.
    [[nodiscard]] static std::string Caption(std::string_view language, int k);
    // The file's lines (a missing file gives none).
    [[nodiscard]] static std::vector<std::string> Read(const std::filesystem::path& file);
    // Writes the lines, one per line ending with a line feed; the folder is made when missing.
    [[nodiscard]] static std::error_code Write(const std::filesystem::path& file,
                                               const std::vector<std::string>& lines);
};

}  // namespace kestavo::app
