#pragma once
// AppCore: the application without a window. It owns what the main window owns — the channel row
// list, the capture threads' stop event, the "SYNC" lock, the settings, the set-up object and the
// timer's counters — and runs the start-up, the 50 ms timer's work and the shutdown. Everything a
// window would show is plain state here (rows, status panels, tray state, texts); the Qt window
// and the headless front end both poll it and forward the operator's actions to it, so neither
// holds logic of its own.
//
// Start-up: repairs incomplete WAV recordings in the recording folders, reads the configuration,
// builds the channels (TWWSK), applies each channel's settings and the command-line switch. A
// configuration that builds no channel is kept beside itself under a name that says so, replaced
// by its backup copy (or the defaults) and the start-up runs once more; one that does is mirrored
// into the backup. Values that could not be used are collected for the front ends (Notices());
// the shutdown's save writes the values used in their place, also for keys no save writes.
//
// tick(), once per 50 ms of the program's clock: every tick the levels; every 20th tick (1 s) the
// elapsed times, Max_Time and the schedules; every 80th tick (4 s) the disk panels, the
// free-space trigger and the CPU panel (sampled always, rewritten only while the window is shown).
//
// Lost devices, every tick: a capture thread that ended because its device vanished or stopped
// delivering is let go; each channel of that device finishes its recording once every block the
// device gave has been processed (cause DeviceLost), its state cell shows the fault, and the other
// channels go on. Every 2 s the core tries to open each lost device again by its product name
// (one quick attempt, never a wait); when it opens, a new capture thread feeds the same channels,
// and a recording the loss ended goes on in a new file. A listener hears each loss and return.
//
// The channels' reports (a recording started or stopped, a number detected) arrive through the
// main dispatcher as typed values and update the rows and the tray state; a listener hears each
// as an Activity. Texts are made of them only where they are shown.
//
// Threads: everything here runs on the main thread (the thread that drains the dispatcher).
#include <array>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/channel_row.h"
#include "app/demod_results.h"
#include "app/device_setup.h"
#include "app/recording_sidecar.h"
#include "config/settings.h"
#include "platform/clock.h"
#include "platform/cpu_load.h"
#include "platform/dispatcher.h"
#include "platform/event.h"
#include "platform/messages.h"
#include "platform/pending_work.h"
#include "platform/sound_input.h"
#include "platform/sound_output.h"
#include "platform/stream_socket.h"
#include "services/plugin_host.h"
#include "services/plugin_vetting.h"
#include "services/server_api.h"
#include "services/server_client.h"
#include "services/space_keeper.h"

