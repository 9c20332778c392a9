#pragma once
// ReadLineSound: one side of any recording libsndfile reads, brought to the line rate.
//
// The file (or all of standard input, for "-") is decoded by libsndfile: WAV, FLAC, AIFF, Ogg and
// the rest, any sample format. A file already at 11025 Hz keeps its samples untouched (an 8-bit
// file stays 8-bit, as a channel recording 8-bit would see it); any other rate is resampled to
// 11025 Hz by libsoxr at high quality (a band limit near the new Nyquist frequency, no audible
// ripple) and handed over as 16-bit samples, rounded and clipped to the 16-bit range.
// Main thread of kestavo-detect.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestavo::tools {

struct LineSound {
    int bits = 16;                    // 8 or 16: the capture format the channel is given
    int sourceRate = 0;               // the file's own rate
    int sourceChannels = 0;           // the file's own channel count
    std::vector<std::uint8_t> bytes;  // one side, in the capture format (unsigned 8-bit or 16-bit little-endian)
};

// `path` "-" reads standard input to its end. `side` 0 is the first (left) channel, 1 the second.
// Nothing, with `error` set, when the input cannot be read or lacks the side.
[[nodiscard]] std::optional<LineSound> ReadLineSound(const std::string& path, int side, std::string& error);

}  // namespace kestavo::tools
