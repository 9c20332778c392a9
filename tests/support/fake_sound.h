#pragma once
// FakeSoundInputSystem: an in-memory sound input system for tests: each device plays a fixed byte sequence into the
// queued buffers as fast as they are queued, then falls silent. Opening can be made to fail a
// number of times, and a device can be made to vanish after some buffers; closing a device sets
// `closed`, so a test can wait for a capture thread to end.
#include <atomic>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/event.h"
#include "platform/sound_input.h"

namespace kestavo::test {

struct FakeDevice {
    platform::InputDeviceInfo info;
    std::vector<std::byte> data;            // interleaved frames as the device records them
    std::vector<std::uint32_t> bufferFill;  // optional: bytes recorded per buffer, in order (else full buffers)
    int failOpens = 0;                      // opens that fail before one succeeds
    int loseAfterBuffers = -1;              // DeviceLost after this many buffers (-1: never)
};

class FakeSoundInputSystem final : public platform::SoundInputSystem {
public:
    std::vector<FakeDevice> devices;
    std::atomic<int> opens{0};
    platform::WaveFormat lastFormat{};
    platform::Event closed;  // set when a device is closed: its capture thread has let it go

    std::vector<platform::InputDeviceInfo> inputDevices() override {
        std::vector<platform::InputDeviceInfo> out;
        for (const auto& d : devices) out.push_back(d.info);
        return out;
    }
    std::unique_ptr<platform::SoundInput> open(int id, const platform::WaveFormat& format,
                                               std::error_code& error) override;
};

}  // namespace kestavo::test
