// The threshold window's and the K1/K2 window's models over a started core: where the threshold
// line and the history are drawn, what the threshold slider sets in level and pulse mode, and the
// mixer controls against a mixer held in memory (line choice, volume scale, the echo of our own
// writes); the compressor curve and its current point.
#include <gtest/gtest.h>

#include <cmath>

#include "app/expand_curve.h"
#include "app/level_grid.h"
#include "app_fixture.h"
#include "platform/memory_mixer.h"

using namespace kestavo;
using namespace kestavo::app;
using namespace kestavo::app::testing;
namespace fs = std::filesystem;
using platform::MemoryMixer;
using platform::MemoryMixerLine;

namespace {

struct GridRig : CoreRig {
    GridRig() {
        input.devices = {device("Line", true, false)};
        writeIni(files.file, {"[MAIN]", "Language=English", "DIRS_D=0", "[Channels1]", "CompressMode1=0"});
        fs::copy_file(fs::path(KESTAVO_SOURCE_DIR) / "data" / "English.txt", files.programFolder / "English.txt");
        start();
    }
    Tkanal& row() { return *core->Row(1); }
};

MemoryMixerLine line(std::string name, long min, long max, long raw, bool hasVolume = true) {
    return MemoryMixerLine{std::move(name), hasVolume, min, max, {raw, raw}, true, true};
}

}  // namespace

TEST(LevelGrid, LevelThresholdMovesChannelRowAndBarAndItsLineSitsAtDbTimesHeightOverSixty) {
    GridRig rig;
    LevelGrid grid(*rig.core);
    ASSERT_TRUE(grid.Prepare(1, LevelGridMode::Level, nullptr));
    EXPECT_EQ(grid.Texts().caption, "Threshold of channel 1");
    EXPECT_EQ(std::pair(grid.SliderMin(), grid.SliderMax()), std::pair(-6000, 0));
    // Slider position, the threshold line's y (248 px for 60 dB), the value's text, the bar's first red segment.
    const std::tuple<int, int, std::string, int> cases[] = {
        {-1250, 52, "-12.50", 40}, {0, 0, "0.00", 50}, {-3000, 124, "-30.00", 25}, {-6000, 248, "-60.00", 1}};
    for (const auto& [position, y, text, redFrom] : cases) {
        grid.SliderMoved(position);
        const LevelGridPicture p = grid.Draw();
        EXPECT_EQ(p.threshold, (PixelLine{0, y, 296, y})) << position;
        EXPECT_EQ(grid.ValueText(), text);
        EXPECT_DOUBLE_EQ(rig.row().Settings().threshold, position * 0.01);
        EXPECT_EQ(rig.row().bar.RedFrom(), redFrom) << position;
    }
    // A quiet channel's history (-60 dB) lies on the bottom; the newest point is drawn first, at x = 300.
    const LevelGridPicture p = grid.Draw();
    ASSERT_EQ(p.history.size(), 300u);
    EXPECT_EQ(p.history.front(), (PixelLine{300, 248, 300, 248}));
    EXPECT_EQ(p.history.back(), (PixelLine{1, 248, 1, 248}));
    EXPECT_EQ(p.grid[1], (PixelLine{0, 25, 296, 25}));  // a tenth of 248 px, rounded
    EXPECT_EQ(p.grid[11], (PixelLine{30, 0, 30, 248}));
}

TEST(LevelGrid, PulseModeLabelsTheGraphAndMovesThePulseThresholdInTenThousandths) {
    GridRig rig;
    LevelGrid grid(*rig.core);
    ASSERT_TRUE(grid.Prepare(1, LevelGridMode::Pulse, nullptr));
    EXPECT_EQ(std::tuple(grid.Texts().caption, grid.Texts().top, grid.Texts().bottom),
              std::tuple(std::string("Pulse threshold of channel 1"), std::string("0.5"), std::string("0.0001")));
    EXPECT_EQ(std::pair(grid.SliderMin(), grid.SliderMax()), std::pair(1, 1000));
    // Position, the channel's pulse threshold, the text, the line's y (0.5 at the top of 248 px).
    const std::tuple<int, double, std::string, int> cases[] = {
        {1, 0.0001, "0.0001", 248}, {37, 0.0037, "0.0037", 246}, {1000, 0.1, "0.1000", 198}};
    for (const auto& [position, threshold, text, y] : cases) {
        grid.SliderMoved(position);
        EXPECT_NEAR(rig.row().Channel()->PulseThreshold(), threshold, 1e-12) << position;
        EXPECT_NEAR(rig.row().Settings().pulseThreshold, threshold, 1e-12);
        EXPECT_EQ(grid.ValueText(), text);
        EXPECT_EQ(grid.Draw().threshold.y0, y) << position;
    }
    EXPECT_DOUBLE_EQ(rig.row().Settings().threshold, 0.0);  // the level threshold stays
}

