#include "support/fake_sound.h"

#include <poll.h>

namespace kestavo::test {

namespace {
class FakeInput final : public platform::SoundInput {
public:
    FakeInput(FakeDevice& d, platform::Event& closed) : dev_(d), closed_(closed) {}
    std::error_code prepare(platform::WaveHeader& h) override {
        h.prepared = true;
        return {};
    }
    std::error_code addBuffer(platform::WaveHeader& h) override {
        h.queued = true;
        h.done = false;
        queue_.push_back(&h);
        return {};
    }
    std::error_code start() override { return {}; }
    platform::WaitResult wait(const platform::Event& stop, std::chrono::milliseconds timeout) override {
        if (stop.isSet()) return platform::WaitResult::Stopped;
        if (dev_.loseAfterBuffers >= 0 && delivered_ >= dev_.loseAfterBuffers) return platform::WaitResult::DeviceLost;
        const bool more = index_ < dev_.bufferFill.size() || (dev_.bufferFill.empty() && pos_ < dev_.data.size());
        if (queue_.empty() || !more) {
            return stop.wait(timeout) ? platform::WaitResult::Stopped : platform::WaitResult::TimedOut;
        }
        auto* h = queue_.front();
        queue_.pop_front();
        std::uint32_t n = h->bufferLength;
        if (!dev_.bufferFill.empty()) n = std::min(n, dev_.bufferFill[index_++]);
        n = std::uint32_t(std::min<std::size_t>(n, dev_.data.size() - std::min(pos_, dev_.data.size())));
        std::memcpy(h->data, dev_.data.data() + pos_, n);
        pos_ += n;
        h->bytesRecorded = n;
        h->done = true;
        h->queued = false;
        ++delivered_;
        return platform::WaitResult::BufferDone;
    }
    void reset() noexcept override {
        for (auto* h : queue_) {
            h->done = true;
            h->queued = false;
        }
        queue_.clear();
    }
    void stop() noexcept override {}
    void unprepare(platform::WaveHeader& h) noexcept override { h.prepared = false; }
    void close() noexcept override { closed_.set(); }

private:
    FakeDevice& dev_;
    platform::Event& closed_;
    std::deque<platform::WaveHeader*> queue_;
    std::size_t pos_ = 0;
    std::size_t index_ = 0;
    int delivered_ = 0;
};
}  // namespace

std::unique_ptr<platform::SoundInput> FakeSoundInputSystem::open(int id, const platform::WaveFormat& format,
                                                                 std::error_code& error) {
    ++opens;
    lastFormat = format;
    if (id < 0 || std::size_t(id) >= devices.size()) {
        error = std::make_error_code(std::errc::no_such_device);
        return nullptr;
    }
    auto& d = devices[std::size_t(id)];
    if (d.failOpens > 0) {
        --d.failOpens;
        error = std::make_error_code(std::errc::device_or_resource_busy);
        return nullptr;
    }
    return std::make_unique<FakeInput>(d, closed);
}

}  // namespace kestavo::test
