#pragma once
// MonitorSink: where a monitored channel hands its processed blocks (the monitoring playback thread).
// Called on the channel thread after each block; must copy and return quickly.
#include <cstddef>
#include <cstdint>

namespace kestavo::capture {

class MonitorSink {
public:
    virtual ~MonitorSink() = default;
    virtual void PutBlock(const std::byte* block, std::uint32_t length, int bitsPerSample) = 0;
};

}  // namespace kestavo::capture
