#pragma once
// BitReversedIndices: the reordering table of a radix-2 FFT — entry i is i with its lowest
// `log2Size` bits in reverse order. Computed once per transform object.
#include <vector>

namespace kestavo::dsp {

[[nodiscard]] inline std::vector<int> BitReversedIndices(int log2Size) {
    std::vector<int> table(std::size_t(1) << log2Size);
    for (int i = 0; i < int(table.size()); ++i) {
        int r = 0;
        for (int b = 0; b < log2Size; ++b)
            if (i & (1 << b)) r |= 1 << (log2Size - 1 - b);
        table[std::size_t(i)] = r;
    }
    return table;
}

}  // namespace kestavo::dsp
