#include "platform/alsa/alsa_input.h"
#include "platform/alsa/alsa_mixer.h"

#include <alsa/asoundlib.h>

#include <poll.h>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <deque>

#include "platform/alsa/alsa_common.h"

namespace kestavo::platform {

namespace {

using Steady = std::chrono::steady_clock;

// One opened capture PCM. Owned by one capture thread.
class AlsaSoundInput final : public SoundInput {
public:
    AlsaSoundInput(snd_pcm_t* pcm, std::uint32_t frameBytes, std::chrono::milliseconds stallLimit)
        : pcm_(pcm), frameBytes_(frameBytes), stallLimit_(stallLimit) {}
    ~AlsaSoundInput() override { close(); }

    std::error_code prepare(WaveHeader& header) override {
        if (header.data == nullptr || header.bufferLength < frameBytes_)
            return std::make_error_code(std::errc::invalid_argument);
        header.prepared = true;
        header.done = false;
        return {};
    }

    std::error_code addBuffer(WaveHeader& header) override {
        if (pcm_ == nullptr) return std::make_error_code(std::errc::bad_file_descriptor);
        if (!header.prepared || header.queued) return std::make_error_code(std::errc::invalid_argument);
        header.bytesRecorded = 0;
        header.done = false;
        header.queued = true;
        queue_.push_back(&header);
        return {};
    }

    std::error_code start() override {
        if (pcm_ == nullptr) return std::make_error_code(std::errc::bad_file_descriptor);
        if (snd_pcm_state(pcm_) != SND_PCM_STATE_PREPARED && snd_pcm_state(pcm_) != SND_PCM_STATE_RUNNING) {
            if (const int r = snd_pcm_prepare(pcm_); r < 0) return alsaError(r);
        }
        if (snd_pcm_state(pcm_) == SND_PCM_STATE_PREPARED) {
            if (const int r = snd_pcm_start(pcm_); r < 0) return alsaError(r);
        }
        started_ = true;
        lastSound_ = Steady::now();
        return {};
    }

    WaitResult wait(const Event& stop, std::chrono::milliseconds timeout) override {
        const auto deadline = Steady::now() + timeout;
        for (;;) {
            if (stop.isSet()) return WaitResult::Stopped;
            if (pcm_ == nullptr || lost_) return WaitResult::DeviceLost;
            if (!started_ || queue_.empty())  // nothing can be recorded until the caller acts
                return stop.wait(remaining(deadline)) ? WaitResult::Stopped : WaitResult::TimedOut;

            WaveHeader& h = *queue_.front();
            const snd_pcm_uframes_t room = (h.bufferLength - h.bytesRecorded) / frameBytes_;
            const snd_pcm_sframes_t got = snd_pcm_readi(pcm_, h.data + h.bytesRecorded, room);
            if (got > 0) {
                lastSound_ = Steady::now();
                h.bytesRecorded += std::uint32_t(got) * frameBytes_;
                if (h.bytesRecorded + frameBytes_ > h.bufferLength) {
                    h.done = true;
                    h.queued = false;
                    queue_.pop_front();
                    return WaitResult::BufferDone;
                }
                continue;
            }
            if (got < 0 && got != -EAGAIN) {
                switch (recover(int(got))) {
                    case Recovery::Going: continue;
                    case Recovery::Lost: return WaitResult::DeviceLost;
                    case Recovery::Suspended: break;  // wait a little below, then read again
                }
            }
            // Nothing there yet: sleep until the PCM has a period, the stop event is set, or the time is up.
            const auto now = Steady::now();
            if (now - lastSound_ >= stallLimit_) return lose(std::errc::timed_out);  // running, yet silent
            if (now >= deadline) return WaitResult::TimedOut;
            const auto stallAt = std::chrono::ceil<std::chrono::milliseconds>(lastSound_ + stallLimit_ - now);
            const auto slice = std::min(remaining(deadline), stallAt);
            if (got == -ESTRPIPE) {
                // Suspended: the PCM's descriptors say nothing useful until it is resumed.
                if (stop.wait(std::min(slice, kSuspendedPoll))) return WaitResult::Stopped;
                continue;
            }
            switch (pollDevice(stop, slice)) {
                case PollResult::Ready: continue;
                case PollResult::TimedOut: continue;  // the time-out or the stall limit: seen above
                case PollResult::Lost: return WaitResult::DeviceLost;
            }
        }
    }

    void reset() noexcept override {
        if (pcm_ != nullptr) (void)snd_pcm_drop(pcm_);  // errors ignored: the buffers are given back regardless
        started_ = false;
        for (WaveHeader* h : queue_) {
            h->done = true;
            h->queued = false;
        }
        queue_.clear();
    }

