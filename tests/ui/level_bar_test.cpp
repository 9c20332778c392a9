// The row's level bar widget draws what tbar computes (its arithmetic is tested with the core), read as
// the colour at the middle of each segment; the row's slider moves the threshold the bar shows.
#include <QtTest>

#include "gui_rig.h"
#include "ui/channel_row_widget.h"

using kestavo::app::BarOrientation;
using kestavo::app::BarRect;
using kestavo::app::tbar;
using kestavo::ui::testing::GuiRig;

namespace {

// Per segment of `bar` as `widget` drew it: g green, r red, w white (the peak), . anything else.
QString drawn(QWidget& widget, const tbar& bar) {
    const QImage image = widget.grab().toImage();
    QString s;
    for (int i = 1; i <= bar.SegmentCount(); ++i) {
        const BarRect& r = bar.Segment(i);
        const QRgb c = image.pixel((r.left + r.right) / 2, (r.top + r.bottom) / 2) & 0xFFFFFF;
        s += c == 0x008000 ? 'g' : c == 0xFF0000 ? 'r' : c == 0xFFFFFF ? 'w' : '.';
    }
    return s;
}

// What a bar in that state shows: lit segments green below the first red one, the peak white.
QString shown(const tbar& bar) {
    QString s;
    for (int i = 1; i <= bar.SegmentCount(); ++i)
        s += i == bar.Peak() ? 'w' : i > bar.Lit() ? '.' : bar.IsRed(i) ? 'r' : 'g';
    return s;
}

}  // namespace

class LevelBarTest : public QObject {
    Q_OBJECT
private slots:
    void rowSliderSetsTheThresholdAndTheRowsBarDrawsItsLitRedAndPeakSegmentsWithinItsColumn_data() {
        QTest::addColumn<int>("position");
        QTest::addColumn<QString>("cellText");
        QTest::addColumn<QString>("language");
        QTest::addColumn<QList<double>>("levels");
        QTest::newRow("full scale") << 0 << "0.00"
                                    << "English" << QList<double>{0.0};
        QTest::newRow("-6 dB over -10 dB") << -1000 << "-10.00"
                                           << "Russian" << QList<double>{-6.0};
        QTest::newRow("peak held above a fallen level") << -3000 << "-30.00"
                                                        << "English" << QList<double>{0.0, -60.0, -60.0, -60.0};
        QTest::newRow("silence") << -6000 << "-60.00"
                                 << "English" << QList<double>{-90.0};
    }
    void rowSliderSetsTheThresholdAndTheRowsBarDrawsItsLitRedAndPeakSegmentsWithinItsColumn() {
        QFETCH(int, position);
        QFETCH(QString, cellText);
        QFETCH(QString, language);
        QFETCH(QList<double>, levels);
        GuiRig rig(1, language.toStdString());
        rig.form->show();
        auto* row = rig.form->Row(1);
        row->ThresholdBar->setValue(-500);  // a change from wherever it starts
        row->ThresholdBar->setValue(position);
        QCOMPARE(rig.cell(2, 2), cellText);
        // The row's bar turns red where tbar does for the threshold the cell shows, and the widget in
        // the level column holds all 50 segments and draws the bar's state.
        tbar reference(BarRect{0, 0, 300, 15}, BarOrientation::Horizontal, 50);
        reference.SetThreshold(cellText.toDouble());
        auto& bar = rig.core->Row(1)->bar;
        QCOMPARE(bar.RedFrom(), reference.RedFrom());
        for (double level : levels) bar.Update(level);
        rig.form->Refresh();
        QVERIFY(row->Bar->Shown().Segment(50).right <= row->Bar->width());
        QCOMPARE(drawn(*row->Bar, row->Bar->Shown()), shown(bar));
    }
};

int runLevelBarTest(int argc, char** argv) {
    LevelBarTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "level_bar_test.moc"
