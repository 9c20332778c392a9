#pragma once
// Tshow_level: the short queue that hands the channel's 50 ms levels to the display.
//
// It holds one channel buffer's worth of values (the newest last). Each time a buffer's worth has been
// pushed the reader starts again from the oldest, so the display replays the levels of the last
// buffer at their own pace; once it has caught up it keeps getting the newest value.
// Push on the channel thread, Pop on the main thread: the owner serialises them.
#include <cmath>
#include <cstdint>
#include <vector>

namespace kestavo::dsp {

class Tshow_level {
public:
    // Capacity = round(samplesPerBuffer / (sampleRate * 0.05)), at least 1 (a buffer shorter than
    // 25 ms still gets one value, so the display always has something to show).
    Tshow_level(std::int32_t samplesPerBuffer, std::int32_t sampleRate)
        : Capacity(std::max<std::int32_t>(1, std::int32_t(std::nearbyint(samplesPerBuffer / (sampleRate * 0.05))))),
          Values(std::size_t(Capacity), -60.0) {}

    void Push(double level) noexcept {
        for (std::int32_t i = 1; i < Capacity; ++i) Values[std::size_t(i - 1)] = Values[std::size_t(i)];
        Values[std::size_t(Capacity - 1)] = level;
        WriteCount += 1;
        if (WriteCount >= Capacity) {
            WriteCount = 0;
            ReadIndex = 0;
        }
    }
    double Pop() noexcept {
        const double v = Values[std::size_t(ReadIndex)];
        if (ReadIndex < Capacity - 1) ReadIndex += 1;
        LastValue = v;
        return v;
    }

    std::int32_t Capacity;        // 50 ms values one channel buffer yields (30 for 16384 samples)
    std::vector<double> Values;   // dB, newest last
    std::int32_t WriteCount = 0;  // values pushed since the queue last wrapped
    std::int32_t ReadIndex = 0;   // next position to read
    double LastValue = -60.0;     // value read last
};

}  // namespace kestavo::dsp
