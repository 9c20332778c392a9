#pragma once
// handovers, numbers: run a number detector (T_DTMF, t_aon, TPulse_detector: anything whose
// Process(double) returns a string_view that is empty unless a number came out) over a signal.
#include <cstddef>
#include <string>
#include <vector>

#include "support/signal_gen.h"

namespace kestavo::test {

struct Handover {
    std::size_t sample;  // index of the sample on which the number came out
    std::string text;
};

template <typename Detector>
[[nodiscard]] std::vector<Handover> handovers(Detector& d, const Signal& s) {
    std::vector<Handover> out;
    for (std::size_t n = 0; n < s.size(); ++n)
        if (const auto t = d.Process(s[n]); !t.empty()) out.push_back({n, std::string(t)});
    return out;
}

// Only the texts, in order.
template <typename Detector>
[[nodiscard]] std::vector<std::string> numbers(Detector& d, const Signal& s) {
    std::vector<std::string> out;
    for (const Handover& h : handovers(d, s)) out.push_back(h.text);
    return out;
}

}  // namespace kestavo::test