    void stop() noexcept override {
        if (pcm_ != nullptr) (void)snd_pcm_drop(pcm_);  // errors ignored: capture ends regardless
        started_ = false;
    }

    void unprepare(WaveHeader& header) noexcept override {
        if (!header.queued) header.prepared = false;
    }

    void close() noexcept override {
        if (pcm_ == nullptr) return;
        reset();
        (void)snd_pcm_close(pcm_);  // errors ignored: nothing more can be done with the handle
        pcm_ = nullptr;
    }

    [[nodiscard]] std::uint64_t overruns() const noexcept override { return overruns_.load(std::memory_order_relaxed); }
    [[nodiscard]] std::error_code lostReason() const noexcept override { return lostReason_; }

private:
    enum class PollResult { Ready, TimedOut, Lost };
    enum class Recovery { Going, Suspended, Lost };
    static constexpr std::chrono::milliseconds kSuspendedPoll{20};  // how often a suspended PCM is tried again

    WaitResult lose(std::error_code reason) noexcept {
        lost_ = true;
        if (!lostReason_) lostReason_ = reason;
        return WaitResult::DeviceLost;
    }
    WaitResult lose(std::errc reason) noexcept { return lose(std::make_error_code(reason)); }
    WaitResult lose(int alsaErr) noexcept { return lose(std::error_code(-alsaErr, std::generic_category())); }

    static std::chrono::milliseconds remaining(Steady::time_point deadline) {
        return std::max(std::chrono::milliseconds(0),
                        std::chrono::ceil<std::chrono::milliseconds>(deadline - Steady::now()));
    }

    // Handles a failed read without ending the stream: an overrun (-EPIPE) prepares and starts
    // the PCM again; a suspended PCM (-ESTRPIPE) is resumed, or prepared again when it cannot be
    // resumed, and while it is still suspended the caller waits a little and reads again. Nothing
    // here sleeps. A vanished device (-ENODEV) or a failed recovery loses the device.
    Recovery recover(int err) noexcept {
        if (err == -ENODEV) return (lose(err), Recovery::Lost);
        if (err == -EINTR) return Recovery::Going;
        if (err == -EPIPE) {
            overruns_.fetch_add(1, std::memory_order_relaxed);
            if (const int r = snd_pcm_prepare(pcm_); r < 0) return (lose(r), Recovery::Lost);
        } else if (err == -ESTRPIPE) {
            const int r = snd_pcm_resume(pcm_);
            if (r == -EAGAIN) return Recovery::Suspended;
            const auto state = snd_pcm_state(pcm_);
            if (r < 0 || (state != SND_PCM_STATE_RUNNING && state != SND_PCM_STATE_PREPARED)) {
                if (const int p = snd_pcm_prepare(pcm_); p < 0) return (lose(p), Recovery::Lost);
            }
        } else {
            return (lose(err), Recovery::Lost);
        }
        // Recovery leaves the PCM prepared; capture goes on at once.
        if (snd_pcm_state(pcm_) == SND_PCM_STATE_PREPARED) {
            if (const int r = snd_pcm_start(pcm_); r < 0) return (lose(r), Recovery::Lost);
        }
        return Recovery::Going;
    }

    // Polls the PCM together with the stop event; the caller looks at the stop event itself.
    PollResult pollDevice(const Event& stop, std::chrono::milliseconds timeout) noexcept {
        const int count = snd_pcm_poll_descriptors_count(pcm_);
        if (count <= 0) {
            lose(std::errc::no_such_device);
            return PollResult::Lost;
        }
        fds_.resize(std::size_t(count) + 1);
        if (snd_pcm_poll_descriptors(pcm_, fds_.data(), unsigned(count)) != count) {
            lose(std::errc::no_such_device);
            return PollResult::Lost;
        }
        fds_[std::size_t(count)] = pollfd{stop.fd(), POLLIN, 0};
        const int r = ::poll(fds_.data(), fds_.size(), int(timeout.count()));
        if (r < 0) {
            if (errno == EINTR) return PollResult::Ready;
            lose(std::error_code(errno, std::generic_category()));
            return PollResult::Lost;
        }
        if (r == 0) return PollResult::TimedOut;
        if (fds_[std::size_t(count)].revents != 0) return PollResult::Ready;  // stop: seen at the top of the loop
        unsigned short revents = 0;
        const int e = snd_pcm_poll_descriptors_revents(pcm_, fds_.data(), unsigned(count), &revents);
        if (e < 0) return recover(e) == Recovery::Lost ? PollResult::Lost : PollResult::Ready;
        if (revents & POLLERR) {
            // The read that follows reports the reason (-EPIPE, -ESTRPIPE, -ENODEV) and recovers.
            if (snd_pcm_state(pcm_) == SND_PCM_STATE_DISCONNECTED) {
                lose(std::errc::no_such_device);
                return PollResult::Lost;
            }
        }
        return PollResult::Ready;
    }