TEST(LevelGrid, StoredLineSelectsThatLineOrLineZeroWhenBeyondTheListAndSelectionIsStored) {
    for (const auto& [stored, selected] : {std::pair{1, 1}, {2, 0}, {7, 0}, {-1, 0}}) {
        GridRig rig;
        rig.row().SetMixerLine(stored);
        LevelGrid grid(*rig.core);
        std::vector<MemoryMixerLine> lines{line("Mic", 0, 31, 0), line("Line", 0, 31, 31)};
        ASSERT_TRUE(grid.Prepare(1, LevelGridMode::Level, std::make_unique<MemoryMixer>(lines)));
        EXPECT_EQ(grid.MixerLines(), (std::vector<std::string>{"Mic", "Line"}));
        EXPECT_EQ(grid.SelectedLine(), selected) << stored;
        EXPECT_EQ(rig.row().Settings().mixerLine, selected) << stored;
        EXPECT_EQ(grid.VolumePosition(), selected == 1 ? -65535 : 0);
        grid.SelectLine(0);
        EXPECT_EQ(rig.row().Settings().mixerLine, 0);
    }
    GridRig rig;  // no card: no lines, nothing selected, the stored line kept
    rig.row().SetMixerLine(3);
    LevelGrid grid(*rig.core);
    ASSERT_TRUE(grid.Prepare(1, LevelGridMode::Level, std::make_unique<MemoryMixer>()));
    EXPECT_FALSE(grid.HasMixer());
    EXPECT_EQ(grid.SelectedLine(), -1);
    EXPECT_EQ(rig.row().Settings().mixerLine, 3);
}

TEST(LevelGrid, VolumeIsScaledFromAndToTheCardsRangeAndALineWithoutVolumeHidesTheSlider) {
    // Card range, raw value read, the slider's position; a slider position written, the raw value it gives.
    const std::tuple<long, long, long, int, int, long> cases[] = {
        {0, 31, 14, -29596, -32768, 16},            // 14/31 of 65535 = 29596.45
        {-7, 8, 0, -30583, -32767, 0},              // 7/15 of 65535; 32767 is 7.4999 of 15 steps
        {-7, 8, 8, -65535, 0, -7},                  // the range's ends
        {-10239, 0, -5120, -32764, -65535, 0},      // 5119/10239 of 65535 = 32764.3
        {0, 65535, 12345, -12345, -54321, 54321}};  // the same scale
    for (const auto& [min, max, raw, position, written, rawWritten] : cases) {
        GridRig rig;
        LevelGrid grid(*rig.core);
        auto owned = std::make_unique<MemoryMixer>(std::vector{line("Capture", min, max, raw)});
        MemoryMixer& mixer = *owned;
        ASSERT_TRUE(grid.Prepare(1, LevelGridMode::Level, std::move(owned)));
        EXPECT_TRUE(grid.VolumeShown());
        EXPECT_EQ(grid.VolumePosition(), position) << min << ".." << max;
        grid.VolumeMoved(written);
        EXPECT_EQ(mixer.Line(0).raw, (std::vector<long>{rawWritten, rawWritten})) << min << ".." << max;
    }
    GridRig rig;
    LevelGrid grid(*rig.core);
    auto owned = std::make_unique<MemoryMixer>(std::vector{line("Aux", 0, 0, 0, false)});
    MemoryMixer& mixer = *owned;
    ASSERT_TRUE(grid.Prepare(1, LevelGridMode::Level, std::move(owned)));
    EXPECT_FALSE(grid.VolumeShown());
    grid.SwitchClicked(false);
    EXPECT_FALSE(mixer.Line(0).on);
}

