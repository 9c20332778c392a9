// The level bar as painted: segments counted in the widget's image along its middle line, so the
// counts come from the pixels, compared with the documented single-precision table.
#include <QtTest>

#include "gui_rig.h"
#include "test_classes.h"
#include "ui/channel_row_widget.h"

using kestavo::app::BarRect;
namespace app = kestavo::app;
using kestavo::app::tbar;
using kestavo::ui::TLevelBar;
using kestavo::ui::testing::GuiRig;

namespace {

struct Painted {
    int green = 0, red = 0, white = 0;
    [[nodiscard]] int lit() const { return green + red + white; }
};

// Runs of one colour along the middle line of the widget's image.
Painted countSegments(QWidget& bar) {
    const QImage image = bar.grab().toImage();
    const int y = image.height() / 2;
    Painted p;
    QRgb previous = qRgb(0, 0, 0);
    for (int x = 0; x < image.width(); ++x) {
        const QRgb c = image.pixel(x, y) & 0xFFFFFF;
        if (c != previous) {
            if (c == (qRgb(0, 128, 0) & 0xFFFFFF))
                ++p.green;
            else if (c == (qRgb(255, 0, 0) & 0xFFFFFF))
                ++p.red;
            else if (c == (qRgb(255, 255, 255) & 0xFFFFFF))
                ++p.white;
        }
        previous = c;
    }
    return p;
}

}  // namespace

class LevelBarTest : public QObject {
    Q_OBJECT
private slots:
    void levelLightsSegmentsAsTheSinglePrecisionStepGives_data() {
        QTest::addColumn<double>("level");
        QTest::addColumn<int>("lit");
        QTest::newRow("0 dB lights all") << 0.0 << 50;
        QTest::newRow("-6 dB") << -6.0 << 47;
        QTest::newRow("+6 dB draws like -6 dB") << 6.0 << 47;
        QTest::newRow("-60 dB") << -60.0 << 2;
        QTest::newRow("-61 dB") << -61.0 << 1;
        QTest::newRow("-90 dB") << -90.0 << 1;
    }
    void levelLightsSegmentsAsTheSinglePrecisionStepGives() {
        QFETCH(double, level);
        QFETCH(int, lit);
        TLevelBar widget;
        widget.resize(300, 15);
        tbar bar(BarRect{0, 0, 300, 15}, app::BarOrientation::Horizontal, 50);
        bar.Update(level);
        widget.Show(bar);
        const Painted p = countSegments(widget);
        QCOMPARE(p.lit(), lit);
        QCOMPARE(p.white, 1);  // the peak marker, at the top lit segment on a first draw
    }

    void threeHundredPixelCellGivesFiveEachWithAOnePixelGap() {
        TLevelBar widget;
        widget.resize(300, 15);
        tbar bar(BarRect{0, 0, 300, 15}, app::BarOrientation::Horizontal, 50);
        bar.Update(0.0);
        widget.Show(bar);
        const QImage image = widget.grab().toImage();
        // Segment 1 covers x 0..4, the gap is x 5, the last segment ends at x 298.
        QCOMPARE(image.pixel(0, 7) & 0xFFFFFF, qRgb(0, 128, 0) & 0xFFFFFF);
        QCOMPARE(image.pixel(4, 7) & 0xFFFFFF, qRgb(0, 128, 0) & 0xFFFFFF);
        QCOMPARE(image.pixel(5, 7) & 0xFFFFFF, 0u);
        QCOMPARE(image.pixel(298, 7) & 0xFFFFFF, qRgb(255, 255, 255) & 0xFFFFFF);
        QCOMPARE(image.pixel(299, 7) & 0xFFFFFF, 0u);
    }

    void peakHoldsTwoDrawsThenFallsOneSegmentPerTwoDraws() {
        TLevelBar widget;
        widget.resize(300, 15);
        tbar bar(BarRect{0, 0, 300, 15}, app::BarOrientation::Horizontal, 50);
        bar.Update(0.0);
        std::vector<int> peaks;
        for (int draw = 0; draw < 4; ++draw) {
            bar.Update(-60.0);
            widget.Show(bar);
            const QImage image = widget.grab().toImage();
            int whiteAt = -1;
            for (int x = image.width() - 1; x >= 0 && whiteAt < 0; --x)
                if ((image.pixel(x, 7) & 0xFFFFFF) == (qRgb(255, 255, 255) & 0xFFFFFF)) whiteAt = x;
            peaks.push_back(whiteAt / 6 + 1);  // 6 px per segment in a 300 px bar
        }
        QCOMPARE(peaks, (std::vector<int>{50, 49, 49, 48}));
    }

    void thresholdSliderMovesTheFirstRedSegment_data() {
        QTest::addColumn<int>("position");
        QTest::addColumn<int>("redFrom");
        QTest::addColumn<QString>("cellText");
        QTest::newRow("0 dB") << 0 << 50 << "0.00";
        QTest::newRow("-10 dB") << -1000 << 42 << "-10.00";
        QTest::newRow("-20 dB") << -2000 << 34 << "-20.00";
        QTest::newRow("-30 dB") << -3000 << 25 << "-30.00";
        QTest::newRow("-60 dB") << -6000 << 1 << "-60.00";
    }
    void thresholdSliderMovesTheFirstRedSegment() {
        QFETCH(int, position);
        QFETCH(int, redFrom);
        QFETCH(QString, cellText);
        GuiRig rig(1);
        rig.form->show();
        auto* slider = rig.form->Row(1)->ThresholdBar;
        slider->setValue(-500);  // a change from wherever it starts
        slider->setValue(position);
        QCOMPARE(rig.cell(2, 2), cellText);
        // A full-scale level: every segment lit, the peak white on the top one.
        rig.core->Row(1)->bar.Update(0.0);
        rig.form->Refresh();
        const Painted p = countSegments(*rig.form->Row(1)->Bar);
        QCOMPARE(p.lit(), 50);
        QCOMPARE(p.green + 1, redFrom);
    }

    void levelColumnHoldsAllFiftySegments() {
        for (const char* language : {"English", "Russian"}) {
            GuiRig rig(1, {}, language);
            rig.form->show();
            rig.core->Row(1)->bar.Update(0.0);
            rig.form->Refresh();
            QCOMPARE(countSegments(*rig.form->Row(1)->Bar).lit(), 50);
            const auto& last = rig.form->Row(1)->Bar->Shown().Segment(50);
            QVERIFY(last.right <= rig.form->Row(1)->Bar->width());
        }
    }
};

KESTAVO_UI_TEST(LevelBarTest);

#include "level_bar_test.moc"