    snd_pcm_t* pcm_;                        // null once closed
    std::uint32_t frameBytes_;              // bytes per frame: channels * bits / 8
    std::deque<WaveHeader*> queue_;         // queued buffers, oldest first; the front is being filled
    std::vector<pollfd> fds_;               // the PCM's descriptors and the stop event's
    std::chrono::milliseconds stallLimit_;  // running without sound this long: the device is lost
    Steady::time_point lastSound_{};        // when sound last arrived (or the start)
    bool started_ = false;
    bool lost_ = false;
    std::error_code lostReason_;  // why lost_ is set
    std::atomic<std::uint64_t> overruns_{0};
};

}  // namespace

std::vector<std::string> alsaPcmsFromEnvironment() {
    const char* v = std::getenv("KESTAVO_ALSA_PCMS");
    return v ? splitPcmList(v) : std::vector<std::string>{};
}

AlsaSoundInputSystem::AlsaSoundInputSystem() : AlsaSoundInputSystem(alsaPcmsFromEnvironment()) {}

AlsaSoundInputSystem::AlsaSoundInputSystem(std::vector<std::string> extraPcms) : extraPcms_(std::move(extraPcms)) {}

void AlsaSoundInputSystem::enumerate() {
    devices_.clear();
    for (const AlsaCardDevice& d : alsaCardDevices(SND_PCM_STREAM_CAPTURE)) {
        Device dev;
        dev.info.productName = d.cardName;
        const std::string hw = "hw:" + std::to_string(d.card) + "," + std::to_string(d.device);
        const std::string plug = "plug" + hw;
        for (int channels : {1, 2}) {
            bool& side = channels == 1 ? dev.info.mono : dev.info.stereo;
            side = alsaAccepts(hw, SND_PCM_STREAM_CAPTURE, channels) ||
                alsaAccepts(plug, SND_PCM_STREAM_CAPTURE, channels);
        }
        dev.pcms = {hw, plug};
        dev.card = d.card;
        devices_.push_back(std::move(dev));
    }
    for (const std::string& name : extraPcms_) {
        Device dev;
        dev.info.productName = name;
        dev.info.mono = alsaAccepts(name, SND_PCM_STREAM_CAPTURE, 1);
        dev.info.stereo = alsaAccepts(name, SND_PCM_STREAM_CAPTURE, 2);
        if (!dev.info.mono && !dev.info.stereo && !alsaOpens(name, SND_PCM_STREAM_CAPTURE)) continue;
        dev.pcms = {name};
        devices_.push_back(std::move(dev));
    }
    enumerated_ = true;
}

std::vector<InputDeviceInfo> AlsaSoundInputSystem::inputDevices() {
    std::lock_guard lock(mutex_);
    enumerate();
    std::vector<InputDeviceInfo> list;
    for (const auto& d : devices_) list.push_back(d.info);
    return list;
}

std::unique_ptr<SoundInput> AlsaSoundInputSystem::open(int deviceId, const WaveFormat& format, std::error_code& error) {
    std::vector<std::string> pcms;
    {
        std::lock_guard lock(mutex_);
        if (!enumerated_) enumerate();
        if (deviceId < 0 || std::size_t(deviceId) >= devices_.size()) {
            error = std::make_error_code(std::errc::no_such_device);
            return nullptr;
        }
        pcms = devices_[std::size_t(deviceId)].pcms;
    }
    snd_pcm_t* pcm = openFirstAlsaPcm(pcms, SND_PCM_STREAM_CAPTURE, format, error);
    if (!pcm) return nullptr;
    return std::make_unique<AlsaSoundInput>(pcm, std::uint32_t(format.channels * format.bitsPerSample / 8),
                                            stallLimit_.load(std::memory_order_relaxed));
}

std::unique_ptr<SoundMixer> AlsaSoundInputSystem::openMixer(int deviceId, std::error_code& error) {
    int card = -1;
    {
        std::lock_guard lock(mutex_);
        if (!enumerated_) enumerate();
        if (deviceId >= 0 && std::size_t(deviceId) < devices_.size()) card = devices_[std::size_t(deviceId)].card;
    }
    if (card < 0) return SoundInputSystem::openMixer(deviceId, error);
    return AlsaMixer::open("hw:" + std::to_string(card), error);
}

}  // namespace kestavo::platform
