#pragma once
// SoundSystem, CompositeSoundInputSystem: the program's sound devices, every backend in one list.
//
// The program's sound devices: one input list that puts the backends one after another (ALSA
// devices first, then the file-backed lines), and the output for monitoring.
//
// Device ids of the composite are positions in its latest inputDevices() list; open() maps an id
// to its backend through that list, so the set-up enumerates once and then opens by id.
//
// Threads: as the backends; the composite's own mapping is guarded.
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/file/file_lines.h"
#include "platform/folders.h"
#include "platform/pending_work.h"
#include "platform/sound_input.h"
#include "platform/sound_output.h"

namespace kestavo::platform {

class CompositeSoundInputSystem final : public SoundInputSystem {
public:
    explicit CompositeSoundInputSystem(std::vector<std::unique_ptr<SoundInputSystem>> backends);

    [[nodiscard]] std::vector<InputDeviceInfo> inputDevices() override;
    [[nodiscard]] std::unique_ptr<SoundInput> open(int deviceId, const WaveFormat& format,
                                                   std::error_code& error) override;
    [[nodiscard]] std::unique_ptr<SoundMixer> openMixer(int deviceId, std::error_code& error) override;

private:
    // The backend of composite id `deviceId` and the id inside it; null for an unknown id.
    SoundInputSystem* backendOf_(int& deviceId);
    std::vector<std::unique_ptr<SoundInputSystem>> backends_;
    std::mutex mutex_;
    std::vector<std::size_t> counts_;  // devices per backend in the latest list
    bool listed_ = false;
};

struct SoundSystem {
    std::unique_ptr<SoundInputSystem> input;    // ALSA devices, then the file-backed lines
    FileLineSystem* lines = nullptr;            // the file-backed lines inside `input`
    std::unique_ptr<SoundOutputSystem> output;  // monitoring output
    std::vector<std::string> problems;          // what the operator should hear about (files left out...)

    // The clock the program must read: the lines' clock in fast pace, else null (the system clock).
    [[nodiscard]] FakeClock* linesClock() const noexcept { return lines ? lines->clock() : nullptr; }
};

// The default sound system: ALSA (unless $KESTAVO_ALSA is "off"), then the lines as the
// environment says ($KESTAVO_LINES, $KESTAVO_LINES_PACE, $KESTAVO_LINES_START; the folder LINES of
// the program folder by default), and ALSA output (with ALSA off, an output that plays into memory).
// `pending` must outlive the result.
[[nodiscard]] SoundSystem makeSoundSystem(const Folders& folders, PendingWork& pending);

}  // namespace kestavo::platform
