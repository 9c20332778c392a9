#pragma once
// Tchannel: one recording channel, with a thread of its own. The capture thread hands it one
// block of samples at a time (PutData); the channel thread runs every sample through the level
// meter, the trigger of the channel's recording mode (level, voice, plug-in identifier), the
// caller-ID, DTMF, plug-in and pulse detectors, the compressor and the gain control, writes the
// processed sample back, hands the block to an attached monitor and to its sound writer, and
// sleeps until the next block. It owns the recording state (idle or recording), builds file
// names, opens and closes recordings, deletes recordings shorter than the minimum time and
// reports starts, stops and detected numbers to the main thread and, when enabled, to the server.
//
// Hand-over. PutData copies the block into a BlockQueue of kQueueSlots preallocated slots and
// wakes the channel thread ("channel <n>" in `top -H`); the thread works on the oldest slot in
// place and frees it only when the block is done, so a block is never changed while in work and
// no wake-up is lost (the wake condition changes only under the queue's mutex). A block that
// finds the queue full is dropped and counted (Overflows()); the capture thread never waits for
// the channel.
//
// State. Everything else (recording flag, writer, settings, detectors) has one mutex, held by
// the channel thread for the whole of a block and by the main thread for each operation, so a
// start or stop from the operator and one from a trigger never interleave. The channel never
// waits for the main thread, and never calls out to it while holding the mutex: its reports
// (capture/channel_report.h) are collected under the mutex and posted to the main thread, in order,
// once it is released (on the main thread itself they then run at once, and may call the channel again).
//
// Threads: PutData from the capture thread; everything else from the main thread; the channel
// thread runs the processing. Observer callbacks run on the channel thread under the mutex.
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "capture/block_queue.h"
#include "capture/channel_report.h"
#include "capture/monitor_sink.h"
#include "config/id_control_list.h"
#include "config/schedule.h"
#include "dsp/caller_id_mf.h"
#include "dsp/dtmf_detector.h"
#include "dsp/gain_control.h"
#include "dsp/level_display_queue.h"
#include "dsp/level_meter.h"
#include "dsp/level_trigger.h"
#include "dsp/pulse_dial_detector.h"
#include "dsp/voice_detector.h"
#include "dsp/voice_stop_trigger.h"
#include "platform/clock.h"
#include "platform/dispatcher.h"
#include "platform/line_rate.h"
#include "platform/pending_work.h"
#include "recording/sound_writer.h"
#include "services/plugin_api.h"
#include "services/plugin_host.h"
#include "services/plugin_vetting.h"
#include "services/server_api.h"

namespace kestavo::capture {

enum class RecordMode { Level = 0, Voice = 1, Id = 2, Time = 3 };

// What the channel did, for tools and tests that follow a channel sample by sample.
struct ChannelEvent {
    enum class Kind { Start, Stop, Aon, Dtmf, Pulse, Plugin, Level };
    Kind kind;
    std::uint64_t sample;  // 0-based index of the sample being processed (counted over all blocks)
    std::string text;      // stop: the event text the stop adds to the file name; detections: the text
    double db = 0.0;       // level values: the level in dB
};

// Process-wide settings the channel reads (server use, day folders, names). Main thread sets them.
struct ChannelGlobals {
    std::filesystem::path programFolder;  // "beside the program"
    std::filesystem::path tempFolder;     // TEMP below the program folder: files awaiting upload
    std::string computerName;
    bool serverEnabled = false;  // SEVRER/ENABLED (only effective with a server)
    bool inOne = false;          // SEVRER/IN_ONE: recording, processing and server on one computer
    bool dayFolders = false;     // MAIN/DIRS_D
    bool noName = false;         // MAIN/No_Name: computer name in the channel label
};

// The services a channel uses; all of them outlive the channel.
struct ChannelEnv {
    platform::Clock* clock = nullptr;
    platform::MainDispatcher* dispatcher = nullptr;                // runs the report sink on the main thread
    ReportSink reportSink;                                         // starts, stops and detections, on the main thread
    platform::PendingWork* pending = nullptr;                      // counts blocks not yet processed (fast-paced lines)
    services::RecordServer* server = nullptr;                      // null: no server reporting
    std::function<void(const std::string& path)> upload;           // sends a finished file to the server
    std::mutex* pluginLock = nullptr;                              // "SYNC": serialises the logging of plug-in results
    std::function<void(const services::PluginRecord&)> pluginLog;  // called with the lock held
    std::function<void(const ChannelEvent&)> observer;
    bool observeLevels = false;                        // the observer also gets every level value
    bool writeFiles = true;                            // false: analysis only, no writer and no files
    const recording::FileOps* fileOps = nullptr;       // the writers' system calls; null: the real ones
    services::PluginVetting* pluginVetting = nullptr;  // tries plug-ins before they are attached; null: none
};

// Creation parameters.
struct ChannelParams {
    recording::FileFormat format = recording::FileFormat::Wav;
    int inputIndex = 0;     // side number of the input side
    int channelNumber = 1;  // 1-based
    int deviceId = 0;
    int sampleRate = kLineRate;
    int bits = 16;        // capture bits, 16 or 8
    int predSeconds = 7;  // initial pre-record seconds
    int samplesPerBlock = 16384;
    int mp3Bitrate = 32, mp3Quality = 4, mp3SampleRate = kLineRate;
    double threshold = 0.0;  // dB
};

class Tchannel {
public:
    static constexpr int kQueueSlots = 4;              // about 6 s of sound may wait for the channel
    static constexpr int kHistory = 300;               // level graph points
    static constexpr int kMaxPredSeconds = 60;         // the longest pre-record a setting can ask for
    static constexpr std::size_t kEventTextKept = 20;  // characters of the event text a stop keeps

