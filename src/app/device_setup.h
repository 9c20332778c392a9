#pragma once
// TWWSK: turns the sound hardware and the configuration into running channels.
//
// Enumeration. Outputs: "WAVE_MAPPER" (-1, the default output) first, then "<i> <product>" per
// output device. Inputs: every input device gives up to two sides, named "<device> <product>"
// followed by " 1 канал" (left; the device takes mono) or " 2 канал" (right; the device takes
// stereo). Each side gets a number from a running counter; a number is used up even when its side
// is not listed, so side numbers stay unique over a run.
//
// Matching. A configured side name finds its side by exact name; otherwise by a positional score
// over the names without their leading device number (the count of positions holding the same
// character), the best unclaimed side winning and the earlier one on a tie. So a card moved to
// another slot (its device number changed) is found again, and two identical cards are taken in
// turn. A side is claimed by the first line that finds it during a build; a later line naming a
// claimed side exactly builds no channel.
//
// Builds. With LOADALL every usable side becomes a channel, in enumeration order (device 0 side 1,
// device 0 side 2, device 1 side 1, ...), with 32 kbit/s VOICE QUALITY MP3 settings. Otherwise
// configuration line i (0-based) becomes channel i + 1 on the side it names. One capture thread
// per opened device feeds the channels of that device: stereo when both sides carry channels,
// mono when only the left side does; a right side alone is captured in stereo with its left half
// unused, so a right-side channel always hears the right side.
//
// Lost devices. Every capture thread leaves a lost device to its owner: the owner calls
// TakeLostCaptures() regularly, which lets go of each capture thread that ended because its device
// vanished or stopped delivering, and Reopen() to try such a device again. Reopen looks for the
// device by its product name in a fresh enumeration (on its old number first, since a card that
// returns may get another), opens it without waiting and without messages, and binds a new capture
// thread to the same channels, which are never rebuilt.
//
// Shutdown() is the orderly stop: the shared stop event, then the capture threads, then the
// channel threads, then the monitor.
//
// Threads: everything here runs on the main thread.
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/channel_row.h"
#include "capture/capture_thread.h"
#include "config/settings.h"
#include "platform/event.h"
#include "platform/line_rate.h"
#include "platform/sound_input.h"
#include "platform/sound_output.h"

namespace kestavo::app {

struct OutputDevice {
    int number = -1;   // device number; -1 is the system's default output
    std::string name;  // "WAVE_MAPPER", or "<number> <product name>"
};

struct InputSide {
    int device = 0;        // input device number
    int side = 1;          // 1 left, 2 right
    int sideNumber = 0;    // unique over the run
    std::string name;      // "<device> <product> 1 канал" / " 2 канал"
    std::string product;   // the device's product name
    bool inUse = false;    // a channel is built on it
    bool claimed = false;  // taken by a name match during the current build
    // From the configuration line matched to it:
    int mp3Bitrate = 32, mp3Quality = 4, mp3SampleRate = kLineRate, compressMode = 1;
};

// The monitoring playback as the set-up sees it. Main thread.
class Monitor {
public:
    virtual ~Monitor() = default;
    // Connects `channel` to the playback; null disconnects every channel.
    virtual void SelectChannel(capture::Tchannel* channel) = 0;
};
// Opens the monitoring playback on an output device (-1 the default); null when it cannot.
using MonitorFactory = std::function<std::unique_ptr<Monitor>(int outputDevice)>;

using RowList = std::vector<std::unique_ptr<Tkanal>>;

// The services the set-up uses; all of them outlive it.
struct WskEnv {
    platform::SoundInputSystem* input = nullptr;
    platform::SoundOutputSystem* output = nullptr;  // null: only "WAVE_MAPPER" is listed
    platform::Event* stop = nullptr;                // the capture threads' shared stop event
    RowList* rows = nullptr;                        // the channel row list (index = number - 1)
    std::function<std::unique_ptr<Tkanal>(const RowPlan&)> makeRow;
    // The sink a capture thread calls for a channel; null gives the channel's PutData.
    std::function<capture::BlockSink(capture::Tchannel&)> makeSink;
    std::function<void(const std::string&)> showMessage;  // may be called on a capture thread
    const config::ConfigFiles* files = nullptr;           // for a removed channel's defaults; may be null
    MonitorFactory makeMonitor;                           // null: no monitoring playback
    std::chrono::milliseconds retryDelay = capture::tsoundin::kRetryDelay;
};

class TWWSK {
public:
    // Enumerates and builds: every usable side when `loadAll`, else one channel per line.
    TWWSK(WskEnv env, const std::vector<config::ChannelSetupLine>& lines, bool loadAll);
    ~TWWSK();
    TWWSK(const TWWSK&) = delete;
    TWWSK& operator=(const TWWSK&) = delete;

