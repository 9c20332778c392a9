#include "platform/alsa/alsa_common.h"

#include <memory>

namespace kestavo::platform {

namespace {

struct PcmCloser {
    void operator()(snd_pcm_t* p) const noexcept { (void)snd_pcm_close(p); }
};
using PcmHandle = std::unique_ptr<snd_pcm_t, PcmCloser>;

struct HwParamsFree {
    void operator()(snd_pcm_hw_params_t* p) const noexcept { snd_pcm_hw_params_free(p); }
};
using HwParams = std::unique_ptr<snd_pcm_hw_params_t, HwParamsFree>;

struct SwParamsFree {
    void operator()(snd_pcm_sw_params_t* p) const noexcept { snd_pcm_sw_params_free(p); }
};
using SwParams = std::unique_ptr<snd_pcm_sw_params_t, SwParamsFree>;

constexpr unsigned kRate = kLineRate;
constexpr snd_pcm_uframes_t kPeriodFrames = 1024;        // 93 ms at 11025 Hz
constexpr snd_pcm_uframes_t kCaptureRingFrames = 16384;  // 1.49 s: slack while a buffer is handed on
constexpr snd_pcm_uframes_t kPlaybackRingFrames = 8192;  // 0.74 s

PcmHandle openPcm(const std::string& name, snd_pcm_stream_t stream, int& err) {
    snd_pcm_t* pcm = nullptr;
    // Non-blocking: a busy device answers at once, and reads and writes never block (we poll).
    err = snd_pcm_open(&pcm, name.c_str(), stream, SND_PCM_NONBLOCK);
    return PcmHandle(err < 0 ? nullptr : pcm);
}

// Restricts `hw` to the program's format; a negated errno when the PCM cannot give it.
int restrict(snd_pcm_t* pcm, snd_pcm_hw_params_t* hw, snd_pcm_format_t format, int channels, bool testOnly) {
    int r = snd_pcm_hw_params_any(pcm, hw);
    if (r < 0) return r;
    if ((r = snd_pcm_hw_params_test_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED)) < 0) return r;
    if ((r = snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED)) < 0) return r;
    if ((r = snd_pcm_hw_params_test_format(pcm, hw, format)) < 0) return r;
    if ((r = snd_pcm_hw_params_set_format(pcm, hw, format)) < 0) return r;
    if ((r = snd_pcm_hw_params_test_channels(pcm, hw, unsigned(channels))) < 0) return r;
    if ((r = snd_pcm_hw_params_set_channels(pcm, hw, unsigned(channels))) < 0) return r;
    if ((r = snd_pcm_hw_params_test_rate(pcm, hw, kRate, 0)) < 0) return r;
    if (testOnly) return 0;
    return snd_pcm_hw_params_set_rate(pcm, hw, kRate, 0);
}

}  // namespace

std::vector<std::string> splitPcmList(std::string_view text) {
    std::vector<std::string> names;
    while (!text.empty()) {
        const auto comma = text.find(',');
        std::string_view part = text.substr(0, comma);
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
        const auto b = part.find_first_not_of(" \t");
        if (b == std::string_view::npos) continue;
        part = part.substr(b, part.find_last_not_of(" \t") - b + 1);
        names.emplace_back(part);
    }
    return names;
}

std::vector<AlsaCardDevice> alsaCardDevices(snd_pcm_stream_t stream) {
    std::vector<AlsaCardDevice> list;
    snd_pcm_info_t* info = nullptr;
    snd_ctl_card_info_t* cardInfo = nullptr;
    if (snd_pcm_info_malloc(&info) < 0) return list;
    if (snd_ctl_card_info_malloc(&cardInfo) < 0) {
        snd_pcm_info_free(info);
        return list;
    }
    int card = -1;
    while (snd_card_next(&card) == 0 && card >= 0) {
        snd_ctl_t* ctl = nullptr;
        const std::string ctlName = "hw:" + std::to_string(card);
        if (snd_ctl_open(&ctl, ctlName.c_str(), 0) < 0) continue;  // a card we may not open is skipped
        if (snd_ctl_card_info(ctl, cardInfo) == 0) {
            const std::string name = snd_ctl_card_info_get_name(cardInfo);
            int device = -1;
            while (snd_ctl_pcm_next_device(ctl, &device) == 0 && device >= 0) {
                snd_pcm_info_set_device(info, unsigned(device));
                snd_pcm_info_set_subdevice(info, 0);
                snd_pcm_info_set_stream(info, stream);
                if (snd_ctl_pcm_info(ctl, info) == 0) list.push_back(AlsaCardDevice{card, device, name});
            }
        }
        snd_ctl_close(ctl);
    }
    snd_ctl_card_info_free(cardInfo);
    snd_pcm_info_free(info);
    return list;
}

