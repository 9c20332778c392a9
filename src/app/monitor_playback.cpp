#include "app/monitor_playback.h"

#include <utility>

#include "capture/channel.h"

namespace kestavo::app {

MonitorPlayback::MonitorPlayback(std::unique_ptr<capture::Tin_out> playback) : playback_(std::move(playback)) {}

MonitorPlayback::~MonitorPlayback() {
    SelectChannel(nullptr);
    // playback_ goes next: its thread ends and the device is released.
}

void MonitorPlayback::SelectChannel(capture::Tchannel* channel) {
    if (channel_ != nullptr) channel_->SetMonitor(false, nullptr);
    channel_ = channel;
    if (channel_ != nullptr) channel_->SetMonitor(true, playback_.get());
}

MonitorFactory makeMonitorFactory(platform::SoundOutputSystem& output,
                                  std::function<void(const std::string&)> showMessage,
                                  std::shared_ptr<capture::SpectrumInversion> inversion,
                                  std::chrono::milliseconds retryDelay) {
    if (!inversion) inversion = std::make_shared<capture::SpectrumInversion>();
    return [&output, showMessage = std::move(showMessage), inversion = std::move(inversion),
            retryDelay](int outputDevice) -> std::unique_ptr<Monitor> {
        capture::InOutParams params;
        params.outputDevice = outputDevice;
        auto playback = capture::Tin_out::Open(output, params, showMessage, inversion, retryDelay);
        if (!playback) return nullptr;
        return std::make_unique<MonitorPlayback>(std::move(playback));
    };
}

}  // namespace kestavo::app