    Tchannel(const ChannelParams& params, ChannelEnv env, ChannelGlobals globals);
    // Stops and joins the thread; the writer completes any open file.
    ~Tchannel();
    Tchannel(const Tchannel&) = delete;
    Tchannel& operator=(const Tchannel&) = delete;

    // Capture thread: copies `length` bytes into the queue and wakes the channel.
    void PutData(const std::byte* block, std::uint32_t length);

    // Main thread. Starts a recording with a new name when idle.
    void StartIfIdle(RecordCause cause = RecordCause::Schedule);
    // Main thread: the operator's start; the writer's open result (false also when already recording).
    bool RecordNow();
    // Main thread: ends the recording in progress; nothing when idle.
    void StopRecord(RecordCause cause = RecordCause::Operator);
    // Main thread, every 50 ms: the next display level (dB); feeds the level history.
    double LevelHistoryTick();
    // Ends the thread now (shutdown); idempotent.
    void Shutdown();
    // Main thread, once the capture thread feeding the channel has ended because its device was
    // lost: false while blocks handed over before are still waiting (call again later, so the
    // file holds every one of them); then ends a recording in progress with the cause DeviceLost,
    // marks the channel's device faulty and answers true.
    bool DeviceLost();
    // Main thread, when a new capture thread feeds the channel again: clears the fault, and a
    // recording that the loss ended starts again in a new file (cause DeviceBack).
    void DeviceBack();
    // Any thread: the channel's device is lost (between DeviceLost() and DeviceBack()).
    [[nodiscard]] bool DeviceFault() const noexcept { return deviceFault_.load(std::memory_order_acquire); }

    // Settings (main thread).
    void SetThreshold(double dB);
    void SetDelays(int stopMinHits, double startSeconds, double stopSeconds);
    // A new writer for `format`, with the pre-record seconds in force; an open file is completed.
    void SetFormat(recording::FileFormat format);
    void SetMp3Params(int bitrate, int quality, int sampleRate);
    // Seconds of sound kept before a trigger, limited to 0..kMaxPredSeconds so that no setting
    // can exhaust the memory.
    void SetPredTime(int seconds);
    void SetFilebits(int bits);
    // Empty selects the program folder; one trailing separator is removed; the folder is created.
    void SetRecordDir(const std::string& path);
    void SetAutoRecord(bool on);
    void SetRecordMode(RecordMode mode);
    void SetMinTime(int seconds);
    void SetAon(bool on);
    void SetDtmf(bool on);
    void SetPulse(bool on);
    void SetDetectOnlyWhileRecording(bool on);
    void SetCompressor(bool on);
    void SetK1(double k1);
    void SetK2(double k2);
    void SetAgc(bool on);
    void SetCombined(bool on);
    void SetPrefix(const std::string& prefix);
    void SetMonitor(bool on, MonitorSink* monitor);
    void SetGlobals(const ChannelGlobals& globals);
    // The supervision tick's elapsed-time text, reported to the server at stop.
    void SetDurationText(const std::string& text);
    // A new channel number after channels were removed: names, the schedule and the control list
    // follow it from now on.
    void SetChannelNumber(int number);
    void SetPulseThreshold(double threshold);
    [[nodiscard]] double PulseThreshold() const;
    // The schedule's answer for `now` (1 inside a recording period).
    [[nodiscard]] int CheckSchedule(const platform::LocalTime& now);
    // Runs `edit` on the schedule with the channel's lock held (dialogs).
    void EditSchedule(const std::function<void(config::Tperiods&)>& edit);
    // Reads the control list file again.
    void ReloadControlList();
    [[nodiscard]] RecordMode Mode() const;
    [[nodiscard]] bool AutoRecord() const;
    void AddPlugin(const std::string& fileName);
    void RemovePlugin(const std::string& fileName);
    [[nodiscard]] std::vector<std::string> PluginNames() const;

