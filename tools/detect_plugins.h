#pragma once
// runPlugins: kestavo-detect's plug-in pass. Runs decoder plug-ins, given as .plg files anywhere,
// over one side of a recording whatever a channel would be doing, and prints each result as
//   {"sample":N,"kind":"plugin","text":"...","extra":"...","action":CODE}
// N being the 0-based index of the sample on which the plug-in reported. Each file is copied into
// a private program folder (removed afterwards) and attached through the host as it would be to
// channel 1, 2, ... in the order given, so the same file given twice runs as two copies.
// Called once, on the tool's main thread.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace kestavo::tools {

// `samples`: the side's sample bytes as captured, `bits` 8 (unsigned) or 16 (signed, little-endian).
// False with `error` set when a file cannot be attached (then nothing is printed).
[[nodiscard]] bool runPlugins(const std::vector<std::string>& files, const std::vector<std::uint8_t>& samples, int bits,
                              std::FILE* out, std::string& error);

}  // namespace kestavo::tools