TEST(LevelGrid, OwnWritesAreNotReadBackButOtherChangesAreWithoutStoringTheLine) {
    GridRig rig;
    LevelGrid grid(*rig.core);
    EXPECT_TRUE(LevelGrid::Open());
    auto owned = std::make_unique<MemoryMixer>(std::vector{line("Mic", 0, 31, 0), line("Line", 0, 31, 0)});
    MemoryMixer& mixer = *owned;
    ASSERT_TRUE(grid.Prepare(1, LevelGridMode::Level, std::move(owned)));
    grid.SelectLine(1);
    // 30000 is 14.19 steps of 31: the card keeps 14, which reads back as 29596. The echo of the
    // write must leave the operator's position alone.
    grid.VolumeMoved(-30000);
    EXPECT_EQ(mixer.Line(1).raw.front(), 14);
    EXPECT_EQ(grid.VolumePosition(), -30000);
    EXPECT_EQ(mixer.Writes(), 2);  // the volume and the switch, once each
    // Another program turns the line up and off; the index the operator stored elsewhere stays.
    rig.row().SetMixerLine(0);
    mixer.ChangeFromOutside(1, 20, false);
    const int before = grid.MixerRevision();
    grid.Poll();
    EXPECT_EQ(std::tuple(grid.VolumePosition(), grid.LineOn(), grid.SelectedLine()), std::tuple(-42281, false, 1));
    EXPECT_GT(grid.MixerRevision(), before);
    EXPECT_EQ(rig.row().Settings().mixerLine, 0);
}

TEST(ExpandCurve, SlidersSetTheCoefficientsAndTheCurveAndCurrentPointFollowThem) {
    GridRig rig;
    {
        ExpandCurve curve(*rig.core);
        EXPECT_TRUE(ExpandCurve::Open());
        ASSERT_TRUE(curve.Prepare(1));
        EXPECT_EQ(curve.Caption(), "Channel settings 1");
        EXPECT_EQ(std::pair(curve.K1Text(), curve.K2Text()),
                  std::pair(std::string("K1=1.80"), std::string("K2=7.00")));  // the configuration's defaults
        curve.K1Moved(250);
        curve.K2Moved(100);
        EXPECT_EQ(std::pair(curve.K1Text(), curve.K2Text()),
                  std::pair(std::string("K1=2.50"), std::string("K2=10.00")));
        EXPECT_DOUBLE_EQ(rig.row().Settings().k1, 2.5);
        EXPECT_DOUBLE_EQ(rig.row().Settings().k2, 10.0);
        curve.K1Moved(1);  // held at the slider's end
        EXPECT_DOUBLE_EQ(rig.row().Settings().k1, 0.2);
        curve.K1Moved(250);

        rig.row().level = -6.0;  // an amplitude of 10^-0.3 = 0.50119
        const ExpandPicture p = curve.Draw();
        // 325 px per input 1.0, 96 px per output 1.0 from the bottom of 288 px.
        ASSERT_EQ(p.curve.size(), 1502u);  // the corner, then inputs 0 .. 1.5 by 0.001
        EXPECT_EQ(p.curve.front(), (PixelPoint{0, 288}));
        EXPECT_EQ(p.curve[1 + 1000], (PixelPoint{325, 48}));  // 2.5 (1 - e^-10) = 2.49989 -> 240 px
        EXPECT_EQ(p.curve[1 + 200], (PixelPoint{65, 80}));    // 2.5 (1 - e^-2) = 2.16166 -> 208 px
        ASSERT_TRUE(p.current.has_value());
        EXPECT_EQ(p.current->centre, (PixelPoint{163, 50}));  // 162.9 px; 2.5 (1 - e^-5.0119) = 2.48335 -> 238 px
        EXPECT_EQ(p.current->input, (PixelRect{0, 285, 163, 288}));
        EXPECT_EQ(p.current->output, (PixelRect{0, 50, 3, 288}));
        EXPECT_EQ(p.outputTwoY, 96);
        rig.row().level = std::nan("");
        EXPECT_FALSE(curve.Draw().current.has_value());
    }
    EXPECT_FALSE(ExpandCurve::Open());
}
