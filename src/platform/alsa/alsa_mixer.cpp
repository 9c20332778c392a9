#include "platform/alsa/alsa_mixer.h"

#include <algorithm>

#include "platform/alsa/alsa_common.h"

namespace kestavo::platform {

std::unique_ptr<AlsaMixer> AlsaMixer::open(const std::string& ctlName, std::error_code& error) {
    error.clear();
    snd_hctl_t* hctl = nullptr;
    if (const int err = snd_hctl_open(&hctl, ctlName.c_str(), SND_CTL_NONBLOCK); err < 0) {
        error = alsaError(err);
        return nullptr;
    }
    snd_mixer_t* mixer = nullptr;
    int err = snd_mixer_open(&mixer, 0);
    if (err < 0) {
        snd_hctl_close(hctl);
        error = alsaError(err);
        return nullptr;
    }
    if ((err = snd_mixer_attach_hctl(mixer, hctl)) < 0) {  // on failure the mixer has closed hctl
        snd_mixer_close(mixer);
        error = alsaError(err);
        return nullptr;
    }
    if ((err = snd_mixer_selem_register(mixer, nullptr, nullptr)) < 0 || (err = snd_mixer_load(mixer)) < 0) {
        snd_mixer_close(mixer);
        error = alsaError(err);
        return nullptr;
    }
    return std::unique_ptr<AlsaMixer>(new AlsaMixer(mixer));
}

AlsaMixer::AlsaMixer(snd_mixer_t* mixer) : mixer_(mixer) {
    for (snd_mixer_elem_t* e = snd_mixer_first_elem(mixer_); e != nullptr; e = snd_mixer_elem_next(e)) {
        if (!snd_mixer_selem_has_capture_volume(e) && !snd_mixer_selem_has_capture_switch(e)) continue;
        std::string name = snd_mixer_selem_get_name(e);
        if (const unsigned index = snd_mixer_selem_get_index(e); index > 0) name += " " + std::to_string(index);
        names_.push_back(name.substr(0, kMaxLineName));
        elems_.push_back(e);
        snd_mixer_elem_set_callback(e, &AlsaMixer::elementEvent);
        snd_mixer_elem_set_callback_private(e, this);
    }
}

AlsaMixer::~AlsaMixer() { snd_mixer_close(mixer_); }

int AlsaMixer::elementEvent(snd_mixer_elem_t* elem, unsigned int mask) {
    auto* self = static_cast<AlsaMixer*>(snd_mixer_elem_get_callback_private(elem));
    if (self == nullptr) return 0;
    if (mask == SND_CTL_EVENT_MASK_REMOVE) std::ranges::replace(self->elems_, elem, nullptr);
    self->changed_ = true;
    return 0;
}

snd_mixer_elem_t* AlsaMixer::element_(int line) const noexcept {
    return line >= 0 && std::size_t(line) < elems_.size() ? elems_[std::size_t(line)] : nullptr;
}

std::optional<MixerLineState> AlsaMixer::read(int line) const {
    snd_mixer_elem_t* e = element_(line);
    if (e == nullptr) return std::nullopt;
    MixerLineState s;
    s.hasVolume = snd_mixer_selem_has_capture_volume(e) != 0;
    if (s.hasVolume) {
        long min = 0, max = 0, raw = 0;
        snd_mixer_selem_get_capture_volume_range(e, &min, &max);
        if (snd_mixer_selem_get_capture_volume(e, SND_MIXER_SCHN_FRONT_LEFT, &raw) == 0)
            s.volume = mixerVolumeOfRaw(raw, min, max);
    }
    s.hasSwitch = snd_mixer_selem_has_capture_switch(e) != 0;
    s.on = true;
    if (int on = 0; s.hasSwitch && snd_mixer_selem_get_capture_switch(e, SND_MIXER_SCHN_FRONT_LEFT, &on) == 0)
        s.on = on != 0;
    return s;
}

std::error_code AlsaMixer::setVolume(int line, int volume) {
    snd_mixer_elem_t* e = element_(line);
    if (e == nullptr || !snd_mixer_selem_has_capture_volume(e))
        return std::make_error_code(std::errc::invalid_argument);
    long min = 0, max = 0;
    snd_mixer_selem_get_capture_volume_range(e, &min, &max);
    const int err = snd_mixer_selem_set_capture_volume_all(e, mixerRawOfVolume(volume, min, max));
    takeEvents_();  // what the card reported meanwhile
    return err < 0 ? alsaError(err) : std::error_code{};
}

std::error_code AlsaMixer::setSwitch(int line, bool on) {
    snd_mixer_elem_t* e = element_(line);
    if (e == nullptr || !snd_mixer_selem_has_capture_switch(e))
        return std::make_error_code(std::errc::invalid_argument);
    const int err = snd_mixer_selem_set_capture_switch_all(e, on ? 1 : 0);
    takeEvents_();
    return err < 0 ? alsaError(err) : std::error_code{};
}

void AlsaMixer::poll() { takeEvents_(); }

void AlsaMixer::takeEvents_() {
    // Non-blocking: reads what the card has queued and returns; an error (a card that is gone)
    // leaves the lines as they are, and the vanished elements read as missing.
    (void)snd_mixer_handle_events(mixer_);
    if (!changed_) return;
    changed_ = false;
    if (listener_) listener_();
}

}  // namespace kestavo::platform
