// Pictures of the window for the documentation (two lines recording, the first monitored, in
// English and in Russian), taken only when KESTAVO_UI_SCREENSHOTS names a folder. For the desktop's fonts:
//   KESTAVO_UI_SCREENSHOTS=docs QT_QPA_PLATFORM=xcb xvfb-run -a test_ui windowScreenshots
#include <QtTest>

#include "gui_rig.h"

class ScreenshotTest : public QObject {
    Q_OBJECT
private slots:
    void windowScreenshots() {
        const QString folder = QString::fromUtf8(qgetenv("KESTAVO_UI_SCREENSHOTS"));
        if (folder.isEmpty()) QSKIP("KESTAVO_UI_SCREENSHOTS is not set");
        kestavo::ui::testing::GuiRig rig(2);
        rig.form->show();
        QVERIFY(QTest::qWaitForWindowExposed(rig.form.get()));
        rig.form->Row(1)->ThresholdBar->setValue(-3000);
        rig.form->Row(2)->ThresholdBar->setValue(-1500);
        for (QAbstractButton* b : std::initializer_list<QAbstractButton*>{
                 rig.form->Row(1)->RecordButton, rig.form->Row(2)->RecordButton, rig.form->Row(1)->MonitorBox})
            QTest::mouseClick(b, Qt::LeftButton);
        for (const char* language : {"en", "ru"}) {
            if (language[0] == 'r') rig.form->N12->trigger();
            for (int i = 0; i < 90; ++i) {  // real-time lines: past the 4 s refresh of the status panels
                QTest::qWait(50);
                rig.ticks(1);
            }
            QVERIFY(rig.form->grab().save(folder + "/screenshot-" + language + ".png"));
        }
    }
};

int runScreenshotTest(int argc, char** argv) {
    ScreenshotTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "screenshot_test.moc"
