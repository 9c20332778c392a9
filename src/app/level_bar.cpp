#include "app/level_bar.h"

#include <cmath>

namespace kestavo::app {

tbar::tbar(BarRect rect, BarOrientation orientation, int segmentCount)
    : target_(rect), orientation_(orientation), segmentCount_(segmentCount > 0 ? segmentCount : 1) {
    SetRange(60.0);
    computeSegments_();
}

void tbar::SetRange(double dB) { dbPerSegment_ = float(std::fabs(dB / segmentCount_)); }

void tbar::SetThreshold(double dB) {
    // The quotient is taken against the single-precision step, so 60 / 1.2f falls just below 50.
    redFrom_ = int(std::trunc((60.0 - std::fabs(dB)) / double(dbPerSegment_))) + 1;
}

void tbar::Place(BarRect rect) {
    target_ = rect;
    computeSegments_();
}

void tbar::computeSegments_() {
    segments_.assign(std::size_t(segmentCount_), BarRect{});
    const int width = target_.right - target_.left;
    const int height = target_.bottom - target_.top;
    if (orientation_ == BarOrientation::Horizontal) {
        const int size = width / (segmentCount_ + 1);
        const int gap = int(std::trunc(size * 0.25));
        for (int i = 1; i <= segmentCount_; ++i) {
            const int x = (i - 1) * (size + gap);
            segments_[std::size_t(i - 1)] = BarRect{x, 0, x + size, height};
        }
    } else {
        const int size = height / segmentCount_;
        const int gap = int(std::trunc(size * 0.25));
        for (int i = 1; i <= segmentCount_; ++i) {
            const int bottom = height - (i - 1) * (size + gap);
            segments_[std::size_t(i - 1)] = BarRect{0, bottom - size, width, bottom};
        }
    }
}

void tbar::Update(double levelDb) {
    const double steps = std::trunc(std::fabs(levelDb) / double(dbPerSegment_));
    const double lit = double(segmentCount_) - steps + 1.0;
    lit_ = lit < 1.0 ? 1 : (lit > segmentCount_ ? segmentCount_ : int(lit));
    if (lit_ >= peak_) {
        peak_ = lit_;
        holdCount_ = 0;
    } else if (++holdCount_ >= kHoldDraws) {
        peak_ = peak_ > 1 ? peak_ - 1 : 1;
        holdCount_ = 0;
    }
}

}  // namespace kestavo::app