namespace kestavo::app {

inline constexpr const char* kTrayRecording = "Kestavo software. Recording";
inline constexpr const char* kTrayWaiting = "Kestavo software. Waiting";
// The record button's and the state cell's texts when the language table gives none.
inline constexpr const char* kRecordText = " ЗАПИСЬ";
inline constexpr const char* kStopText = " СТОП";
inline constexpr int kRecordTextNumber = 26;  // language text: record button while idle, state cell while recording
inline constexpr int kStopTextNumber = 30;    // language text: record button while recording, state cell while idle

// Whether the main window is shown (levels drawn) or minimised to the tray.
enum class WindowMode { Shown, Minimised };

// The platform services the core runs on; all of them outlive the core.
struct CoreServices {
    platform::SoundInputSystem* input = nullptr;
    platform::SoundOutputSystem* output = nullptr;   // null: no monitoring outputs listed
    platform::Clock* clock = nullptr;                // the program's clock
    platform::MainDispatcher* dispatcher = nullptr;  // runs the channels' texts on the main thread
    platform::MessageSink* messages = nullptr;       // the operator's message boxes
    platform::PendingWork* pending = nullptr;        // fast-paced lines; may be null
    config::ConfigFiles files;
    std::string computerName;
    config::DiskCapacityQuery capacity;  // null: config::diskCapacity
    // Bytes free for the user on the disk of a folder; nullopt when unknown. Null: the real query.
    std::function<std::optional<double>(const std::filesystem::path&)> freeBytes;
    // The sink a capture thread calls for a channel (fast pace wraps it); null: the channel's PutData.
    std::function<capture::BlockSink(capture::Tchannel&, const platform::Event& stop)> makeSink;
    MonitorFactory makeMonitor;  // null: no monitoring playback
    // Starts the free-space keeper for "*.mp3" in `folder`, keeping `keepFreeBytes` free.
    std::function<void(const std::filesystem::path& folder, double keepFreeBytes)> startFreeSpaceKeeper;
    std::function<bool()> keeperRunning;  // null: never running
    // The recording server: its access library (empty: netlocate.so in the program folder), the
    // network the uploads use (null: TCP), the local server's lock (empty: the default place), how
    // long the start-up waits for a local server, and the upload's pauses (the queue file is
    // upload.queue in the program folder).
    std::filesystem::path serverLibrary;
    platform::Network* network = nullptr;
    std::filesystem::path serverLock;
    std::chrono::milliseconds localServerWait{30000};
    std::chrono::milliseconds uploadFirstPause{2000};
    std::chrono::milliseconds uploadGraceOnExit{5000};  // uploads still going at exit may finish meanwhile
    // The server password (the lock password); null: read from snd.ini in the program folder.
    std::function<std::string()> password;
    std::chrono::milliseconds captureRetryDelay = std::chrono::milliseconds(1500);
    // The program that tries plug-ins in a process of their own; empty: the one beside the program
    // (services::PluginVetting::DefaultProbe). A path that does not exist tries them in-process.
    std::filesystem::path pluginProbe;
    // The text of /proc/stat for the CPU panel; null: the real file.
    platform::CpuLoad::StatReader cpuStat;
};

// A plug-in's result as the main thread gets it.
struct PluginResult {
    platform::LocalTime time;
    services::PluginRecord record;
};

// What happened on a channel, for a log or the headless output: a channel's report, stamped with
// the program's clock. A recording still open at shutdown is reported as stopped with the cause
// Shutdown and its file as it stands.
struct Activity {
    platform::LocalTime time;
    capture::ChannelReport report;
};

// A sound device lost or back, for a log or the headless output.
struct DeviceEvent {
    enum class Kind { Lost, Back };
    Kind kind = Kind::Lost;
    platform::LocalTime time;
    std::string device;         // "<number> <product>"
    std::error_code reason;     // Lost: the system's reason
    std::vector<int> channels;  // the numbers of the channels it feeds
};

class AppCore {
public:
    static constexpr int kSecondTicks = 20;  // 1 s of 50 ms ticks
    static constexpr int kSlowTicks = 80;    // 4 s
    static constexpr int kReopenTicks = 40;  // 2 s between attempts to open a lost device again

    explicit AppCore(CoreServices services);
    ~AppCore();  // Shutdown()
    AppCore(const AppCore&) = delete;
    AppCore& operator=(const AppCore&) = delete;

    // The start-up. `arguments` are the program's arguments after its name; the first one may be
    // "-i13", "-start" or "-netstart".
    void Start(const std::vector<std::string>& arguments = {});
    // One 50 ms timer tick.
    void tick();
    // Saves the settings, stops captures, channels and monitor in order and frees the rows; every
    // open file is completed. Idempotent.
    void Shutdown();

    // A channel's report (main thread); `rowId` identifies the row.
    void OnChannelReport(int rowId, const capture::ChannelReport& report);
    void SetActivityListener(std::function<void(const Activity&)> listener) { listener_ = std::move(listener); }
    // Every plug-in result, on the main thread (the headless output); the results window takes
    // them while it is open.
    void SetPluginResultListener(std::function<void(const PluginResult&)> listener);

    // The plug-in catalogue: one line per plug-in that passed its trial (file, tab, description,
    // tab, version). Built at the end of start-up; each call looks at PLUGINS again.
    [[nodiscard]] std::vector<std::string> PluginCatalogue();
    // The demodulator results window's list: open takes the filter from the configuration, close
    // writes it back. Results reach the list only while it is open.
    void OpenDemods();
    void CloseDemods();
    [[nodiscard]] bool DemodsOpen() const noexcept { return demodsOpen_; }
    [[nodiscard]] DemodResults& Demods() noexcept { return demods_; }
    void SetDeviceListener(std::function<void(const DeviceEvent&)> listener) { deviceListener_ = std::move(listener); }

