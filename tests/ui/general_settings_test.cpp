// The general settings window over a started core: opened from the menu, a percentage above 100
// applies nothing after the autostart switch has acted; and the documentation's pictures.
#include <QtTest>

#include "config/autostart.h"
#include "gui_rig.h"
#include "ui/general_settings_dialog.h"

using kestavo::ui::TForm4;
using kestavo::ui::testing::GuiRig;

namespace {

class GeneralSettingsTest : public QObject {
    Q_OBJECT
private slots:
    void autostartActsAtOnceWhileAPercentageAbove100AppliesNothing() {
        GuiRig rig(1);
        rig.core->EditSettings().AUTO = true;
        QVERIFY(!kestavo::config::ApplyAutostart(rig.files, true));
        const auto before = rig.core->Settings();
        const auto panels = rig.core->StatusPanels();
        QStringList notes;
        bool shownFilled = false, removedAtOnce = false;
        rig.form->generalSettingsShown = [&](TForm4& d) {
            d.showNote = [&](const QString& text) { notes << text; };
            QTimer::singleShot(0, &d, [&, w = &d] {
                shownFilled = w->isVisible() && w->CheckBox3->isChecked() && !w->CheckBox2->isVisible();
                w->CheckBox3->click();
                removedAtOnce = !std::filesystem::exists(rig.files.autostartEntry);
                w->CheckBox8->click();
                w->Edit3->setText("front-desk");
                w->Edit7->setText("101");
                QTest::mouseClick(w->BitBtn1, Qt::LeftButton);
            });
        };
        rig.form->N3->trigger();
        QVERIFY(shownFilled && removedAtOnce);
        QCOMPARE(notes, QStringList{"More than 100% of free space, unfortunately, does not exist"});
        auto expected = before;
        expected.AUTO = false;
        QVERIFY(rig.core->Settings() == expected);
        QVERIFY(rig.core->StatusPanels() == panels);
    }

    // Pictures of the window for the documentation, taken only when KESTAVO_UI_SCREENSHOTS names a folder:
    //   KESTAVO_UI_SCREENSHOTS=docs QT_QPA_PLATFORM=xcb xvfb-run -a test_ui generalSettingsScreenshots
    void generalSettingsScreenshots() {
        const QString folder = kestavo::ui::testing::screenshotFolder();
        if (folder.isEmpty()) QSKIP("KESTAVO_UI_SCREENSHOTS is not set");
        for (const char* language : {"English", "Russian"}) {
            GuiRig rig(1, language);
            TForm4 d(*rig.core, &rig.password);
            d.Edit1->setText("rec@archive");
            d.Edit2->setText("45000");
            QVERIFY(kestavo::ui::testing::saveShot(d, folder,
                                                   QString("general-settings-") + (language[0] == 'R' ? "ru" : "en")));
            d.Abandon();
        }
    }
};

}  // namespace

int runGeneralSettingsTest(int argc, char** argv) {
    GeneralSettingsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "general_settings_test.moc"
