#pragma once
// FileSoundOutputSystem: a sound output that keeps what it plays instead of sounding it.
//
// A sound output without a sound card, for tests and headless runs: every buffer written to an
// output opened from the system is kept, whole and in order, in memory and, when a path is given,
// appended to a WAV file (its header is completed at close). Buffers complete either at once or
// at real-time pace (a buffer is done when the wall time for its sound has passed since the
// output began playing; a late write starts a fresh run of sound, as an underrun would).
//
// The system lists one device; open() accepts it (0) and the default output (-1).
//
// Threads: the system's functions from any thread; an opened output belongs to one thread.
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/sound_output.h"

namespace kestavo::platform {

enum class OutputPace { Immediate, RealTime };

class FileSoundOutputSystem final : public SoundOutputSystem {
public:
    // `wavPath` empty: memory only. Each open() starts the WAV file afresh.
    explicit FileSoundOutputSystem(OutputPace pace = OutputPace::Immediate, std::filesystem::path wavPath = {},
                                   std::string deviceName = "file output");
    ~FileSoundOutputSystem() override;

    [[nodiscard]] std::vector<OutputDeviceInfo> outputDevices() override;
    [[nodiscard]] std::unique_ptr<SoundOutput> open(int deviceId, const WaveFormat& format,
                                                    std::error_code& error) override;

    // Every buffer written so far by any output of this system, in the order written.
    [[nodiscard]] std::vector<std::vector<std::byte>> writtenBlocks() const;
    // The format of the latest open(); nullopt before the first.
    [[nodiscard]] std::optional<WaveFormat> lastFormat() const;
    [[nodiscard]] int openCount() const;

    struct Record;  // what the system and its outputs share

private:
    OutputPace pace_;
    std::filesystem::path wavPath_;
    std::string deviceName_;
    std::shared_ptr<Record> record_;
};

}  // namespace kestavo::platform