    // Sets the stop event, ends the capture threads, then the channel threads, then the monitor.
    // The rows stay in the list (without channels) for the caller to free. Idempotent.
    void Shutdown();

    // Whether device `device` can capture 11025 Hz 16-bit with `channels` (1 or 2) channels: true
    // at once when a capture thread for it runs, else it is opened and closed again.
    [[nodiscard]] bool ProbeInput(int device, int channels);
    // Index into InputSides() of the side for a configured name (claiming it), or -1.
    [[nodiscard]] int FindSideByName(std::string_view name);

    // The channel assignment window: a channel for a free side (its side number, or -1), and the
    // removal of a side's channel (later channels move up one number, taking their schedule and
    // control list files with them).
    int AddChannelForSide(const std::string& sideName);
    void RemoveChannelForSide(const std::string& sideName);
    // Monitors the channel whose DEVICE is `sideName` on `outputDevice`; empty stops monitoring.
    void SelectMonitorChannel(const std::string& sideName, int outputDevice);
    // One line per channel "<prefix>\t<side name>\t<number>", and the names of the free sides.
    void ListAssignments(std::vector<std::string>& channels, std::vector<std::string>& freeSides) const;

    // Ends and reopens every capture thread (a file-backed line starts again from its beginning).
    void RestartCaptures();

    // A device whose capture thread ended because the device was lost.
    struct LostDevice {
        int device = 0;          // its number when the channels were built (the rows' DeviceId)
        std::string product;     // the product name it is looked for by
        std::error_code reason;  // why it was lost
    };
    // Lets go of every capture thread that ended because its device was lost and returns those
    // devices, each once; they stay lost until Reopen() brings them back. Quick: the threads have
    // already ended.
    [[nodiscard]] std::vector<LostDevice> TakeLostCaptures();
    // One attempt to open lost device `device` again and feed its channels; true when a capture
    // thread runs for it now. Gives the device up (false) when no channel is left on it.
    bool Reopen(int device);
    // The lost devices not yet back (a copy: Reopen changes the list).
    [[nodiscard]] std::vector<LostDevice> LostDevices() const { return lost_; }

    [[nodiscard]] const std::vector<InputSide>& InputSides() const noexcept { return sides_; }
    [[nodiscard]] const std::vector<OutputDevice>& OutputDevices() const noexcept { return outputs_; }
    [[nodiscard]] std::size_t CaptureCount() const noexcept { return captures_.size(); }
    // The capture thread of a device, or null.
    [[nodiscard]] const capture::tsoundin* CaptureFor(int device) const;
    [[nodiscard]] Monitor* ActiveMonitor() const noexcept { return monitor_.get(); }
    [[nodiscard]] bool ShutDown() const noexcept { return shutDown_; }

private:
    struct Capture {
        int device = 0;  // the rows' device number
        std::unique_ptr<capture::tsoundin> thread;
        int openAs = -1;  // the number it is opened by now, when a lost device came back under another
    };
    void enumerate_();
    void buildAll_();
    void buildConfigured_(const std::vector<config::ChannelSetupLine>& lines);
    Tkanal* addRow_(const InputSide& side, int compressMode, int sampleRate, int quality, int bitrate);
    // A capture thread for `device` bound to the channels now built on its sides; null when none.
    // `openAs`: the number to open it by (-1: `device`); `quiet`: no retry wait and no messages.
    std::unique_ptr<capture::tsoundin> makeCapture_(int device, int openAs = -1, bool quiet = false);
    int captureIndex_(int device) const;
    int sideOfRow_(const Tkanal& row) const;
    void renumber_();
    // Channel `removed`'s schedule and control list files go; those of channels removed + 1 ..
    // `last` move down one number.
    void moveChannelFilesUp_(std::size_t removed, std::size_t last);

    WskEnv env_;
    std::vector<InputSide> sides_;  // enumeration order
    std::vector<OutputDevice> outputs_;
    std::vector<Capture> captures_;
    std::vector<LostDevice> lost_;  // devices lost and not back
    std::unique_ptr<Monitor> monitor_;
    bool shutDown_ = false;
};

// The enumeration on its own (for listings): every usable input side with its name and number, in
// order, and the outputs with "WAVE_MAPPER" first.
[[nodiscard]] std::vector<InputSide> EnumerateInputSides(platform::SoundInputSystem& input);
[[nodiscard]] std::vector<OutputDevice> EnumerateOutputs(platform::SoundOutputSystem* output);

// The score of the positional match: positions (from the first character after each name's first
// blank) at which both names hold the same character, counted in characters, not bytes.
[[nodiscard]] int PositionalScore(std::string_view wanted, std::string_view sideName);

}  // namespace kestavo::app
