#pragma once
// AlsaSoundOutputSystem: the playback devices ALSA offers, for monitoring.
//
// Sound output through ALSA, for monitoring. Device -1 ("WAVE_MAPPER") is ALSA's `default`; then
// every playback PCM device of every card, named by its card, then the PCMs named in
// $KESTAVO_ALSA_PCMS that open for playback (tests use a private `file` PCM that writes what it
// plays to a file).
//
// An opened output plays on its own player thread: written buffers are fed to the PCM in order
// (non-blocking writes, polled together with a wake-up event, so reset and close never wait out a
// buffer); a buffer is done once the PCM has taken all of it. Underruns are recovered and counted;
// a device that cannot be recovered is lost: write() fails and wait() answers DeviceLost.
//
// Threads: enumeration and open from any thread; an opened output belongs to one thread (its
// player thread is internal).
#include <mutex>
#include <string>
#include <vector>

#include "platform/sound_output.h"

namespace kestavo::platform {

class AlsaSoundOutputSystem final : public SoundOutputSystem {
public:
    // The cards, then the PCMs of $KESTAVO_ALSA_PCMS.
    AlsaSoundOutputSystem();
    explicit AlsaSoundOutputSystem(std::vector<std::string> extraPcms);

    // Enumerates afresh; the ids of open() refer to the latest list.
    [[nodiscard]] std::vector<OutputDeviceInfo> outputDevices() override;
    [[nodiscard]] std::unique_ptr<SoundOutput> open(int deviceId, const WaveFormat& format,
                                                    std::error_code& error) override;

private:
    struct Device {
        OutputDeviceInfo info;
        std::vector<std::string> pcms;  // the names to try when opening, best first
    };
    void enumerate();  // under mutex_

    std::vector<std::string> extraPcms_;
    std::mutex mutex_;
    std::vector<Device> devices_;
    bool enumerated_ = false;
};

}  // namespace kestavo::platform
