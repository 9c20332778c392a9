#include "capture/capture_thread.h"

#include <cstring>

#include "platform/thread_name.h"

namespace kestavo::capture {

tsoundin::tsoundin(platform::SoundInputSystem& system, SoundInParams params, const platform::Event& stop,
                   std::function<void(const std::string&)> showMessage, std::chrono::milliseconds retryDelay)
    : system_(system), params_(std::move(params)), stopEvent_(stop), showMessage_(std::move(showMessage)),
      timeout_(std::chrono::milliseconds(std::int64_t(params_.samplesPerBlock) * 1000 / params_.sampleRate + 10000)) {
    auto show = [&](const std::string& text) {
        if (showMessage_) showMessage_(text);
    };
    // A stereo request on a device that cannot deliver 11025 Hz stereo continues in mono.
    if (params_.channelCount == 2) {
        const auto devices = system_.inputDevices();
        const bool stereo = params_.deviceId >= 0 && std::size_t(params_.deviceId) < devices.size() &&
            devices[std::size_t(params_.deviceId)].stereo;
        if (!stereo) {
            params_.channelCount = 1;
            show("Ваша звуковая карта не поддерживает режим стерео.");
        }
    }
    format_ = platform::WaveFormat::pcm(params_.channelCount, params_.sampleRate, params_.bitsPerSample);

    std::error_code error;
    device_ = system_.open(params_.deviceId, format_, error);
    if (!device_) {
        std::this_thread::sleep_for(retryDelay);
        device_ = system_.open(params_.deviceId, format_, error);
    }
    if (!device_) {
        failed_ = true;
        show("Проблема при открытии звукового устройства " + std::to_string(params_.deviceId) + "  " +
             std::to_string(error.value()) + "  " + std::to_string(params_.channelCount));
        return;
    }

    const std::size_t bytesPerSample = std::size_t(params_.bitsPerSample / 8);
    const std::size_t blockBytes = std::size_t(params_.samplesPerBlock) * bytesPerSample;
    const std::size_t bufferBytes = blockBytes * std::size_t(params_.channelCount);
    left_.resize(blockBytes);
    if (params_.channelCount == 2) right_.resize(blockBytes);
    bufferMemory_.resize(bufferBytes * kBuffers);
    for (int i = 0; i < kBuffers; ++i) {
        auto& h = headers_[std::size_t(i)];
        h = {};
        h.data = bufferMemory_.data() + bufferBytes * std::size_t(i);
        h.bufferLength = std::uint32_t(bufferBytes);
        if (device_->prepare(h) || device_->addBuffer(h)) failed_ = true;
    }
    if (failed_ || device_->start()) {
        failed_ = true;
        show("Проблема при открытии звукового устройства " + std::to_string(params_.deviceId) + "  0  " +
             std::to_string(params_.channelCount));
        release();
        return;
    }
    running_.store(true, std::memory_order_release);
    thread_ = std::jthread([this](std::stop_token st) { run(st); });
}

tsoundin::~tsoundin() {
    if (thread_.joinable()) {
        thread_.request_stop();
        thread_.join();
    }
}

int tsoundin::LeftChannel() const {
    std::lock_guard lock(bindMutex_);
    return params_.leftChannel;
}

int tsoundin::RightChannel() const {
    std::lock_guard lock(bindMutex_);
    return params_.rightChannel;
}

void tsoundin::Rebind(int leftChannel, int rightChannel, BlockSink left, BlockSink right) {
    std::lock_guard lock(bindMutex_);
    params_.leftChannel = leftChannel;
    params_.rightChannel = rightChannel;
    params_.leftSink = std::move(left);
    params_.rightSink = std::move(right);
}

void tsoundin::run(std::stop_token stop) {
    platform::nameThisThread("capture " + std::to_string(params_.deviceId));
    // The device wait is bounded by the time-out and also ends on the shared stop event; a
    // termination request (destructor) is noticed at the latest after one bounded slice.
    constexpr std::chrono::milliseconds kSlice{200};
    while (!stop.stop_requested()) {
        const auto result = device_->wait(stopEvent_, std::min(timeout_, kSlice));
        if (result == platform::WaitResult::Stopped) break;
        if (result == platform::WaitResult::TimedOut) continue;
        if (result == platform::WaitResult::DeviceLost) {
            lostReason_ = device_->lostReason();
            if (!lostReason_) lostReason_ = std::make_error_code(std::errc::no_such_device);
            if (showMessage_ && !params_.ownerWatchesLoss)
                showMessage_("Звуковое устройство " + std::to_string(params_.deviceId) +
                             " перестало отвечать, запись с него остановлена.");
            release();
            lost_.store(true, std::memory_order_release);
            break;
        }
        auto& header = headers_[std::size_t(next_)];
        deliver(header, stop);
        header.done = false;
        header.bytesRecorded = 0;
        (void)device_->addBuffer(header);  // a failed re-queue shows up as a timed-out wait
        next_ = (next_ + 1) % kBuffers;
        delivered_.fetch_add(1, std::memory_order_relaxed);
    }
    release();
    running_.store(false, std::memory_order_release);
}

void tsoundin::deliver(const platform::WaveHeader& header, const std::stop_token& stop) {
    const std::uint32_t recorded = std::min(header.bytesRecorded, header.bufferLength);
    std::lock_guard lock(bindMutex_);
    auto call = [&](const BlockSink& sink, const std::vector<std::byte>& block, std::uint32_t length) {
        if (sink && !stop.stop_requested()) sink(block.data(), length);
    };
    if (params_.channelCount == 2) {
        const std::uint32_t perSide = recorded / 2;
        if (params_.bitsPerSample == 8) {
            for (std::uint32_t i = 0; i < perSide; ++i) {
                left_[i] = header.data[2 * i];
                right_[i] = header.data[2 * i + 1];
            }
        } else {
            const std::uint32_t frames = perSide / 2;
            for (std::uint32_t i = 0; i < frames; ++i) {
                std::memcpy(&left_[2 * i], header.data + 4 * i, 2);
                std::memcpy(&right_[2 * i], header.data + 4 * i + 2, 2);
            }
        }
        call(params_.leftSink, left_, perSide);
        call(params_.rightSink, right_, perSide);
    } else {
        std::memcpy(left_.data(), header.data, recorded);
        call(params_.leftSink, left_, recorded);
    }
}

void tsoundin::release() noexcept {
    if (!device_) return;
    device_->reset();
    device_->stop();
    for (auto& h : headers_)
        if (h.prepared) device_->unprepare(h);
    device_->close();
    device_.reset();
}

}  // namespace kestavo::capture
