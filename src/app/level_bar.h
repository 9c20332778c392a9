#pragma once
// tbar: the segmented level bar of a channel row, with a falling peak marker, as plain arithmetic:
// segment geometry for a rectangle, the number of lit segments for a level, the first red segment
// for a threshold and the peak's hold and fall. Levels are in dB (-60 .. 0); the sign of a level
// is ignored. The window draws what it computes.
//
// Threads: main thread only.
#include <cstdint>
#include <vector>

namespace kestavo::app {

struct BarRect {
    int left = 0, top = 0, right = 0, bottom = 0;  // right and bottom exclusive, px
    friend bool operator==(const BarRect&, const BarRect&) = default;
};

// Vertical bars light their segments bottom-up, horizontal ones left to right.
enum class BarOrientation { Vertical, Horizontal };

class tbar {
public:
    static constexpr int kHoldDraws = 2;  // draws the peak stays before it falls one segment

    tbar(BarRect rect, BarOrientation orientation, int segmentCount);

    // The dB one segment stands for: |dB| / SegmentCount, kept in single precision.
    void SetRange(double dB);
    // The first red segment: the whole segments below the threshold (60 - |dB| over the segment
    // step), plus one.
    void SetThreshold(double dB);
    // New rectangle: the segments are recomputed.
    void Place(BarRect rect);
    // One draw's arithmetic: the lit count and the peak marker for `levelDb`.
    void Update(double levelDb);

    [[nodiscard]] int SegmentCount() const noexcept { return segmentCount_; }
    [[nodiscard]] float DbPerSegment() const noexcept { return dbPerSegment_; }
    [[nodiscard]] int RedFrom() const noexcept { return redFrom_; }
    [[nodiscard]] int Lit() const noexcept { return lit_; }
    [[nodiscard]] int Peak() const noexcept { return peak_; }
    // Segment i (1-based) inside the bar's own image (origin at its top-left corner).
    [[nodiscard]] const BarRect& Segment(int i) const { return segments_.at(std::size_t(i - 1)); }
    [[nodiscard]] const BarRect& Target() const noexcept { return target_; }
    // Whether segment i is drawn red (at or above RedFrom) rather than green.
    [[nodiscard]] bool IsRed(int i) const noexcept { return i >= redFrom_; }

private:
    void computeSegments_();

    BarRect target_;  // the grid cell the image is copied into
    BarOrientation orientation_;
    int segmentCount_;
    float dbPerSegment_ = 1.2f;   // range / segment count
    int redFrom_ = 50;            // first red segment
    int lit_ = 1;                 // segments lit at the last draw
    int peak_ = 1;                // segment of the peak marker
    std::uint8_t holdCount_ = 0;  // draws since the peak last rose or fell
    std::vector<BarRect> segments_;
};

}  // namespace kestavo::app
