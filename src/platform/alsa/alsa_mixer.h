#pragma once
// AlsaMixer: a sound card's recording lines through ALSA's simple mixer elements.
//
// The lines are the card's simple elements that can record: those with a capture volume or a
// capture switch, named as ALSA names them (an index above 0 follows the name). A line's volume
// is its capture volume scaled from the element's capture range onto 0..65535; written, the same
// value goes to every channel. The switch is the capture switch.
//
// The control handle is opened non-blocking and subscribed to the card's events; an element's
// callback marks a change, and snd_mixer_handle_events(), run by poll() and right after each
// write, delivers them. The card reports our own writes too, but the simple-element layer
// compares them with the value it already holds and passes on only real changes, so an own write
// is not heard back.
// A line whose element vanishes (the card was unplugged) reads as missing and refuses writes.
//
// Threads: one thread, as SoundMixer.
#include <alsa/asoundlib.h>

#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "platform/sound_mixer.h"

namespace kestavo::platform {

class AlsaMixer final : public SoundMixer {
public:
    // The mixer of control device `ctlName` ("hw:0", or a name of the ALSA configuration).
    // Null with `error` set when it cannot be opened.
    [[nodiscard]] static std::unique_ptr<AlsaMixer> open(const std::string& ctlName, std::error_code& error);
    ~AlsaMixer() override;
    AlsaMixer(const AlsaMixer&) = delete;
    AlsaMixer& operator=(const AlsaMixer&) = delete;

    [[nodiscard]] std::vector<std::string> lines() const override { return names_; }
    [[nodiscard]] std::optional<MixerLineState> read(int line) const override;
    [[nodiscard]] std::error_code setVolume(int line, int volume) override;
    [[nodiscard]] std::error_code setSwitch(int line, bool on) override;
    void setChangeListener(std::function<void()> listener) override { listener_ = std::move(listener); }
    void poll() override;

private:
    explicit AlsaMixer(snd_mixer_t* mixer);
    static int elementEvent(snd_mixer_elem_t* elem, unsigned int mask);
    [[nodiscard]] snd_mixer_elem_t* element_(int line) const noexcept;
    void takeEvents_();

    snd_mixer_t* mixer_;
    std::vector<snd_mixer_elem_t*> elems_;  // per line; null once the element is gone
    std::vector<std::string> names_;        // per line
    std::function<void()> listener_;
    bool changed_ = false;  // an element reported a change since the last delivery
};

}  // namespace kestavo::platform