    // Queries (any thread).
    [[nodiscard]] bool Recording() const noexcept { return recordingFlag_.load(std::memory_order_acquire); }
    [[nodiscard]] int ChannelNumber() const noexcept { return channelNumber_.load(std::memory_order_acquire); }
    [[nodiscard]] int InputIndex() const noexcept { return params_.inputIndex; }
    [[nodiscard]] int DeviceId() const noexcept { return params_.deviceId; }
    [[nodiscard]] double CurrentLevel() const noexcept { return currentLevel_.load(std::memory_order_relaxed); }
    [[nodiscard]] std::uint64_t Overflows() const noexcept { return queue_.dropped(); }
    [[nodiscard]] std::uint64_t BlocksProcessed() const noexcept { return blocks_.load(std::memory_order_relaxed); }
    [[nodiscard]] std::array<double, kHistory> LevelHistory() const;
    [[nodiscard]] std::string RecordDir() const;
    [[nodiscard]] recording::FileFormat Format() const;
    // Path of the file open now (empty when none).
    [[nodiscard]] std::string OpenFileName() const;
    // After Shutdown: how the recording in progress at the end was completed (none when idle).
    [[nodiscard]] std::optional<ChannelReport> ShutdownReport() const;
    // Memory the channel holds, in bytes (queue, work areas, writer, detectors).
    [[nodiscard]] std::size_t MemoryBytes() const;
    // Builds a base path (without extension) from the clock (capture/recording_name.h).
    [[nodiscard]] std::string MakeFileName() const;

    // Processes one block on the calling thread, as the channel thread does (tools, benchmarks).
    void ProcessBlockNow(std::byte* block, std::uint32_t length);
    // The operator's start (true) or stop (false) just before sample `sample` is processed
    // (counted over all blocks). For tools that replay a recording; the channel thread honours it.
    void ScheduleOperatorAction(std::uint64_t sample, bool start);

private:
    void run(std::stop_token stop);
    void processBlock(std::byte* block, std::uint32_t length);
    // `sample`: index of the sample being processed when the trigger fired (for observers).
    bool startRecordLocked(std::string basePath, std::uint64_t sample, RecordCause cause);
    void stopRecordLocked(std::uint64_t sample, RecordCause cause);
    void reportDetection(ChannelEvent::Kind kind, std::uint64_t sample);
    // A caller-ID, DTMF or pulse number: remembered, shown, and added to the server's record.
    void takeNumber(std::string_view text, ChannelEvent::Kind kind, std::uint64_t sample);
    void takePluginResult(std::uint64_t sample);
    void runOperatorActions(std::uint64_t sample);
    void notifyLevel(std::uint64_t sample, double db) const;
    // Queues a report for the main thread (sent by unlockAndPost).
    void post(ChannelReport report);
    void addPluginLocked(const std::string& fileName);
    // Posts a Fault report when the writer's fault began, changed or ended since the last one.
    void reportWriteFaultLocked();
    // Releases the lock, then posts what was collected for the main thread while it was held.
    void unlockAndPost(std::unique_lock<std::mutex>& lock);
    void notify(ChannelEvent::Kind kind, std::uint64_t sample, std::string text) const;
    std::string makeFileNameLocked() const;
    std::unique_ptr<recording::Tsound_writer> makeWriter(recording::FileFormat format, int minPreRecordBytes) const;
    void loadPluginList();
    void savePluginList() const;
    std::filesystem::path pluginListPath() const;
    void finishThread();

    ChannelParams params_;
    ChannelEnv env_;

    BlockQueue queue_;  // the blocks handed over by the capture thread
    std::atomic<int> channelNumber_;
    std::atomic<std::uint64_t> blocks_{0};
    std::atomic<bool> stopping_{false};
    std::atomic<bool> deviceFault_{false};  // the channel's device is lost

