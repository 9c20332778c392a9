#pragma once
// SoundMixer: the recording lines of a sound card's mixer, as the threshold window sets them.
//
// A mixer lists the card's capture lines by name (at most kMaxLineName characters). Each line may
// have a volume, read and written as 0..65535 whatever the card's own range (the same value for
// every channel of the line; reading takes the first channel), and a switch that turns the line
// on for recording. A mixer reports that one of its controls changed: the listener runs inside
// poll() for changes made elsewhere, and may run inside setVolume()/setSwitch() for the mixer's
// own writes (a mixer that echoes them), so a caller that writes must ignore what it hears
// meanwhile. A device without a mixer (no card) has no lines.
//
// The volume scale: a card range min..max maps linearly onto 0..65535, both ways rounded to the
// nearest step, so 0 and 65535 are always the range's ends.
//
// Threads: one thread (the main thread) opens, uses, polls and closes a mixer.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace kestavo::platform {

inline constexpr std::size_t kMaxLineName = 64;  // characters of a line's name
inline constexpr int kMixerVolumeMax = 65535;    // the top of the mixer's volume scale

// One line as read.
struct MixerLineState {
    bool hasVolume = false;  // the line has a volume control
    int volume = 0;          // 0..kMixerVolumeMax; 0 without a volume control
    bool hasSwitch = false;  // the line has an on/off switch
    bool on = false;         // the switch (true without one: the line always records)
};

// A card value in min..max on the 0..65535 scale (min when the range is empty), and back.
[[nodiscard]] int mixerVolumeOfRaw(long raw, long min, long max) noexcept;
[[nodiscard]] long mixerRawOfVolume(int volume, long min, long max) noexcept;

class SoundMixer {
public:
    virtual ~SoundMixer() = default;
    // The lines' names, in the card's order; the index is the line's number below.
    [[nodiscard]] virtual std::vector<std::string> lines() const = 0;
    // Line `line`'s state; nullopt for a line that does not exist.
    [[nodiscard]] virtual std::optional<MixerLineState> read(int line) const = 0;
    // Writes the volume (clamped to 0..65535) to every channel of the line.
    [[nodiscard]] virtual std::error_code setVolume(int line, int volume) = 0;
    [[nodiscard]] virtual std::error_code setSwitch(int line, bool on) = 0;
    // Called once per batch of changes; replaces any listener before.
    virtual void setChangeListener(std::function<void()> listener) = 0;
    // Takes the changes the card reported since the last call (never waits).
    virtual void poll() = 0;
};

}  // namespace kestavo::platform
