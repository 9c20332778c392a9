#pragma once
// Tkanal: one channel row, without widgets. It owns the channel thread (Tchannel), keeps the copy
// of the channel's settings that the windows edit, and holds everything the main window shows for
// the channel: the recording flag and start time, the elapsed-time text, the state cell and record
// button texts, the last detected text, the level and the level bar's geometry. A front end polls
// this state and draws it; it never keeps state of its own.
//
// Threads: rows and bars live on the main thread only; the channel thread runs on its own.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/level_bar.h"
#include "capture/channel.h"
#include "config/settings.h"
#include "platform/clock.h"

namespace kestavo::app {

// What the set-up hands to a new row.
struct RowPlan {
    int deviceId = 0;
    int sideNumber = 0;      // the input side's number (unique over the run)
    int compressMode = 1;    // 1 MP3, 0 WAV
    int sampleRate = 11025;  // MP3 sample rate
    int quality = 4;         // MP3 quality code
    int bitrate = 32;        // MP3 kbit/s
    std::string name;        // the side name; becomes the channel's DEVICE
    int channelNumber = 1;   // 1-based
};

// What the record button does when clicked, and so which text it shows: start (language text
// 26) or stop (text 30). It follows the channel's reports, and a language switch resets it.
enum class RecordButtonAction { Start, Stop };

class Tkanal {
public:
    static constexpr int kLevelColumnWidth = 300;  // px: the bar's cell in the main window's grid
    static constexpr int kUpperRowHeight = 15;     // px

    // Creates the channel thread (11025 samples per second) and hands it the row's initial
    // threshold, delays, K1 and K2. `env.reportSink` must be set by the caller.
    Tkanal(const RowPlan& plan, capture::ChannelEnv env, capture::ChannelGlobals globals);
    // Stops and awaits the channel thread (its writer completes an open file).
    ~Tkanal();
    Tkanal(const Tkanal&) = delete;
    Tkanal& operator=(const Tkanal&) = delete;

    [[nodiscard]] int Number() const noexcept { return number_; }
    // A new position in the list; the channel's names and per-channel files follow it.
    void SetNumber(int number);
    [[nodiscard]] const std::string& Name() const noexcept { return name_; }
    [[nodiscard]] int DeviceId() const noexcept { return deviceId_; }
    [[nodiscard]] int SideNumber() const noexcept { return sideNumber_; }
    // The channel thread; null once released.
    [[nodiscard]] capture::Tchannel* Channel() noexcept { return channel_.get(); }
    [[nodiscard]] const capture::Tchannel* Channel() const noexcept { return channel_.get(); }
    // Stops the channel thread and frees it (shutdown); the row stays for the front end to drop.
    void ReleaseChannel();
    void SetClosing() noexcept { closing_ = true; }
    [[nodiscard]] bool Closing() const noexcept { return closing_; }

    // Settings: each setter stores the value and forwards it to the channel thread.
    // Every key as loaded at start-up, but the MP3 parameters, which the set-up chose.
    void ApplySettings(const config::ChannelSettings& loaded);
    [[nodiscard]] config::ChannelSettings Settings() const;  // the row's copy, for saving
    // Replaces the row's copy only (the device name stays the row's); the settings dialog tells
    // the channel itself, setting by setting, when its values take effect.
    void KeepSettings(const config::ChannelSettings& settings);
    void SetAuto(bool on);
    void SetThreshold(double dB);  // also the bar's red segments
    void SetPulseThreshold(double threshold);
    void SetDelays(double startSeconds, double stopSeconds);
    // The recording folder (WAW_PATH); the channel creates it.
    void SetRecordDir(const std::string& folder);
    void SetMixerLine(int line) noexcept { settings_.mixerLine = line; }
    void SetMaxRecordMinutes(int minutes) noexcept { settings_.maxTimeMinutes = minutes; }
    [[nodiscard]] int MaxRecordMinutes() const noexcept { return settings_.maxTimeMinutes; }
    void SetMonitoring(bool on) noexcept { monitoring_ = on; }
    [[nodiscard]] bool Monitoring() const noexcept { return monitoring_; }

    // The recording-state view, changed only by the channel's reports (see AppCore).
    void MarkRecording(const platform::LocalTime& start);
    void MarkIdle();
    [[nodiscard]] bool Recording() const noexcept { return recording_; }
    [[nodiscard]] const platform::LocalTime& RecordStart() const noexcept { return recordStart_; }

    // Display values (grid cells); the state cell and the record button follow Recording().
    std::string durationText;   // column 3: elapsed time while recording, empty when idle
    std::string detectionText;  // column 5: last identifier or detector text
    RecordButtonAction recordButton = RecordButtonAction::Start;
    std::string currentFile;  // the file opened by the current (or last) recording
    // What went wrong with the file of the current (or last) recording, shown with the state;
    // empty while it is written as it should be.
    std::string writeFault;
    double level = -60.0;      // dB, refreshed every tick
    bool deviceLost = false;   // the channel's sound device is lost: the state cell says so
    bool lossPending = false;  // ... and the channel has not yet finished its recording for the loss
    int id = 0;                // the owner's identity for the row; never reused in a run
    tbar bar;

private:
    int number_;
    std::string name_;
    int deviceId_;
    int sideNumber_;
    RowPlan setup_;  // what the set-up chose: the MP3 parameters stay the set-up's
    bool closing_ = false;
    bool monitoring_ = false;
    bool recording_ = false;
    platform::LocalTime recordStart_{};  // valid while recording_
    config::ChannelSettings settings_;
    std::unique_ptr<capture::Tchannel> channel_;
};

}  // namespace kestavo::app
