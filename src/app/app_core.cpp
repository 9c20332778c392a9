#include "app/app_core.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "capture/recording_name.h"
#include "config/autostart.h"
#include "config/backup.h"
#include "config/ini_file.h"
#include "config/language_table.h"
#include "recording/wav_repair.h"

namespace kestavo::app {

namespace fs = std::filesystem;

namespace {

constexpr int kLanguageTexts = 33;
constexpr int kNoText = 9;  // the main window has no text 9

std::optional<double> realFreeBytes(const fs::path& folder) {
    std::error_code ec;
    fs::path p = folder;
    while (!p.empty() && !fs::exists(p, ec)) p = p.parent_path();
    const auto info = fs::space(p.empty() ? fs::path(".") : p, ec);
    if (ec) return std::nullopt;
    return double(info.available);
}

std::string noDecimals(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.0f", v);  // digits only: no separator depends on the locale
    return buf;
}

}  // namespace

std::string FormatElapsed(std::int64_t elapsedMs) {
    constexpr std::int64_t kDay = 24LL * 3600 * 1000;
    std::int64_t ms = elapsedMs % kDay;
    if (ms < 0) ms += kDay;
    const std::int64_t s = ms / 1000;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%d:%02d:%02d", int(s / 3600), int(s / 60 % 60), int(s % 60));
    return buf;
}

std::string CpuPanelText(const platform::CpuLoadReading& reading) {
    if (reading.processors == 0) return {};
    return "CPU:" + noDecimals(reading.firstProcessor * 100.0) + "%";
}

// A report posted while the main thread is inside a channel operation runs at once, with the
// channel's lock still held: it waits until the operation has returned.
class AppCore::ChannelCall {
public:
    explicit ChannelCall(AppCore& core) : core_(core) { ++core_.channelCallDepth_; }
    ~ChannelCall() {
        if (--core_.channelCallDepth_ > 0) return;
        auto queued = std::move(core_.heldReports_);
        core_.heldReports_.clear();
        for (auto& held : queued) core_.OnChannelReport(held.rowId, held.report);
    }
    ChannelCall(const ChannelCall&) = delete;
    ChannelCall& operator=(const ChannelCall&) = delete;

private:
    AppCore& core_;
};

AppCore::AppCore(CoreServices services) : services_(std::move(services)) {
    if (!services_.capacity) services_.capacity = config::diskCapacity;
    if (!services_.freeBytes) services_.freeBytes = realFreeBytes;
    vetting_ = std::make_unique<services::PluginVetting>(
        services_.pluginProbe.empty() ? services::PluginVetting::DefaultProbe() : services_.pluginProbe);
    services::UploadOptions upload;
    upload.network = services_.network;
    upload.queueFile = services_.files.programFolder / "upload.queue";
    upload.firstPause = services_.uploadFirstPause;
    const fs::path library = services_.serverLibrary.empty()
        ? services_.files.programFolder / services::kLibraryFileName
        : services_.serverLibrary;
    client_ = std::make_unique<services::TCl>(library, std::move(upload));
}

AppCore::~AppCore() {
    Shutdown();
    (void)client_->Uploads().WaitDelivered(services_.uploadGraceOnExit);  // the rest stays queued
    client_.reset();  // the upload thread last: every channel that could queue a file is gone
}

void AppCore::show_(const std::string& text) {
    if (services_.messages) services_.messages->show(text);
}

std::string AppCore::Text(int n) const {
    const auto it = texts_.find(n);
    return it == texts_.end() ? std::string() : it->second;
}

std::string AppCore::TextOr(int n, const char* fallback) const {
    const std::string t = Text(n);
    return t.empty() ? std::string(fallback) : t;
}

std::string AppCore::StateText(const Tkanal& row) const {
    if (row.deviceLost) return settings_.Language == "English" ? " NO DEVICE" : " НЕТ УСТРОЙСТВА";
    const std::string state =
        row.Recording() ? TextOr(kRecordTextNumber, kRecordText) : TextOr(kStopTextNumber, kStopText);
    return row.writeFault.empty() ? state : state + " — " + row.writeFault;
}

std::string AppCore::WriteFaultText(const capture::ChannelReport& report) const {
    const bool russian = settings_.Language == "Russian";
    const auto seconds = [](double s) { return std::to_string(std::lround(std::ceil(s))); };
    if (report.kind == capture::ChannelReport::Kind::Fault)
        return report.error == 0 ? std::string() : (russian ? "ошибка записи: " : "cannot write: ") + report.text;
    if (report.kind != capture::ChannelReport::Kind::Stopped) return {};
    if (report.outcome == capture::RecordOutcome::NoFile && report.lostSeconds > 0)
        return russian ? "файл не записан" : "file not written";
    if (report.lostSeconds > 0)
        return (russian ? "потеряно " : "lost ") + seconds(report.lostSeconds) + (russian ? " с" : " s");
    return {};
}

std::string AppCore::RecordButtonText(const Tkanal& row) const {
    return row.recordButton == RecordButtonAction::Stop ? TextOr(kStopTextNumber, kStopText)
                                                        : TextOr(kRecordTextNumber, kRecordText);
}

Tkanal* AppCore::Row(int k) noexcept {
    return k >= 1 && std::size_t(k) <= rows_.size() ? rows_[std::size_t(k - 1)].get() : nullptr;
}

// ---------------------------------------------------------------------------------------------
// Start-up

void AppCore::Start(const std::vector<std::string>& arguments) {
    shutDown_ = false;
    problems_.clear();
    notices_.clear();
    // No line may deliver before every channel of the pass is bound (fast-paced lines wait).
    if (services_.pending) services_.pending->add();
    repairRecordings_();
    pass_(arguments);
    if (rows_.empty()) {
        // Kept before the teardown's save writes to it, so the copy holds what the user wrote.
        const auto kept = config::KeepUnusableFile(services_.files, services_.clock->now());
        teardown_();
        const std::string file = services_.files.file.string();
        std::error_code backupError;
        const bool backup = fs::exists(services_.files.backup, backupError);
        if (kept.error) {
            notice_(file + " builds no channel and could not be kept (" + kept.error.message() +
                    "); it is left as it is");
        } else {
            if (!kept.path.empty())
                notice_(file + " builds no channel; it was kept as " + kept.path.string() + " and " +
                        (backup ? "replaced by the backup copy " + services_.files.backup.string()
                                : "the defaults are used"));
            if (auto ec = config::RestoreFromBackup(services_.files))
                show_(config::unableToWriteText(services_.files.file));
        }
        pass_(arguments);
    } else if (auto ec = config::MirrorToBackup(services_.files)) {
        show_(config::unableToWriteText(services_.files.backup));
    }
    applyLanguage_();
    running_ = true;
    // The plug-in catalogue, at the end of start-up: every plug-in is tried once here, and one
    // that fails its trial is named.
    catalogue_ = std::make_unique<services::Tcommon_plugin>(services_.files.programFolder, vetting_.get());
    (void)catalogue_->ListPlugins();
    for (const auto& line : catalogue_->Refused()) {
        const auto tab = line.find('\t');
        capture::ChannelReport refused;
        refused.kind = capture::ChannelReport::Kind::PluginRefused;
        refused.file = (services_.files.programFolder / "PLUGINS" / line.substr(0, tab)).string();
        refused.text = line.substr(tab + 1);
        show_(pluginRefusedText_(refused));
    }
    if (services_.pending) services_.pending->done();
}

std::string AppCore::pluginRefusedText_(const capture::ChannelReport& r) const {
    const bool russian = settings_.Language == "Russian";
    std::string where;
    if (r.channel > 0)
        where = (russian ? " не подключён к каналу " : " was not attached to channel ") + std::to_string(r.channel);
    else
        where = russian ? " не принят" : " was refused";
    return (russian ? "Плагин " : "Plug-in ") + r.file + where + ": " + r.text;
}

std::vector<std::string> AppCore::PluginCatalogue() {
    if (!catalogue_)
        catalogue_ = std::make_unique<services::Tcommon_plugin>(services_.files.programFolder, vetting_.get());
    return catalogue_->ListPlugins();
}

void AppCore::SetPluginResultListener(std::function<void(const PluginResult&)> listener) {
    pluginListener_ = std::move(listener);
    updateResultWanted_();
}

void AppCore::OpenDemods() {
    if (!demodsOpen_) demods_ = DemodResults{};  // a new window starts with an empty list
    demods_.SetFilterText(config::ReadDemodChannelFilter(services_.files));
    demodsOpen_ = true;
    updateResultWanted_();
}

void AppCore::CloseDemods() {
    if (!demodsOpen_) return;
    demodsOpen_ = false;
    updateResultWanted_();
    (void)config::WriteDemodChannelFilter(services_.files,
                                          demods_.FilterText());  // a failed write keeps the old filter
}

void AppCore::onPluginResult_(const services::PluginRecord& record) {
    const platform::LocalTime now = services_.clock->now();
    if (demodsOpen_) {
        char time[16];
        std::snprintf(time, sizeof time, "%02d:%02d:%02d", now.hour, now.minute, now.second);
        demods_.Add(record, time);
    }
    if (pluginListener_) pluginListener_(PluginResult{now, record});
}

void AppCore::repairRecordings_() {
    // The folders the channels will record into: SOUND below the program folder and every
    // WAW_PATH the file holds, for any channel number (with LOADALL the channels built can
    // outnumber Channels/MAX), read without creating anything. Day folders lie below them.
    std::vector<fs::path> folders{services_.files.programFolder / "SOUND"};
    config::IniFile ini(services_.files.file, services_.files.decimalSeparator);
    for (int n = 1; n <= config::kMaxChannels; ++n) {
        const std::string k = std::to_string(n);
        const std::string dir = ini.readString("Channels" + k, "WAW_PATH" + k, "");
        if (!dir.empty()) folders.emplace_back(dir);
    }
    repaired_ = recording::RepairWavFiles(folders, capture::IsRecordingName);
    for (const auto& f : repaired_) show_("Repaired recording: " + f.string());
}

void AppCore::notice_(const std::string& text) {
    if (std::find(notices_.begin(), notices_.end(), text) == notices_.end()) notices_.push_back(text);
}

void AppCore::noteProblems_(const std::vector<config::SettingsProblem>& problems) {
    for (const auto& p : problems) {
        if (std::find(problems_.begin(), problems_.end(), p) != problems_.end()) continue;  // read twice: told once
        problems_.push_back(p);
        notice_(p.message());
    }
}

void AppCore::pass_(const std::vector<std::string>& arguments) {
    ++passes_;
    startupGrace_ = true;
    std::error_code ec;
    fs::create_directories(services_.files.programFolder / "TEMP", ec);  // failure ignored
    stop_.reset();
    slowTicks_ = secondTicks_ = reopenTicks_ = 0;

    settings_ = config::GeneralSettings{};
    settings_.ComputerName = services_.computerName;
    const auto general = config::LoadGeneralSettings(services_.files, settings_);
    noteProblems_(general.problems);
    if (general.writeError) show_(config::unableToWriteText(services_.files.file));

    WskEnv env;
    env.input = services_.input;
    env.output = services_.output;
    env.stop = &stop_;
    env.rows = &rows_;
    env.makeRow = [this](const RowPlan& plan) { return makeRow_(plan); };
    if (services_.makeSink) env.makeSink = [this](capture::Tchannel& c) { return services_.makeSink(c, stop_); };
    env.showMessage = [this](const std::string& text) {
        // Capture threads report from their own thread: the message box belongs to the main thread.
        if (services_.dispatcher && !services_.dispatcher->onMainThread())
            services_.dispatcher->post([this, text] { show_(text); });
        else
            show_(text);
    };
    env.files = &services_.files;
    env.makeMonitor = services_.makeMonitor;
    env.retryDelay = services_.captureRetryDelay;
    wsk_ = std::make_unique<TWWSK>(std::move(env), general.lines, settings_.LOADALL);
    settings_.MAX = int(rows_.size());  // the channel count is the number of channels built

    const auto channels = config::LoadChannelSettings(services_.files, rows_.size(), settings_, services_.capacity);
    noteProblems_(channels.problems);
    if (channels.folderError) show_("Cannot create folder: " + channels.folderError.message());
    const capture::ChannelGlobals globals = channelGlobals_();
    for (std::size_t i = 0; i < rows_.size() && i < channels.channels.size(); ++i) {
        if (auto* c = rows_[i]->Channel()) c->SetGlobals(globals);
        rows_[i]->ApplySettings(channels.channels[i]);
    }
    diskSize_ = 0.0;
    if (!rows_.empty())
        if (auto size = services_.capacity(rows_.front()->Settings().recordDir)) diskSize_ = *size;
    panels_[0] = (settings_.Language == "Russian" ? "Всего на диске: " : "Total space: ") + noDecimals(diskSize_);
    applyCommandLine_(arguments);
    startServer_(arguments);
    cpu_ = std::make_unique<platform::CpuLoad>(services_.cpuStat);
    panels_[4] = CpuPanelText(cpu_->Sample());
}

void AppCore::RereadDiskSize() {
    diskSize_ = 0.0;
    if (!rows_.empty())
        if (auto size = services_.capacity(rows_.front()->Settings().recordDir)) diskSize_ = *size;
    panels_[0] = (settings_.Language == "Russian" ? "Всего на диске: " : "Total space: ") + noDecimals(diskSize_);
    settings_.KeepFreeBytes = diskSize_ * 0.01 * settings_.FreeSpace;
}

std::unique_ptr<Tkanal> AppCore::makeRow_(const RowPlan& plan) {
    const int id = nextRowId_++;
    capture::ChannelEnv env;
    env.clock = services_.clock;
    env.dispatcher = services_.dispatcher;
    env.pending = services_.pending;
    env.server = client_.get();  // forwards only while the server is in use
    env.upload = [this, client = client_.get()](const std::string& path) {
        sidecars_.HandedToUpload(path);  // its sidecar follows it once written
        client->Upload(path);
    };
    env.pluginLock = &sync_;
    env.pluginVetting = vetting_.get();
    // Called on the channel thread under "SYNC": a copy of the record goes to the main thread, and
    // only while someone there takes it.
    env.pluginLog = [this](const services::PluginRecord& record) {
        if (resultWanted_.load()) services_.dispatcher->post([this, record] { onPluginResult_(record); });
    };
    // The row is found by its id, not its number, so renumbering never misroutes a text.
    env.reportSink = [this, id](const capture::ChannelReport& report) { OnChannelReport(id, report); };
    auto row = std::make_unique<Tkanal>(plan, std::move(env), channelGlobals_());
    row->id = id;
    return row;
}

void AppCore::applyCommandLine_(const std::vector<std::string>& arguments) {
    if (arguments.empty()) return;
    const std::string& a = arguments.front();
    if (a != "-i13" && a != "-start" && a != "-netstart") return;
    if (a == "-netstart") {
        settings_.ENABLED = true;
        settings_.NAME = std::string(23, ' ');
        settings_.PORT = std::string(12, ' ');
    } else {
        settings_.ENABLED = a == "-start";
        settings_.NAME = "Local server";
        settings_.PORT = "ptSingleUser";
    }
    settings_.AUTO = true;
    if (config::ApplyAutostart(services_.files, true)) show_(config::unableToWriteText(services_.files.autostartEntry));
    std::error_code ec;
    fs::remove(services_.files.programFolder / "start.bat", ec);
}

void AppCore::applyLanguage_() {
    texts_.clear();
    config::Tlang table(services_.files.programFolder, settings_.Language);
    for (int n = 1; n <= kLanguageTexts; ++n) {
        if (n == kNoText) continue;  // asking for it would read past every later text
        std::string t = table.GetText(n);
        if (!t.empty()) texts_[n] = std::move(t);
    }
}

void AppCore::SetLanguage(const std::string& language) {
    settings_.Language = language;
    applyLanguage_();
    // Every record button offers to start again, even while its channel records.
    for (auto& row : rows_) row->recordButton = RecordButtonAction::Start;
}

// ---------------------------------------------------------------------------------------------
// The timer

void AppCore::tick() {
    if (!running_) return;
    if (++slowTicks_ >= kSlowTicks) {
        slowWork_();
        if (cpu_) {
            const auto load = cpu_->Sample();  // every 4 s, so a restored window shows the last 4 s
            if (windowMode_ == WindowMode::Shown) panels_[4] = CpuPanelText(load);
        }
        slowTicks_ = 0;
    }
    if (++secondTicks_ >= kSecondTicks) {
        startupGrace_ = false;
        secondWork_();
        secondTicks_ = 0;
    }
    watchDevices_();
    for (auto& row : rows_) {
        auto* c = row->Channel();
        if (!c) continue;
        row->level = c->LevelHistoryTick();
        if (windowMode_ == WindowMode::Shown) row->bar.Update(row->level);
    }
}

void AppCore::secondWork_() {
    ChannelCall guard(*this);
    const auto now = services_.clock->now();
    for (auto& row : rows_) {
        auto* c = row->Channel();
        if (!c) continue;
        try {
            const bool timeMode = c->Mode() == capture::RecordMode::Time;
            auto applySchedule = [&] {
                if (c->CheckSchedule(now) == 1) {
                    if (c->AutoRecord() && !row->deviceLost) c->StartIfIdle(capture::RecordCause::Schedule);
                } else {
                    c->StopRecord(capture::RecordCause::Schedule);  // nothing at all on an idle channel
                }
            };
            if (row->Recording()) {
                const std::int64_t elapsed = platform::toLocalMs(now) - platform::toLocalMs(row->RecordStart());
                row->durationText = FormatElapsed(elapsed);
                c->SetDurationText(row->durationText);
                if (!timeMode) {
                    const std::int64_t dayMs = ((elapsed % 86400000) + 86400000) % 86400000;
                    const int minutes = int(dayMs / 3600000) * 60 + int(dayMs / 60000 % 60);
                    const int max = row->MaxRecordMinutes();
                    if (max != 0 && max <= minutes) c->StopRecord(capture::RecordCause::MaxTime);
                } else {
                    applySchedule();
                }
            } else if (!timeMode) {
                row->durationText.clear();
            } else {
                applySchedule();
            }
        } catch (...) {
            // One row's failure must not stop the others; the next second tries again.
        }
    }
}

void AppCore::slowWork_() {
    if (rows_.empty()) return;
    const fs::path folder = rows_.front()->Settings().recordDir;
    const double free = services_.freeBytes(folder).value_or(-1.0);
    const double onePercent = diskSize_ * 0.01;
    if (std::fabs(onePercent) >= 1.0) {
        const bool russian = settings_.Language == "Russian";
        const bool english = settings_.Language == "English";
        if (russian || english) {
            panels_[0] = (russian ? "Всего на диске: " : "Total space: ") + noDecimals(free);
            panels_[1] = (russian ? "Свободно: " : "Free: ") + noDecimals(free / onePercent) + " %";
            panels_[2] = (russian ? "Каналов: " : "Channels: ") + std::to_string(rows_.size());
            panels_[3] = (russian ? "Сервер: " : "Server: ") +
                (settings_.ENABLED ? settings_.NAME : std::string(russian ? "Локально" : "Locally"));
        }
    }
    if (keeper_ && keeper_->Finished()) keeper_.reset();
    const bool keeperBusy = keeper_ || (services_.keeperRunning && services_.keeperRunning());
    if (free != -1.0 && free < settings_.KeepFreeBytes && settings_.CHECKspace && !keeperBusy) {
        try {
            if (services_.startFreeSpaceKeeper)
                services_.startFreeSpaceKeeper(folder, settings_.KeepFreeBytes);
            else
                startKeeper_(folder);
        } catch (...) {
            // The next check, 4 s later, tries again.
        }
    }
}

void AppCore::startKeeper_(const fs::path& folder) {
    services::SpaceKeeperParams params;
    for (const auto& row : rows_) params.channelFolders.push_back(row->Settings().recordDir);
    params.dayFolders = settings_.DIRS_D;
    params.keepFreeBytes = std::uint64_t(std::max(0.0, settings_.KeepFreeBytes));
    // Files the keeper must leave: those open for recording now, those waiting for upload, and any
    // written in the last two minutes (a recording that began after this list was taken).
    std::vector<fs::path> open;
    for (const auto& row : rows_)
        if (const auto* c = row->Channel(); c && !c->OpenFileName().empty()) open.emplace_back(c->OpenFileName());
    services::TCl* client = client_.get();
    services::SpaceKeeperEnv env;
    env.freeBytes = [freeBytes = services_.freeBytes, folder]() -> std::optional<std::uint64_t> {
        const auto f = freeBytes(folder);
        return f && *f >= 0 ? std::optional<std::uint64_t>(std::uint64_t(*f)) : std::nullopt;
    };
    env.inUse = [open = std::move(open), client](const fs::path& file) {
        if (std::find(open.begin(), open.end(), file) != open.end()) return true;
        std::error_code ec;
        const auto written = fs::last_write_time(file, ec);
        if (!ec && fs::file_time_type::clock::now() - written < std::chrono::minutes(2)) return true;
        if (client)
            for (const auto& job : client->Uploads().QueuedJobs())
                if (fs::path(job.path) == file) return true;
        return false;
    };
    env.message = [this](const std::string& text) {
        services_.dispatcher->post([this, text] { show_(text); });  // from the keeper's thread
    };
    env.toldShort = &keeperToldShort_;
    keeper_ = std::make_unique<services::Tspace_shrink>(std::move(params), std::move(env));
}

void AppCore::watchDevices_() {
    if (!wsk_) return;
    ChannelCall guard(*this);
    for (const auto& lost : wsk_->TakeLostCaptures()) {
        for (auto& row : rows_)
            if (row->DeviceId() == lost.device) row->deviceLost = row->lossPending = true;
        emitDevice_(DeviceEvent::Kind::Lost, lost.device, lost.product, lost.reason);
    }
    for (auto& row : rows_)
        if (row->lossPending && (!row->Channel() || row->Channel()->DeviceLost())) row->lossPending = false;
    if (++reopenTicks_ < kReopenTicks) return;
    reopenTicks_ = 0;
    for (const auto& lost : wsk_->LostDevices()) {
        // Not before each channel of the device has finished its recording with the device's last block.
        if (std::any_of(rows_.begin(), rows_.end(),
                        [&](const auto& r) { return r->DeviceId() == lost.device && r->lossPending; }))
            continue;
        if (!wsk_->Reopen(lost.device)) continue;
        for (auto& row : rows_) {
            if (row->DeviceId() != lost.device) continue;
            row->deviceLost = false;
            if (row->Channel()) row->Channel()->DeviceBack();
        }
        emitDevice_(DeviceEvent::Kind::Back, lost.device, lost.product, {});
    }
}

void AppCore::emitDevice_(DeviceEvent::Kind kind, int device, const std::string& product, std::error_code reason) {
    if (!deviceListener_) return;
    DeviceEvent e;
    e.kind = kind;
    e.time = services_.clock->now();
    e.device = std::to_string(device) + " " + product;
    e.reason = reason;
    for (const auto& row : rows_)
        if (row->DeviceId() == device) e.channels.push_back(row->Number());
    deviceListener_(e);
}

// ---------------------------------------------------------------------------------------------
// Channel texts and operator actions

void AppCore::OnChannelReport(int rowId, const capture::ChannelReport& report) {
    if (channelCallDepth_ > 0) {
        heldReports_.push_back(HeldReport{rowId, report});
        return;
    }
    const auto it = std::find_if(rows_.begin(), rows_.end(), [&](const auto& r) { return r->id == rowId; });
    if (it == rows_.end()) return;  // a report from a channel of an earlier pass
    Tkanal& row = **it;
    capture::ChannelReport stamped = report;
    stamped.channel = row.Number();
    switch (report.kind) {
        case capture::ChannelReport::Kind::Started:
            row.MarkRecording(services_.clock->now());
            row.currentFile = report.file;
            row.writeFault.clear();
            break;
        case capture::ChannelReport::Kind::Stopped:
            row.MarkIdle();
            row.writeFault = WriteFaultText(report);
            break;
        case capture::ChannelReport::Kind::Detected: row.detectionText = report.text; break;
        case capture::ChannelReport::Kind::Fault: row.writeFault = WriteFaultText(report); break;
        case capture::ChannelReport::Kind::PluginRefused: show_(pluginRefusedText_(stamped)); break;
    }
    emit_(stamped);
    updateTray_();
}

void AppCore::updateTray_() {
    trayRecording_ = std::any_of(rows_.begin(), rows_.end(), [](const auto& r) { return r->Recording(); });
    trayTip_ = trayRecording_ ? kTrayRecording : kTrayWaiting;
}

void AppCore::emit_(const capture::ChannelReport& report) {
    const platform::LocalTime now = services_.clock->now();
    // The sidecar is written before the end of its recording is told, so a listener finds it there.
    std::string label, prefix;
    if (report.kind == capture::ChannelReport::Kind::Started) {
        label = std::to_string(report.channel);
        if (settings_.No_Name) label = config::computerLabel(settings_.ComputerName) + " " + label;
        if (const Tkanal* row = Row(report.channel)) prefix = row->Settings().filePrefix;
    }
    if (const auto sidecar = sidecars_.Take(report, now, label, prefix, settings_.SIDECAR)) {
        if (sidecar->error)
            show_("Cannot write " + sidecar->path.string() + ": " + sidecar->error.message());
        else if (sidecar->upload)
            client_->Upload(sidecar->path.string());
    }
    if (listener_) listener_(Activity{now, report});
}

void AppCore::RecordButton(int k) {
    Tkanal* row = Row(k);
    if (!row || !row->Channel()) return;
    ChannelCall guard(*this);
    if (row->recordButton == RecordButtonAction::Stop) {
        row->Channel()->StopRecord(capture::RecordCause::Operator);
        row->recordButton = RecordButtonAction::Start;
    } else if (!row->deviceLost && row->Channel()->RecordNow()) {
        row->recordButton = RecordButtonAction::Stop;  // a start that failed leaves the button as it was
    }
}

void AppCore::SetAuto(int k, bool on) {
    if (Tkanal* row = Row(k)) row->SetAuto(on);
}

void AppCore::SetThreshold(int k, double dB) {
    if (Tkanal* row = Row(k); row && row->Channel()) row->SetThreshold(dB);
}

std::unique_ptr<platform::SoundMixer> AppCore::OpenMixer(int k, std::error_code& error) {
    const Tkanal* row = Row(k);
    if (row == nullptr || services_.input == nullptr) {
        error.clear();
        return std::make_unique<platform::MemoryMixer>();
    }
    return services_.input->openMixer(row->DeviceId(), error);
}

void AppCore::SelectMonitor(int k, bool on) {
    Tkanal* row = Row(k);
    if (!row || !wsk_) return;
    wsk_->SelectMonitorChannel(on ? row->Name() : std::string(), settings_.Device);
}

void AppCore::SetMonitorOutput(int device) {
    settings_.Device = device;
    if (!wsk_) return;
    for (const auto& row : rows_) {
        if (!row->Monitoring()) continue;
        const std::string name = row->Name();
        wsk_->SelectMonitorChannel("", device);  // the playback closes on the old output
        wsk_->SelectMonitorChannel(name, device);
        break;
    }
}

void AppCore::SetInversionPivot(int hertz) noexcept { settings_.Inv_Point = std::clamp(hertz, 1, 5000); }

void AppCore::SetWindowHeight(int pixels) noexcept {
    if (pixels > 0) settings_.HEIGHT = pixels;
}

// ---------------------------------------------------------------------------------------------
// Channel assignment

int AppCore::AddChannel(const std::string& sideName) {
    if (!wsk_ || !running_) return -1;
    ++settings_.MAX;
    const int side = wsk_->AddChannelForSide(sideName);
    if (side < 0) {
        settings_.MAX = int(rows_.size());  // no channel was built: the count gives the raise back
        return side;
    }
    // The new channel takes the values a new channel's keys are given (caller-ID and pulse
    // detectors off) and records into SOUND/<n>, like any channel whose folder is not set.
    Tkanal& row = *rows_.back();
    config::ChannelSettings fresh;
    fresh.callerId = fresh.pulseDetector = false;
    fresh.recordDir = (services_.files.programFolder / "SOUND" / std::to_string(row.Number())).string();
    std::error_code ec;
    fs::create_directories(fresh.recordDir, ec);  // failure ignored: the channel says so when it writes
    row.ApplySettings(fresh);
    return side;
}

void AppCore::RemoveChannel(const std::string& sideName) {
    if (!wsk_ || !running_) return;
    --settings_.MAX;
    wsk_->RemoveChannelForSide(sideName);
    settings_.MAX = int(rows_.size());  // a side without a channel removed none
}

void AppCore::SetPrefix(int k, const std::string& prefix) {
    Tkanal* row = Row(k);
    if (!row) return;
    config::ChannelSettings s = row->Settings();
    s.filePrefix = prefix;
    row->KeepSettings(s);
    if (auto* c = row->Channel()) c->SetPrefix(prefix);
}

bool AppCore::SaveWithChannelCount() {
    std::vector<config::ChannelSettings> channels;
    for (const auto& row : rows_) channels.push_back(row->Settings());
    if (config::SaveAllSettings(services_.files, settings_, channels, true)) {
        show_(config::unableToWriteText(services_.files.file));
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Shutdown

void AppCore::teardown_() {
    cpu_.reset();
    running_ = false;
    keeper_.reset();  // stops its run between two deletions
    std::vector<config::ChannelSettings> channels;
    for (const auto& row : rows_) channels.push_back(row->Settings());
    if (auto ec = config::SaveAllSettings(services_.files, settings_, channels, false))
        show_(config::unableToWriteText(services_.files.file));
    else
        writeBackUsedValues_();
    // Recordings still open are completed by their channels as they stop.
    if (wsk_) wsk_->Shutdown();
    for (auto& row : rows_)
        if (const auto* c = row->Channel(); c && row->Recording() && c->ShutdownReport()) {
            capture::ChannelReport closed = *c->ShutdownReport();
            closed.channel = row->Number();
            emit_(closed);
        } else if (row->Recording()) {
            capture::ChannelReport closed;
            closed.kind = capture::ChannelReport::Kind::Stopped;
            closed.channel = row->Number();
            closed.cause = capture::RecordCause::Shutdown;
            closed.outcome = row->currentFile.empty() ? capture::RecordOutcome::NoFile : capture::RecordOutcome::Kept;
            closed.file = row->currentFile;
            emit_(closed);
        }
    for (auto& row : rows_) row->SetClosing();
    rows_.clear();
    wsk_.reset();
    // The recordings completed just now are queued; the upload thread keeps running until the
    // core is destroyed, and whatever it has not delivered by then stays queued for the next run.
    if (client_->InUse()) client_->DisconnectServer();
    ownFolders_.clear();
    updateTray_();
}

void AppCore::writeBackUsedValues_() {
    // The full save writes most values as used; keys it never writes (Pred_Time, ...) would keep
    // their bad text and be reported at every start. A key whose text changed since is left alone.
    config::IniFile ini(services_.files.file, services_.files.decimalSeparator);
    for (const auto& p : problems_) {
        if (p.file != services_.files.file || ini.readValue(p.section, p.key) != p.text) continue;
        if (ini.writeString(p.section, p.key, p.used)) {
            show_(config::unableToWriteText(services_.files.file));
            return;
        }
    }
    if (ini.flush()) show_(config::unableToWriteText(services_.files.file));
}

void AppCore::Shutdown() {
    if (shutDown_) return;
    shutDown_ = true;
    if (passes_ == 0) return;  // never started
    teardown_();
}

}  // namespace kestavo::app
