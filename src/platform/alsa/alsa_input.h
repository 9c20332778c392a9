#pragma once
// AlsaSoundInputSystem: the capture devices ALSA offers, as sound inputs.
//
// Sound input from ALSA. Every capture PCM device of every card is one input device whose product
// name is the card's name; PCMs named outside the card list (extra names, for example a private
// `file` PCM in a test's ALSA configuration) follow, each named by its PCM name.
//
// A device supports a side when ALSA accepts 11025 Hz, S16_LE, interleaved, with 1 (mono) or 2
// (stereo) channels. `hw:C,D` is tried first because it records the card as it is; `plughw:C,D`
// (which may convert and resample) is the fallback, and the one kept for that channel count.
//
// An opened device reads the PCM straight into the oldest queued buffer: wait() reads what has
// arrived and polls the PCM's descriptors together with the stop event's eventfd for the rest, so
// a stop ends the wait at once and no buffer is waited out. A buffer is done when it is full.
// Overruns (the PCM's ring filled up because buffers came back late) are recovered by preparing
// and starting the PCM again, and counted; a suspended PCM is resumed (or prepared again) without
// ending the stream. A device that vanished (-ENODEV), that cannot be recovered, or that delivers
// nothing for the stall limit (5 s by default) while running is lost: wait() answers DeviceLost
// from then on, lostReason() says why (timed_out for a stall), and whoever owns the capture
// opens the device again.
//
// Threads: enumeration and open from any thread (the list is guarded); an opened input belongs to
// one capture thread, except overruns(), which any thread may read.
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "platform/sound_input.h"

namespace kestavo::platform {

// The PCM names listed in $KESTAVO_ALSA_PCMS (comma-separated; blanks around names are dropped).
[[nodiscard]] std::vector<std::string> alsaPcmsFromEnvironment();

class AlsaSoundInputSystem final : public SoundInputSystem {
public:
    // The cards, then the PCMs of $KESTAVO_ALSA_PCMS.
    AlsaSoundInputSystem();
    // The cards, then `extraPcms` (each listed when it opens for capture).
    explicit AlsaSoundInputSystem(std::vector<std::string> extraPcms);

    static constexpr std::chrono::milliseconds kStallLimit{5000};

    // How long a running input may deliver nothing before it counts as lost; for inputs opened
    // from now on.
    void setStallLimit(std::chrono::milliseconds limit) noexcept {
        stallLimit_.store(limit, std::memory_order_relaxed);
    }

    // Enumerates afresh; the ids of open() refer to the latest list.
    [[nodiscard]] std::vector<InputDeviceInfo> inputDevices() override;
    // Opens in the format's channel count, rate and bits (8 gives U8, 16 gives S16_LE). Errors
    // are ALSA's (negated errno values, generic category); no_such_device for a bad id.
    [[nodiscard]] std::unique_ptr<SoundInput> open(int deviceId, const WaveFormat& format,
                                                   std::error_code& error) override;
    // The mixer of the device's card (AlsaMixer); a PCM named outside the card list has none.
    [[nodiscard]] std::unique_ptr<SoundMixer> openMixer(int deviceId, std::error_code& error) override;

private:
    struct Device {
        InputDeviceInfo info;
        std::vector<std::string> pcms;  // the names to try when opening, best first
        int card = -1;                  // the ALSA card; -1 for a PCM named outside the card list
    };
    void enumerate();  // under mutex_

    std::vector<std::string> extraPcms_;
    std::mutex mutex_;
    std::vector<Device> devices_;
    bool enumerated_ = false;
    std::atomic<std::chrono::milliseconds> stallLimit_{kStallLimit};
};

}  // namespace kestavo::platform
