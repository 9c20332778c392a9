#include "platform/alsa/alsa_output.h"
#include "platform/output_queue.h"

#include <poll.h>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <thread>

#include "platform/alsa/alsa_common.h"
#include "platform/alsa/alsa_input.h"

namespace kestavo::platform {

namespace {

using Steady = std::chrono::steady_clock;
constexpr auto kPlayerPollBound = std::chrono::milliseconds(100);  // the player looks at its stop this often

class AlsaSoundOutput final : public SoundOutput {
public:
    AlsaSoundOutput(snd_pcm_t* pcm, std::uint32_t frameBytes)
        : pcm_(pcm), frameBytes_(frameBytes), player_([this](std::stop_token stop) { play(stop); }) {}
    ~AlsaSoundOutput() override { close(); }

    std::error_code prepare(WaveHeader& header) override {
        if (header.data == nullptr || header.bufferLength < frameBytes_)
            return std::make_error_code(std::errc::invalid_argument);
        header.prepared = true;
        header.done = false;
        return {};
    }

    std::error_code write(WaveHeader& header) override {
        if (pcm_ == nullptr || lost_.load()) return std::make_error_code(std::errc::no_such_device);
        if (!header.prepared) return std::make_error_code(std::errc::invalid_argument);
        {
            std::lock_guard lock(mutex_);
            const auto played = [](const Entry& e) { return e.complete; };
            if (header.queued && !queue_.takePlayedUpTo(header, played))
                return std::make_error_code(std::errc::device_or_resource_busy);
            header.done = false;
            header.queued = true;
            queue_.push(Entry{&header});
        }
        wake_.notify_all();
        return {};
    }

    WaitResult wait(const Event& stop, std::chrono::milliseconds timeout) override {
        const auto deadline = Steady::now() + timeout;
        for (;;) {
            if (stop.isSet()) return WaitResult::Stopped;
            {
                std::lock_guard lock(mutex_);
                if (!queue_.empty() && queue_.front().complete) {
                    queue_.popFront();
                    return WaitResult::BufferDone;
                }
                if (pcm_ == nullptr || lost_.load()) return WaitResult::DeviceLost;
                played_.reset();  // the player sets it under the same lock: no completion is missed
            }
            pollfd fds[2] = {{stop.fd(), POLLIN, 0}, {played_.fd(), POLLIN, 0}};
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Steady::now());
            if (left.count() <= 0) return WaitResult::TimedOut;
            if (::poll(fds, 2, int(left.count())) == 0) return WaitResult::TimedOut;
        }
    }

    void reset() noexcept override {
        {
            std::lock_guard lock(mutex_);
            queue_.clear();
            ++generation_;
        }
        // Taking the PCM's lock waits for a write in progress, so no buffer is read after this returns.
        std::lock_guard pcmLock(pcmMutex_);
        if (pcm_ != nullptr) {
            (void)snd_pcm_drop(pcm_);     // errors ignored: the buffers are given back regardless
            (void)snd_pcm_prepare(pcm_);  // ready for the next write
        }
    }

    void unprepare(WaveHeader& header) noexcept override {
        if (!header.queued) header.prepared = false;
    }

    void close() noexcept override {
        if (pcm_ == nullptr) return;
        reset();
        player_.request_stop();
        interrupt_.set();
        player_.join();
        (void)snd_pcm_close(pcm_);  // errors ignored: nothing more can be done with the handle
        pcm_ = nullptr;
    }

    [[nodiscard]] std::uint64_t underruns() const noexcept override {
        return underruns_.load(std::memory_order_relaxed);
    }

private:
    struct Entry {
        WaveHeader* header;
        std::uint32_t taken = 0;  // bytes the PCM has taken
        bool complete = false;
    };

    // The player thread: feeds the oldest unfinished buffer to the PCM.
    void play(std::stop_token stop) {
        std::vector<pollfd> fds;
        while (!stop.stop_requested()) {
            {
                std::unique_lock lock(mutex_);
                if (!wake_.wait_for(lock, stop, kPlayerPollBound, [&] { return unfinished() != nullptr; })) continue;
            }
            snd_pcm_sframes_t result = 0;
            {
                std::lock_guard pcmLock(pcmMutex_);
                const std::byte* data = nullptr;
                snd_pcm_uframes_t frames = 0;
                std::uint64_t generation = 0;
                {
                    std::lock_guard lock(mutex_);
                    Entry* e = unfinished();
                    if (e == nullptr) continue;  // reset meanwhile
                    data = e->header->data + e->taken;
                    frames = (e->header->bufferLength - e->taken) / frameBytes_;
                    generation = generation_;
                }
                result = frames == 0 ? snd_pcm_sframes_t(0) : snd_pcm_writei(pcm_, data, frames);
                std::lock_guard lock(mutex_);
                if (generation == generation_) {
                    Entry* e = unfinished();
                    if (result > 0) e->taken += std::uint32_t(result) * frameBytes_;
                    if (e->taken + frameBytes_ > e->header->bufferLength) {
                        e->complete = true;
                        played_.set();
                    }
                }
            }
            if (result >= 0) continue;
            if (result == -EAGAIN) {
                waitForRoom(fds);
                continue;
            }
            if (!recover(int(result))) {
                std::lock_guard lock(mutex_);
                lost_.store(true);
                played_.set();  // a waiting caller learns at once
                return;
            }
        }
    }

