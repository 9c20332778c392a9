#pragma once
// ExpandCurve: what the K1/K2 window (TExpandform) holds and does, without widgets.
//
// The channel's compressor maps an input amplitude x (linear, 1.0 = full scale) to
// K1 * (1 - e^(-K2 * x)): K1 is the output the curve approaches, K2 how fast it gets there. The
// window draws that curve for inputs 0 .. 1.5 across a box whose width stands for input 1.0 and
// whose height for outputs 0 .. 3, marks where the row's current level sits on it, and moves the
// two coefficients with its sliders: K1 = position x 0.01 (0.20 .. 5.00), K2 = position x 0.1
// (0.0 .. 30.0). A move sets the channel's coefficient and the row's copy at once.
//
// One K1/K2 window exists at a time: Open() says whether a model exists.
//
// Threads: main thread only; the row's level is refreshed by the main window's timer.
#include <optional>
#include <string>
#include <vector>

#include "app/app_core.h"

namespace kestavo::app {

struct PixelPoint {
    int x = 0, y = 0;
    friend bool operator==(const PixelPoint&, const PixelPoint&) = default;
};

struct PixelRect {
    int left = 0, top = 0, right = 0, bottom = 0;  // right and bottom exclusive
    friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

// Where the row's current level sits on the curve (red).
struct CurrentPoint {
    PixelRect input;    // along the bottom, from the left edge to the input, 3 px high
    PixelRect output;   // along the left edge, from the bottom up to the output, 3 px wide
    PixelPoint centre;  // of a circle kDotDiameter across
};

// One drawing: white, the curve (black polyline from the bottom-left corner), the current point,
// and a line across the box at output 2.0.
struct ExpandPicture {
    int width = 0, height = 0;
    std::vector<PixelPoint> curve;
    std::optional<CurrentPoint> current;  // none when the level gives no amplitude
    int outputTwoY = 0;
};

class ExpandCurve {
public:
    static constexpr int kBoxWidth = 325, kBoxHeight = 288;  // px: the paint box
    static constexpr int kTimerMs = 50;
    static constexpr int kK1Min = 20, kK1Max = 500;  // 0.01 per step
    static constexpr int kK2Min = 0, kK2Max = 300;   // 0.1 per step
    static constexpr int kDotDiameter = 4;           // px
    static constexpr int kBarThickness = 3;          // px

    explicit ExpandCurve(AppCore& core);
    ~ExpandCurve();
    ExpandCurve(const ExpandCurve&) = delete;
    ExpandCurve& operator=(const ExpandCurve&) = delete;

    [[nodiscard]] static bool Open() noexcept { return instances_ > 0; }

    // For channel k (1-based); false when the core has no such channel.
    bool Prepare(int k);
    [[nodiscard]] int ChannelNumber() const noexcept { return k_; }
    // "Настройка канала k" in Russian, "Channel settings k" otherwise; the group's title likewise.
    [[nodiscard]] const std::string& Caption() const noexcept { return caption_; }
    [[nodiscard]] const std::string& GroupTitle() const noexcept { return group_; }

    [[nodiscard]] int K1Position() const noexcept { return k1_; }
    [[nodiscard]] int K2Position() const noexcept { return k2_; }
    [[nodiscard]] std::string K1Text() const;  // "K1=1.80"
    [[nodiscard]] std::string K2Text() const;  // "K2=7.60"
    void K1Moved(int position);
    void K2Moved(int position);

    // One drawing with the row's level as it stands.
    [[nodiscard]] ExpandPicture Draw() const;

private:
    void keep_();

    static inline int instances_ = 0;
    AppCore& core_;
    int k_ = 0;
    int k1_ = 180, k2_ = 76;  // slider positions
    std::string caption_, group_;
};

}  // namespace kestavo::app
