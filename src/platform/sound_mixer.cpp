#include "platform/sound_mixer.h"

#include <algorithm>
#include <cmath>

namespace kestavo::platform {

int mixerVolumeOfRaw(long raw, long min, long max) noexcept {
    if (max <= min) return 0;
    const double share = double(std::clamp(raw, min, max) - min) / double(max - min);
    return int(std::lround(share * kMixerVolumeMax));
}

long mixerRawOfVolume(int volume, long min, long max) noexcept {
    if (max <= min) return min;
    const double share = double(std::clamp(volume, 0, kMixerVolumeMax)) / kMixerVolumeMax;
    return min + std::lround(share * double(max - min));
}

}  // namespace kestavo::platform