    // Under mutex_: the oldest buffer the PCM has not fully taken.
    Entry* unfinished() {
        for (Entry& e : queue_)
            if (!e.complete) return &e;
        return nullptr;
    }

    bool recover(int err) noexcept {
        if (err == -ENODEV) return false;
        if (err == -EPIPE) underruns_.fetch_add(1, std::memory_order_relaxed);
        std::lock_guard pcmLock(pcmMutex_);
        return snd_pcm_recover(pcm_, err, 1) >= 0;
    }

    // The PCM's ring is full: sleep until it has room, close() wakes us, or the bound passes.
    void waitForRoom(std::vector<pollfd>& fds) {
        int count;
        {
            std::lock_guard pcmLock(pcmMutex_);
            count = snd_pcm_poll_descriptors_count(pcm_);
            fds.resize(std::size_t(std::max(count, 0)) + 1);
            if (count > 0) (void)snd_pcm_poll_descriptors(pcm_, fds.data(), unsigned(count));
        }
        fds[std::size_t(std::max(count, 0))] = pollfd{interrupt_.fd(), POLLIN, 0};
        (void)::poll(fds.data(), fds.size(), int(kPlayerPollBound.count()));
    }

    snd_pcm_t* pcm_;                    // null once closed
    std::uint32_t frameBytes_;          // channels * bits / 8
    std::mutex pcmMutex_;               // held around every use of pcm_ while the player runs; taken before mutex_
    std::mutex mutex_;                  // guards the queue and generation_
    std::condition_variable_any wake_;  // something was written
    OutputQueue<Entry> queue_;          // written buffers, oldest first
    std::uint64_t generation_ = 0;      // increases at every reset: the player's view of the queue is stale
    Event played_;                      // set when a buffer completes or the device is lost
    Event interrupt_;                   // wakes the player from its poll at close
    std::atomic<bool> lost_{false};
    std::atomic<std::uint64_t> underruns_{0};
    std::jthread player_;  // last: it starts once everything above exists
};

}  // namespace

AlsaSoundOutputSystem::AlsaSoundOutputSystem() : AlsaSoundOutputSystem(alsaPcmsFromEnvironment()) {}

AlsaSoundOutputSystem::AlsaSoundOutputSystem(std::vector<std::string> extraPcms) : extraPcms_(std::move(extraPcms)) {}

void AlsaSoundOutputSystem::enumerate() {
    devices_.clear();
    for (const AlsaCardDevice& d : alsaCardDevices(SND_PCM_STREAM_PLAYBACK)) {
        const std::string hw = "hw:" + std::to_string(d.card) + "," + std::to_string(d.device);
        devices_.push_back(Device{OutputDeviceInfo{d.cardName}, {hw, "plug" + hw}});
    }
    for (const std::string& name : extraPcms_)
        if (alsaOpens(name, SND_PCM_STREAM_PLAYBACK)) devices_.push_back(Device{OutputDeviceInfo{name}, {name}});
    enumerated_ = true;
}

std::vector<OutputDeviceInfo> AlsaSoundOutputSystem::outputDevices() {
    std::lock_guard lock(mutex_);
    enumerate();
    std::vector<OutputDeviceInfo> list;
    for (const auto& d : devices_) list.push_back(d.info);
    return list;
}

std::unique_ptr<SoundOutput> AlsaSoundOutputSystem::open(int deviceId, const WaveFormat& format,
                                                         std::error_code& error) {
    std::vector<std::string> pcms;
    if (deviceId == kWaveMapper) {
        pcms = {"default"};
    } else {
        std::lock_guard lock(mutex_);
        if (!enumerated_) enumerate();
        if (deviceId < 0 || std::size_t(deviceId) >= devices_.size()) {
            error = std::make_error_code(std::errc::no_such_device);
            return nullptr;
        }
        pcms = devices_[std::size_t(deviceId)].pcms;
    }
    snd_pcm_t* pcm = openFirstAlsaPcm(pcms, SND_PCM_STREAM_PLAYBACK, format, error);
    if (!pcm) return nullptr;
    return std::make_unique<AlsaSoundOutput>(pcm, std::uint32_t(format.channels * format.bitsPerSample / 8));
}

}  // namespace kestavo::platform
