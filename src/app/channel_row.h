#pragma once
// Tkanal: one channel row, without widgets. It owns the channel thread (Tchannel), keeps the copy
// of the channel's settings that the windows edit, and holds everything the main window shows for
// the channel: the recording flag and start time, the elapsed-time text, the state cell and record
// button texts, the last detected text, the level and the level bar's geometry. A front end polls
// this state and draws it; it never keeps state of its own.
//
// tbar: the segmented level bar with a falling peak marker, as plain arithmetic: segment geometry
// for a rectangle, the number of lit segments for a level, the first red segment for a threshold
// and the peak's hold and fall. Levels are in dB (-60 .. 0); the sign of a level is ignored.
//
// Threads: rows and bars live on the main thread only; the channel thread runs on its own.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "capture/channel.h"
#include "config/settings.h"
#include "platform/clock.h"

namespace kestavo::app {

struct BarRect {
    int left = 0, top = 0, right = 0, bottom = 0;  // right and bottom exclusive, px
    friend bool operator==(const BarRect&, const BarRect&) = default;
};

class tbar {
public:
    static constexpr int kHoldDraws = 2;  // draws the peak stays before it falls one segment

    // orientation 0: vertical (segments bottom-up), 1: horizontal (left to right).
    tbar(BarRect rect, int orientation, int segmentCount);

    // DbPerSegment := |dB / SegmentCount|, kept in single precision as the display did.
    void SetRange(double dB);
    // RedFrom := Trunc((60 - |t|) / DbPerSegment) + 1.
    void SetThreshold(double dB);
    // New rectangle: the segments are recomputed.
    void Place(BarRect rect);
    // One draw's arithmetic: the lit count and the peak marker for `levelDb`.
    void Update(double levelDb);

    [[nodiscard]] int SegmentCount() const noexcept { return segmentCount_; }
    [[nodiscard]] float DbPerSegment() const noexcept { return dbPerSegment_; }
    [[nodiscard]] int RedFrom() const noexcept { return redFrom_; }
    [[nodiscard]] int Lit() const noexcept { return lit_; }
    [[nodiscard]] int Peak() const noexcept { return peak_; }
    // Segment i (1-based) inside the bar's own image (origin at its top-left corner).
    [[nodiscard]] const BarRect& Segment(int i) const { return segments_.at(std::size_t(i - 1)); }
    [[nodiscard]] const BarRect& Target() const noexcept { return target_; }
    // Whether segment i is drawn red (at or above RedFrom) rather than green.
    [[nodiscard]] bool IsRed(int i) const noexcept { return i >= redFrom_; }

private:
    void computeSegments_();

    BarRect target_;   // the grid cell the image is copied into
    int orientation_;  // 0 vertical, 1 horizontal
    int segmentCount_;
    float dbPerSegment_ = 1.2f;   // range / segment count
    int redFrom_ = 50;            // first red segment
    int lit_ = 1;                 // segments lit at the last draw
    int peak_ = 1;                // segment of the peak marker
    std::uint8_t holdCount_ = 0;  // draws since the peak last rose or fell
    std::vector<BarRect> segments_;
};

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

class Tkanal {
public:
    static constexpr int kLevelColumnWidth = 300;  // px: the bar's cell in the main window's grid
    static constexpr int kUpperRowHeight = 15;     // px

    // Creates the channel thread (11025 samples per second) and hands it the row's initial
    // threshold, delays, K1 and K2. `env.eventSink` must be set by the caller.
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
    void ApplySettings(const config::ChannelSettings& s);    // every key, as loaded at start-up
    [[nodiscard]] config::ChannelSettings Settings() const;  // the row's copy, for saving
    void SetAuto(bool on);
    void SetThreshold(double dB);  // also the bar's red segments
    void SetPulseThreshold(double threshold);
    void SetDelays(double startSeconds, double stopSeconds);
    void SetMixerLine(int line) noexcept { settings_.mixerLine = line; }
    void SetMaxRecordMinutes(int minutes) noexcept { settings_.maxTimeMinutes = minutes; }
    [[nodiscard]] int MaxRecordMinutes() const noexcept { return settings_.maxTimeMinutes; }
    void SetMonitoring(bool on) noexcept { monitoring_ = on; }
    [[nodiscard]] bool Monitoring() const noexcept { return monitoring_; }

    // The recording-state view, changed only by the channel's status texts (see AppCore).
    void MarkRecording(const platform::LocalTime& start, const std::string& recordingCaption);
    void MarkIdle(const std::string& idleCaption);
    [[nodiscard]] bool Recording() const noexcept { return recording_; }
    [[nodiscard]] const platform::LocalTime& RecordStart() const noexcept { return recordStart_; }

    // Display texts (grid cells and captions).
    std::string durationText;   // column 3: elapsed time while recording, empty when idle
    std::string stateText;      // column 4: the state cell's text
    std::string recordCaption;  // the record button's caption
    std::string detectionText;  // column 5: last identifier or detector text
    std::string currentFile;    // the file opened by the current (or last) recording
    double level = -60.0;       // dB, refreshed every tick
    int id = 0;                 // the owner's identity for the row; never reused in a run
    tbar bar;

private:
    int number_;
    std::string name_;
    int deviceId_;
    int sideNumber_;
    bool closing_ = false;
    bool monitoring_ = false;
    bool recording_ = false;
    platform::LocalTime recordStart_{};  // valid while recording_
    config::ChannelSettings settings_;
    std::unique_ptr<capture::Tchannel> channel_;
};

}  // namespace kestavo::app
