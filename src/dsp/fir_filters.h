#pragma once
// Tfir and TLPF: a linear-phase FIR designer, and the filter the pulse-dial detector runs.
//
// TLPF is in fact a high-pass; the name is kept as the system's vocabulary.
//
// Design (Tfir). The ideal response with a straight-line transition band between the edges e1 and e2
// (cycles per sample) has the impulse response
//     low-pass:  h[0] = e1 + e2,      h[n] =  (cos 2 pi n e1 - cos 2 pi n e2) / (pi^2 n^2 (e2 - e1)) / 2
//     high-pass: h[0] = 1 - (e1 + e2), h[n] = -(same)
// (the trapezoid's transform), truncated to Taps coefficients without a window and mirrored around
// the centre, so the filter delays by (Taps - 1) / 2 samples. The pulse detector uses a 15-tap
// high-pass with the transition 3400 ... 3450 Hz at 11025 Hz: short and gentle, it keeps the sharp
// clicks of a dial and takes away most of the speech band.
//
// Threads: TLPF is owned and called by one detector on its channel thread; Filter is allocation-free.
#include <vector>

namespace kestavo::dsp {

class Tfir {
public:
    enum class Kind { LowPass, HighPass };
    static constexpr int kMaxTaps = 1025;

    // taps: clamped to 1 ... 1025 and made odd by adding one. edge1, edge2: the transition band,
    // relative to the Nyquist frequency (1.0 = half the sample rate).
    Tfir(Kind kind, int taps, double edge1, double edge2);

    // The Taps symmetric coefficients.
    [[nodiscard]] const std::vector<double>& Coefficients() const noexcept { return coefficients_; }

private:
    std::vector<double> coefficients_;  // taps coefficients, symmetric
};

class TLPF {
public:
    // A high-pass (despite the name) of order (taps - 1) at sampleRateHz whose transition band runs
    // from cutoffHz to cutoffHz + 50 Hz; the pulse detector builds TLPF(14, 11025, 3400). order is
    // clamped to 0 ... 1024.
    TLPF(int order, int sampleRateHz, int cutoffHz);

    // Pushes one sample and returns the filtered sample: sum over j of delay[j] * c[j], newest first.
    double Filter(double x) noexcept {
        pos_ = pos_ == 0 ? taps_ - 1 : pos_ - 1;
        delay_[pos_] = x;
        delay_[pos_ + taps_] = x;
        const double* d = delay_.data() + pos_;
        double sum = 0.0;
        for (int j = 0; j < taps_; ++j) sum += d[j] * coefficients_[j];
        return sum;
    }

    // Clears the delay line.
    void Reset() noexcept;

    [[nodiscard]] const std::vector<double>& Coefficients() const noexcept { return coefficients_; }

private:
    int taps_;                          // order + 1
    std::vector<double> coefficients_;  // copied from the designer
    // The latest taps_ inputs, kept twice (at pos_ + j and pos_ + j + taps_) so that the newest-first
    // view delay_[pos_ ... pos_ + taps_ - 1] is contiguous without shifting.
    std::vector<double> delay_;
    int pos_ = 0;  // where the newest sample sits
};

}  // namespace kestavo::dsp
