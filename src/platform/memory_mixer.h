#pragma once
// MemoryMixer: a sound card mixer held in memory, for tests and for devices that have no card.
//
// Each line keeps its values as a card would: a raw range min..max per channel, and a switch.
// The mixer reports its own writes at once (as a card echoes them) and changes made "elsewhere"
// (ChangeFromOutside) at the next poll(). A mixer made without lines is what a device without a
// card offers: no lines, nothing to write.
//
// Threads: one thread, as SoundMixer.
#include <functional>
#include <string>
#include <vector>

#include "platform/sound_mixer.h"

namespace kestavo::platform {

struct MemoryMixerLine {
    std::string name;
    bool hasVolume = true;
    long min = 0, max = 65535;  // the raw range
    std::vector<long> raw{0};   // one value per channel
    bool hasSwitch = true;
    bool on = true;
};

class MemoryMixer final : public SoundMixer {
public:
    MemoryMixer() = default;
    explicit MemoryMixer(std::vector<MemoryMixerLine> lines) : lines_(std::move(lines)) {}

    [[nodiscard]] std::vector<std::string> lines() const override;
    [[nodiscard]] std::optional<MixerLineState> read(int line) const override;
    [[nodiscard]] std::error_code setVolume(int line, int volume) override;
    [[nodiscard]] std::error_code setSwitch(int line, bool on) override;
    void setChangeListener(std::function<void()> listener) override { listener_ = std::move(listener); }
    void poll() override;

    // The line as the card holds it (raw values).
    [[nodiscard]] const MemoryMixerLine& Line(int line) const { return lines_.at(std::size_t(line)); }
    // Another program changes line `line` (raw values): reported at the next poll().
    void ChangeFromOutside(int line, long raw, bool on);
    // Writes so far (volume and switch), for tests that count them.
    [[nodiscard]] int Writes() const noexcept { return writes_; }

private:
    [[nodiscard]] bool valid_(int line) const noexcept { return line >= 0 && std::size_t(line) < lines_.size(); }
    void changed_();

    std::vector<MemoryMixerLine> lines_;
    std::function<void()> listener_;
    bool pending_ = false;  // a change from outside waits for poll()
    int writes_ = 0;
};

}  // namespace kestavo::platform
