#pragma once
// MonitorPlayback: the set-up's monitoring playback (app::Monitor) over capture::Tin_out.
//
// One monitoring output serves the whole program; choosing another channel only changes which
// channel hands it blocks. SelectChannel first detaches the channel that was monitored
// (Tchannel::SetMonitor(false); once that returns, the channel is no longer inside PutBlock, since
// the channel calls the monitor under the lock SetMonitor takes) and then attaches the new one.
// The destructor detaches the channel in the same way before the playback ends, so no channel is
// left pointing at a freed monitor.
//
// Threads: everything here runs on the main thread. The channel selected must be alive when it is
// replaced or deselected (SelectChannel(nullptr) before the channel is freed).
#include <functional>
#include <memory>
#include <string>

#include "app/device_setup.h"
#include "capture/monitor_output.h"
#include "platform/sound_output.h"

namespace kestavo::app {

class MonitorPlayback final : public Monitor {
public:
    explicit MonitorPlayback(std::unique_ptr<capture::Tin_out> playback);
    // Detaches the monitored channel, then closes the playback and its device.
    ~MonitorPlayback() override;
    MonitorPlayback(const MonitorPlayback&) = delete;
    MonitorPlayback& operator=(const MonitorPlayback&) = delete;

    // Detaches the channel monitored so far and attaches `channel`; null leaves none attached.
    void SelectChannel(capture::Tchannel* channel) override;

    [[nodiscard]] capture::Tchannel* Channel() const noexcept { return channel_; }
    [[nodiscard]] capture::Tin_out& Playback() noexcept { return *playback_; }

private:
    std::unique_ptr<capture::Tin_out> playback_;
    capture::Tchannel* channel_ = nullptr;  // the channel handing blocks to playback_, or null
};

// The factory the application core hands the set-up (CoreServices::makeMonitor). Each call opens
// the monitoring playback on the output device it is given (-1 the default) through `output`;
// when the device cannot be opened twice in a row, `showMessage` gets "Устройство занято" and the
// factory returns null. `inversion` carries the operator's "Инверсия спектра" switch and pivot;
// the main window may change it at any time (null: inversion off, pivot 1888 Hz). `output`
// must outlive every monitor made. `retryDelay` is the pause before the second attempt.
[[nodiscard]] MonitorFactory makeMonitorFactory(platform::SoundOutputSystem& output,
                                                std::function<void(const std::string&)> showMessage,
                                                std::shared_ptr<capture::SpectrumInversion> inversion,
                                                std::chrono::milliseconds retryDelay = capture::Tin_out::kRetryDelay);

}  // namespace kestavo::app
