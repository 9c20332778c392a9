#include "platform/memory_mixer.h"

#include <algorithm>

namespace kestavo::platform {

std::vector<std::string> MemoryMixer::lines() const {
    std::vector<std::string> names;
    for (const MemoryMixerLine& l : lines_) names.push_back(l.name.substr(0, kMaxLineName));
    return names;
}

std::optional<MixerLineState> MemoryMixer::read(int line) const {
    if (!valid_(line)) return std::nullopt;
    const MemoryMixerLine& l = lines_[std::size_t(line)];
    MixerLineState s;
    s.hasVolume = l.hasVolume && !l.raw.empty();
    s.volume = s.hasVolume ? mixerVolumeOfRaw(l.raw.front(), l.min, l.max) : 0;
    s.hasSwitch = l.hasSwitch;
    s.on = l.hasSwitch ? l.on : true;
    return s;
}

std::error_code MemoryMixer::setVolume(int line, int volume) {
    if (!valid_(line) || !lines_[std::size_t(line)].hasVolume) return std::make_error_code(std::errc::invalid_argument);
    MemoryMixerLine& l = lines_[std::size_t(line)];
    std::ranges::fill(l.raw, mixerRawOfVolume(volume, l.min, l.max));
    ++writes_;
    changed_();
    return {};
}

std::error_code MemoryMixer::setSwitch(int line, bool on) {
    if (!valid_(line) || !lines_[std::size_t(line)].hasSwitch) return std::make_error_code(std::errc::invalid_argument);
    lines_[std::size_t(line)].on = on;
    ++writes_;
    changed_();
    return {};
}

void MemoryMixer::ChangeFromOutside(int line, long raw, bool on) {
    MemoryMixerLine& l = lines_.at(std::size_t(line));
    std::ranges::fill(l.raw, std::clamp(raw, l.min, l.max));
    l.on = on;
    pending_ = true;
}

void MemoryMixer::poll() {
    if (!pending_) return;
    pending_ = false;
    changed_();
}

void MemoryMixer::changed_() {
    if (listener_) listener_();
}

}  // namespace kestavo::platform
