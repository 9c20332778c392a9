#pragma once
// Biquad: one second-order section (transposed direct form II) with Butterworth low- and high-pass
// designs by the bilinear transform. A cascade of two sections with Q 0.5412 and 1.3066 is the
// fourth-order Butterworth filter. Plain value; Filter() is one call per sample on the caller's thread.
#include <cmath>
#include <numbers>

namespace kestavo::plugins {

class Biquad {
public:
    // Q of the sections of a fourth-order Butterworth filter: 1 / (2 cos(pi/8)), 1 / (2 cos(3 pi/8)).
    static constexpr double kQ4a = 0.54119610;
    static constexpr double kQ4b = 1.30656296;
    static constexpr double kQ2 = 0.70710678;  // second order: 1 / sqrt 2

    static Biquad lowPass(double cornerHz, double rateHz, double q) noexcept {
        return design(cornerHz, rateHz, q, true);
    }
    static Biquad highPass(double cornerHz, double rateHz, double q) noexcept {
        return design(cornerHz, rateHz, q, false);
    }

    double Filter(double x) noexcept {
        const double y = b0_ * x + z1_;
        z1_ = b1_ * x - a1_ * y + z2_;
        z2_ = b2_ * x - a2_ * y;
        return y;
    }
    void Reset() noexcept { z1_ = z2_ = 0.0; }

private:
    static Biquad design(double cornerHz, double rateHz, double q, bool low) noexcept {
        const double w = 2.0 * std::numbers::pi * cornerHz / rateHz;
        const double alpha = std::sin(w) / (2.0 * q), c = std::cos(w), a0 = 1.0 + alpha;
        Biquad f;
        f.b1_ = (low ? 1.0 - c : -(1.0 + c)) / a0;
        f.b0_ = f.b2_ = (low ? (1.0 - c) / 2.0 : (1.0 + c) / 2.0) / a0;
        f.a1_ = -2.0 * c / a0;
        f.a2_ = (1.0 - alpha) / a0;
        return f;
    }
    double b0_ = 1.0, b1_ = 0.0, b2_ = 0.0;  // feed-forward coefficients, normalised by a0
    double a1_ = 0.0, a2_ = 0.0;             // feedback coefficients, normalised by a0
    double z1_ = 0.0, z2_ = 0.0;             // the two state values
};

}  // namespace kestavo::plugins