bool alsaAccepts(const std::string& pcmName, snd_pcm_stream_t stream, int channels) {
    int err = 0;
    PcmHandle pcm = openPcm(pcmName, stream, err);
    if (!pcm) return false;
    snd_pcm_hw_params_t* raw = nullptr;
    if (snd_pcm_hw_params_malloc(&raw) < 0) return false;
    HwParams hw(raw);
    return restrict(pcm.get(), hw.get(), SND_PCM_FORMAT_S16_LE, channels, true) == 0;
}

bool alsaOpens(const std::string& pcmName, snd_pcm_stream_t stream) {
    int err = 0;
    return openPcm(pcmName, stream, err) != nullptr;
}

snd_pcm_t* openAlsaPcm(const std::string& pcmName, snd_pcm_stream_t stream, const WaveFormat& format,
                       std::error_code& error) {
    int err = 0;
    PcmHandle pcm = openPcm(pcmName, stream, err);
    if (!pcm) {
        error = alsaError(err);
        return nullptr;
    }
    const bool capture = stream == SND_PCM_STREAM_CAPTURE;
    snd_pcm_hw_params_t* rawHw = nullptr;
    snd_pcm_sw_params_t* rawSw = nullptr;
    if ((err = snd_pcm_hw_params_malloc(&rawHw)) < 0) {
        error = alsaError(err);
        return nullptr;
    }
    HwParams hw(rawHw);
    if ((err = snd_pcm_sw_params_malloc(&rawSw)) < 0) {
        error = alsaError(err);
        return nullptr;
    }
    SwParams sw(rawSw);
    const snd_pcm_format_t sampleFormat = format.bitsPerSample == 8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE;
    if (format.samplesPerSec != kRate) {
        // The program works at 11025 Hz only; another rate is a caller's mistake.
        error = std::make_error_code(std::errc::invalid_argument);
        return nullptr;
    }
    snd_pcm_uframes_t period = kPeriodFrames;
    snd_pcm_uframes_t ring = capture ? kCaptureRingFrames : kPlaybackRingFrames;
    if ((err = restrict(pcm.get(), hw.get(), sampleFormat, format.channels, false)) < 0 ||
        (err = snd_pcm_hw_params_set_period_size_near(pcm.get(), hw.get(), &period, nullptr)) < 0 ||
        (err = snd_pcm_hw_params_set_buffer_size_near(pcm.get(), hw.get(), &ring)) < 0 ||
        (err = snd_pcm_hw_params(pcm.get(), hw.get())) < 0) {
        error = alsaError(err);
        return nullptr;
    }
    (void)snd_pcm_hw_params_get_period_size(hw.get(), &period, nullptr);
    (void)snd_pcm_hw_params_get_buffer_size(hw.get(), &ring);
    if ((err = snd_pcm_sw_params_current(pcm.get(), sw.get())) < 0 ||
        (err = snd_pcm_sw_params_set_avail_min(pcm.get(), sw.get(), period)) < 0 ||
        // Playback starts once two periods are queued, so that a late block does not underrun at once.
        (!capture &&
         (err = snd_pcm_sw_params_set_start_threshold(pcm.get(), sw.get(), std::min(ring, 2 * period))) < 0) ||
        (err = snd_pcm_sw_params(pcm.get(), sw.get())) < 0) {
        error = alsaError(err);
        return nullptr;
    }
    error.clear();
    return pcm.release();
}

snd_pcm_t* openFirstAlsaPcm(const std::vector<std::string>& pcmNames, snd_pcm_stream_t stream, const WaveFormat& format,
                            std::error_code& error) {
    if (format.formatTag != kWaveFormatPcm || (format.bitsPerSample != 8 && format.bitsPerSample != 16) ||
        format.channels < 1) {
        error = std::make_error_code(std::errc::invalid_argument);
        return nullptr;
    }
    for (const std::string& name : pcmNames) {
        if (snd_pcm_t* pcm = openAlsaPcm(name, stream, format, error)) {
            error.clear();
            return pcm;
        }
    }
    return nullptr;  // `error` holds the last PCM's answer
}

}  // namespace kestavo::platform
