// Pictures of the window for the documentation, taken only when KESTAVO_UI_SCREENSHOTS names a
// folder: two file-backed lines recording, the first one monitored, once in English and once in
// Russian. Run it on a real display server (Xvfb) so the fonts are the desktop's:
//   KESTAVO_UI_SCREENSHOTS=docs QT_QPA_PLATFORM=xcb xvfb-run -a test_ui windowScreenshots
#include <QtTest>

#include "gui_rig.h"
#include "test_classes.h"

using kestavo::ui::testing::GuiRig;

class ScreenshotTest : public QObject {
    Q_OBJECT
private slots:
    void windowScreenshots() {
        const QByteArray folder = qgetenv("KESTAVO_UI_SCREENSHOTS");
        if (folder.isEmpty()) QSKIP("KESTAVO_UI_SCREENSHOTS is not set");
        GuiRig rig(2);
        rig.form->show();
        QVERIFY(QTest::qWaitForWindowExposed(rig.form.get()));
        rig.form->Row(1)->ThresholdBar->setValue(-3000);
        rig.form->Row(2)->ThresholdBar->setValue(-1500);
        QTest::mouseClick(rig.form->Row(1)->RecordButton, Qt::LeftButton);
        QTest::mouseClick(rig.form->Row(2)->RecordButton, Qt::LeftButton);
        QTest::mouseClick(rig.form->Row(1)->MonitorBox, Qt::LeftButton);
        // The lines deliver in real time: let a few blocks reach the channels and the bars.
        auto run = [&](int ticks) {
            for (int i = 0; i < ticks; ++i) {
                QTest::qWait(50);
                rig.ticks(1);
            }
        };
        run(90);  // past the 4 s refresh of the status panels
        QVERIFY(rig.form->grab().save(QString::fromUtf8(folder) + "/screenshot-en.png"));
        rig.form->N12->trigger();
        run(90);  // past the 4 s refresh of the status panels
        QVERIFY(rig.form->grab().save(QString::fromUtf8(folder) + "/screenshot-ru.png"));
    }
};

KESTAVO_UI_TEST(ScreenshotTest);

#include "screenshot_test.moc"