    // Operator actions (channel k is 1-based); each does nothing for an unknown channel.
    void RecordButton(int k);  // start when idle, stop while recording
    void SetAuto(int k, bool on);
    void SetThreshold(int k, double dB);
    // The mixer of the sound card channel k records from (the threshold window's lines): one
    // without lines for a channel whose device has no card or for an unknown channel; null with
    // `error` set when the card's mixer cannot be opened.
    [[nodiscard]] std::unique_ptr<platform::SoundMixer> OpenMixer(int k, std::error_code& error);
    void SelectMonitor(int k, bool on);  // one channel at most
    void SetLanguage(const std::string& language);
    // The channel assignment window. AddChannel raises the channel count (MAX) and builds a channel
    // for free side `sideName` at the end of the list, recording at once while the others go on;
    // the answer is its side number, or -1 when the side is unknown or in use or its device does
    // not open, and then the count is the number of rows again. RemoveChannel lowers the count
    // and removes the channel of `sideName` (later channels move up one number).
    int AddChannel(const std::string& sideName);
    void RemoveChannel(const std::string& sideName);
    void SetPrefix(int k, const std::string& prefix);  // file prefix of channel k, row and channel
    void ClearLoadAll() noexcept { settings_.LOADALL = false; }
    // The full save with Channels/MAX; a failed write is shown and the answer is false.
    bool SaveWithChannelCount();
    void SetWindowMode(WindowMode mode) noexcept { windowMode_ = mode; }
    // The monitoring output (-1 the system's default): a channel being monitored moves to it.
    // Kept, with the inversion pivot (Hz, 1..5000) and the main window's height (px), for the
    // shutdown's save.
    void SetMonitorOutput(int device);
    void SetInversionPivot(int hertz) noexcept;
    void SetWindowHeight(int pixels) noexcept;
    // The server switched on (a connect without search; false when it failed, and the server stays
    // off) or off; every channel follows at once.
    bool SetServerUse(bool on);
    // Connects (with a network search first when `search`); the server's use follows the result.
    bool ConnectServer(bool search);
    void DisconnectServer();
    [[nodiscard]] services::TCl& ServerClient() noexcept { return *client_; }
    // The general settings window: it changes the shared settings in place; the channels take the
    // values they read (day folders, one computer, name in the label) at ApplyGlobals(), and
    // RereadDiskSize() measures channel 1's disk again, rewrites status panel 0 with the total and
    // sets KeepFreeBytes = disk size x 0.01 x FreeSpace.
    [[nodiscard]] config::GeneralSettings& EditSettings() noexcept { return settings_; }
    void ApplyGlobals() { applyGlobals_(); }
    void RereadDiskSize();

    // State for the front ends.
    [[nodiscard]] bool Running() const noexcept { return running_; }
    [[nodiscard]] const RowList& Rows() const noexcept { return rows_; }
    [[nodiscard]] Tkanal* Row(int k) noexcept;
    [[nodiscard]] const config::GeneralSettings& Settings() const noexcept { return settings_; }
    // Where tevra4.ini and the program's folder are (the settings windows write there).
    [[nodiscard]] const config::ConfigFiles& Files() const noexcept { return services_.files; }
    [[nodiscard]] TWWSK* Setup() noexcept { return wsk_.get(); }
    [[nodiscard]] bool TrayRecording() const noexcept { return trayRecording_; }
    [[nodiscard]] const std::string& TrayTip() const noexcept { return trayTip_; }
    [[nodiscard]] const std::array<std::string, 5>& StatusPanels() const noexcept { return panels_; }
    [[nodiscard]] bool StartupGrace() const noexcept { return startupGrace_; }
    // Language text n (1..33) as applied, or empty when the table gave none.
    [[nodiscard]] std::string Text(int n) const;
    // Language text n, or `fallback` when the table gave none.
    [[nodiscard]] std::string TextOr(int n, const char* fallback) const;
    // The texts of a row's state cell and record button, in the language applied.
    [[nodiscard]] std::string StateText(const Tkanal& row) const;
    // The row's note on its file for a Fault or Stopped report: empty when the file is (again)
    // written as it should be.
    [[nodiscard]] std::string WriteFaultText(const capture::ChannelReport& report) const;
    [[nodiscard]] std::string RecordButtonText(const Tkanal& row) const;
    // Recordings repaired at start-up, and how many start-up passes ran (2 after a restore).
    [[nodiscard]] const std::vector<std::filesystem::path>& RepairedFiles() const noexcept { return repaired_; }
    [[nodiscard]] int StartupPasses() const noexcept { return passes_; }
    // Values of the configuration the start-up could not use as written, each once (see
    // config::SettingsProblem), and every text the operator should read that asks for no answer:
    // these values' messages and where a configuration that built no channel was kept. A front end
    // shows them after Start() without holding up the recording (the window in one box that
    // does not block, headless one line each on stderr).
    [[nodiscard]] const std::vector<config::SettingsProblem>& SettingsProblems() const noexcept { return problems_; }
    [[nodiscard]] const std::vector<std::string>& Notices() const noexcept { return notices_; }
    [[nodiscard]] double DiskSize() const noexcept { return diskSize_; }
    [[nodiscard]] std::mutex& SyncLock() noexcept { return sync_; }
    [[nodiscard]] platform::Clock& Clock() noexcept { return *services_.clock; }

private:
    class ChannelCall;
    struct HeldReport {
        int rowId;
        capture::ChannelReport report;
    };

