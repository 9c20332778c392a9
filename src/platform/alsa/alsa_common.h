#pragma once
// alsaCardDevices, alsaAccepts, alsaOpens: what the ALSA input and output share.
//
// What the ALSA input and output share: the card list, the format test and the opening of a PCM
// in one of the program's formats. Internal to the ALSA backend. Any thread.
#include <alsa/asoundlib.h>

#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/sound_input.h"

namespace kestavo::platform {

// An ALSA result (a negated errno value) as an error code.
[[nodiscard]] inline std::error_code alsaError(int negatedErrno) noexcept {
    return std::error_code(-negatedErrno, std::generic_category());
}

// "a, b,c" -> {"a", "b", "c"}; empty names are dropped.
[[nodiscard]] std::vector<std::string> splitPcmList(std::string_view text);

struct AlsaCardDevice {
    int card = 0;
    int device = 0;
    std::string cardName;  // snd_ctl_card_info_get_name
};
// The PCM devices of every card that have a sub-device for `stream`, in card and device order.
[[nodiscard]] std::vector<AlsaCardDevice> alsaCardDevices(snd_pcm_stream_t stream);

// True when the PCM opens and accepts 11025 Hz, S16_LE, interleaved, with `channels` channels.
[[nodiscard]] bool alsaAccepts(const std::string& pcmName, snd_pcm_stream_t stream, int channels);
// True when the PCM opens at all for `stream`.
[[nodiscard]] bool alsaOpens(const std::string& pcmName, snd_pcm_stream_t stream);

// Opens the PCM non-blocking and sets it up for `format` (8 bits: U8, 16 bits: S16_LE; the rate
// exactly, resampled if the PCM must). Null on failure, with `error` set.
[[nodiscard]] snd_pcm_t* openAlsaPcm(const std::string& pcmName, snd_pcm_stream_t stream, const WaveFormat& format,
                                     std::error_code& error);
// Checks that `format` is PCM of 8 or 16 bits, then opens the first of `pcmNames` that works (best
// first). Null with `error` set (invalid_argument, or the last PCM's answer) when none does.
[[nodiscard]] snd_pcm_t* openFirstAlsaPcm(const std::vector<std::string>& pcmNames, snd_pcm_stream_t stream,
                                          const WaveFormat& format, std::error_code& error);

}  // namespace kestavo::platform