    // Everything below is guarded by mutex_.
    mutable std::mutex mutex_;
    ChannelGlobals globals_;
    recording::FileFormat format_;
    bool recording_ = false;
    bool fileOpened_ = false;           // the recording in progress has an open file of its own
    bool serverRecord_ = false;         // the recording in progress was registered with the server
    int reportedFault_ = 0;             // the writer's fault last reported (errno, 0 for none)
    int reportedRemade_ = 0;            // the writer's remade files last reported
    std::byte* blockInWork_ = nullptr;  // the block processBlock works on, null between blocks
    std::uint32_t blockLength_ = 0;
    bool startedInBlock_ = false;  // the recording began in the block in work
    std::optional<ChannelReport> shutdownReport_;
    bool resumeOnDeviceBack_ = false;  // the device's loss ended a recording
    std::atomic<bool> recordingFlag_{false};
    RecordMode mode_ = RecordMode::Level;
    bool autoRecord_ = false;
    double threshold_;
    int minTime_ = 5;  // seconds
    std::string prefix_;
    std::string recordDir_;
    int fileBits_ = 16;
    int predSeconds_;
    bool aonOn_ = true, dtmfOn_ = false, pulseOn_ = true, detectOnlyWhileRecording_ = true;
    bool compressorOn_ = false, agcOn_ = false, combined_ = false;
    double k1_ = 1.8, k2_ = 7.0;
    int mp3Bitrate_, mp3Quality_, mp3SampleRate_;

    std::uint32_t startTick_ = 0;  // ms tick at StartRecord
    std::int32_t recordId_ = 0;    // the server's id of the recording
    // Seconds of line sound (counted over all blocks) before the first sample of the recording's
    // file: the detections' offsets in the file are measured from there.
    double fileStartSeconds_ = 0.0;
    std::string durationText_;
    std::string eventText_;  // the last detected text of this recording
    std::string lastAon_, lastDtmf_;
    bool pulseArmed_ = false;
    double blockLevel_ = dsp::kNoLevel;                            // the newest level of this block
    std::uint64_t samplesSeen_ = 0;                                // samples processed before the current block
    std::vector<std::pair<std::uint64_t, bool>> operatorActions_;  // (sample, start?), in order
    std::uint64_t nextActionAt_ = UINT64_MAX;                      // sample of the first of them
    std::atomic<double> currentLevel_{-60.0};
    // Reports for the main thread in the order they happened. They are numbered and queued under
    // mutex_, so the order is the channel's own; each release of mutex_ posts one flush that runs,
    // oldest first, every report up to the newest it saw. A report collected by the channel thread
    // can therefore never be overtaken by one the main thread makes while the first is on its way,
    // and reports of different channels still reach the main thread in the order they were posted.
    struct ReportOutbox {
        std::mutex mutex;
        std::deque<std::pair<std::uint64_t, std::function<void()>>> calls;  // (number, call)
        std::uint64_t lastNumber = 0;                                       // of the newest report
        // Main thread: runs the queued calls numbered up to `upTo`, oldest first; a call may queue more.
        void runUpTo(std::uint64_t upTo);
    };
    std::shared_ptr<ReportOutbox> outbox_ = std::make_shared<ReportOutbox>();  // outlives the channel
    std::uint64_t flushUpTo_ = 0;  // the newest report queued since the last release of mutex_; 0: none

    dsp::TlevelMeter meter_;
    dsp::Tlevel_check levelCheck_;
    dsp::TVOXlevel_check voxLevelCheck_;
    dsp::TVOX vox_;
    dsp::Tv_agc agc_;
    dsp::t_aon aon_;
    dsp::T_DTMF dtmf_;
    dsp::TPulse_detector pulse_;
    config::Tperiods schedule_;
    config::Tctrol control_;
    std::unique_ptr<recording::Tsound_writer> writer_;
    MonitorSink* monitor_ = nullptr;
    services::PluginRecord pluginRecord_{};
    std::vector<std::unique_ptr<services::Tplugin>> plugins_;

    // The display queue and the level history, read by the main thread every 50 ms.
    mutable std::mutex levelMutex_;
    dsp::Tshow_level showLevel_;
    std::array<double, kHistory> history_;
    double historySum_ = 0.0;
    int historyCount_ = 0;

    std::jthread thread_;  // last: started when everything above exists
};

}  // namespace kestavo::capture