    void pass_(const std::vector<std::string>& arguments);
    void teardown_();
    void applyCommandLine_(const std::vector<std::string>& arguments);
    void startServer_(const std::vector<std::string>& arguments);
    [[nodiscard]] capture::ChannelGlobals channelGlobals_() const;
    void applyGlobals_();
    void applyLanguage_();
    void repairRecordings_();
    std::unique_ptr<Tkanal> makeRow_(const RowPlan& plan);
    void secondWork_();
    void slowWork_();
    void watchDevices_();
    void emitDevice_(DeviceEvent::Kind kind, int device, const std::string& product, std::error_code reason);
    void updateTray_();
    void show_(const std::string& text);
    void notice_(const std::string& text);
    void noteProblems_(const std::vector<config::SettingsProblem>& problems);
    void writeBackUsedValues_();
    void emit_(const capture::ChannelReport& report);
    void onPluginResult_(const services::PluginRecord& record);
    void startKeeper_(const std::filesystem::path& folder);
    [[nodiscard]] std::string pluginRefusedText_(const capture::ChannelReport& report) const;
    void updateResultWanted_() noexcept { resultWanted_.store(demodsOpen_ || bool(pluginListener_)); }

    CoreServices services_;
    config::GeneralSettings settings_;
    RowList rows_;  // index = channel number - 1
    std::unique_ptr<TWWSK> wsk_;
    platform::Event stop_;              // shared stop event of the capture threads
    std::mutex sync_;                   // "SYNC": plug-in results, one channel at a time
    std::map<int, std::string> texts_;  // language texts 1..33 as applied
    std::array<std::string, 5> panels_{"Всего на диске:", "Свободно: ", "Каналов: ", "Сервер: ", "CPU: "};
    std::vector<std::filesystem::path> repaired_;
    std::vector<config::SettingsProblem> problems_;  // values replaced at start-up, each once
    std::vector<std::string> notices_;               // texts for the operator that ask for no answer
    std::function<void(const Activity&)> listener_;
    std::function<void(const PluginResult&)> pluginListener_;
    std::unique_ptr<services::PluginVetting> vetting_;
    std::unique_ptr<services::Tspace_shrink> keeper_;  // the free-space keeper's run, while one runs
    std::atomic<bool> keeperToldShort_{false};         // the keeper said once it cannot reach its target
    std::unique_ptr<services::Tcommon_plugin> catalogue_;
    DemodResults demods_;
    bool demodsOpen_ = false;
    std::atomic<bool> resultWanted_{false};  // read by the channel threads
    std::function<void(const DeviceEvent&)> deviceListener_;
    std::string trayTip_ = kTrayWaiting;
    bool trayRecording_ = false;
    bool running_ = false;  // channels built and the timer's work enabled
    bool shutDown_ = false;
    bool startupGrace_ = true;  // until the first one-second tick
    WindowMode windowMode_ = WindowMode::Shown;
    int slowTicks_ = 0;
    int secondTicks_ = 0;
    int reopenTicks_ = 0;
    int passes_ = 0;
    int nextRowId_ = 1;
    int channelCallDepth_ = 0;               // inside a channel operation on the main thread
    std::vector<HeldReport> heldReports_;    // reports that arrived meanwhile
    double diskSize_ = 0.0;                  // bytes of channel 1's disk
    std::unique_ptr<services::TCl> client_;  // the server client and its upload thread
    std::vector<std::string> ownFolders_;    // the rows' folders before a one-computer connect
    RecordingSidecars sidecars_;             // MAIN/SIDECAR; told by the channels what they upload
    // The CPU panel's sampling, from start-up to shutdown.
    std::unique_ptr<platform::CpuLoad> cpu_;
};

// Elapsed time as the recording-time cell shows it: H:mm:ss of the time of day (wraps at 24 h).
[[nodiscard]] std::string FormatElapsed(std::int64_t elapsedMs);
// The CPU panel: "CPU:" and the first processor's load in per cent without decimals ("CPU:7%"),
// or empty when no processor is reported.
[[nodiscard]] std::string CpuPanelText(const platform::CpuLoadReading& reading);

}  // namespace kestavo::app
