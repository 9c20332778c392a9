// The Help menu (the manual of the window's language, the about box), and what the monitoring panel
// and the window's size hand to the core for the next start; the about box's pictures.
#include <QDesktopServices>
#include <QtTest>

#include "app/help.h"
#include "gui_rig.h"
#include "ui/about_box.h"

using kestavo::ui::TAbt;
using kestavo::ui::testing::GuiRig;

namespace {

// Takes the file URLs the window hands to the desktop, instead of a viewer.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls.push_back(url); }
};

// Opens the about box from the menu and returns its caption and texts, "|"-separated; OK closes it.
QString aboutTexts(GuiRig& rig) {
    QString seen;
    QTimer::singleShot(0, [&seen] {
        auto* box = qobject_cast<TAbt*>(QApplication::activeModalWidget());
        if (!box) return;
        seen = QStringList{box->windowTitle(), box->Label2->text(), box->Lines[0]->text()}.join('|');
        QTest::mouseClick(box->BitBtn1, Qt::LeftButton);
    });
    rig.form->N7->trigger();
    return seen;
}

}  // namespace

class AboutBoxTest : public QObject {
    Q_OBJECT
private slots:
    void helpOpensTheManualAndAboutTheModalBoxOfTheWindowsLanguage() {
        GuiRig rig(1);
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler("file", &catcher, "open");
        const QString docs = QDir(KESTAVO_SOURCE_DIR "/docs/manual").canonicalPath();
        const QString version = QString::fromStdString(kestavo::app::AboutBoxTexts("English").title);
        QVERIFY(version.startsWith("Kestavo v."));  // the number is checked against the project's in the core's tests
        for (const char* code : {"en", "ru"}) {
            if (code[0] == 'r') rig.form->N12->trigger();
            rig.form->N5->trigger();
            QCOMPARE(QFileInfo(catcher.urls.takeFirst().toLocalFile()).canonicalFilePath(),
                     docs + "/" + code + "/manual.md");
        }
        QDesktopServices::unsetUrlHandler("file");
        QCOMPARE(aboutTexts(rig),
                 QString::fromUtf8("О программе|") + version +
                     QString::fromUtf8("|Многоканальная запись телефонных и радиолиний"));
        QVERIFY(rig.form->findChildren<TAbt*>().isEmpty());  // freed after it closes
        rig.form->English1->trigger();
        QCOMPARE(aboutTexts(rig), "About|" + version + "|Multi-channel recorder for telephone and radio lines");
    }

    void outputPivotAndHeightTheOperatorLeavesReachTheCore() {
        GuiRig rig(1);
        rig.form->ComboBox1->addItem("second output");  // the file-backed rig lists only the default
        emit rig.form->ComboBox1->activated(1);
        rig.form->inv_bar->setValue(3000);
        rig.form->show();
        QVERIFY(QTest::qWaitForWindowExposed(rig.form.get()));
        const int taller = rig.form->height() + 120;
        rig.form->resize(rig.form->width(), taller);
        QTRY_COMPARE(rig.core->Settings().HEIGHT, taller);
        QCOMPARE(rig.core->Settings().Device, 0);  // the entry after "WAVE_MAPPER"
        QCOMPARE(rig.core->Settings().Inv_Point, 3000);
        QCOMPARE(rig.form->Edit1->text(), QString("3000"));
    }

    // The about box in English and in Russian, for the documentation, when KESTAVO_UI_SCREENSHOTS
    // names a folder:
    //   KESTAVO_UI_SCREENSHOTS=docs QT_QPA_PLATFORM=xcb xvfb-run -a test_ui aboutScreenshots
    void aboutScreenshots() {
        const QString folder = kestavo::ui::testing::screenshotFolder();
        if (folder.isEmpty()) QSKIP("KESTAVO_UI_SCREENSHOTS is not set");
        for (const auto& [language, code] : {std::pair{"English", "en"}, {"Russian", "ru"}}) {
            TAbt box(language);
            QVERIFY(kestavo::ui::testing::saveShot(box, folder, QString("about-") + code));
        }
    }
};

int runAboutBoxTest(int argc, char** argv) {
    AboutBoxTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "about_box_test.moc"
