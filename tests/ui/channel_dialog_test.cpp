// The channel settings window over a started core: opened from the row's settings button, its
// controls change how the channel records a file-backed line and what tevra4.ini holds; Enter,
// Escape and the close box; the small windows it opens; texts that fit in both languages at 96
// and 144 dpi; and the documentation's pictures.
#include <QMessageBox>
#include <QScopeGuard>
#include <QtTest>
#include <fstream>

#include "config/ini_file.h"
#include "gui_rig.h"
#include "ui/channel_dialog.h"
#include "ui/control_list_dialog.h"
#include "ui/cut_dialog.h"
#include "ui/folder_dialog.h"
#include "ui/period_dialog.h"
#include "ui/plugin_chooser_dialog.h"

using kestavo::ui::TForm2;
using kestavo::ui::testing::GuiRig;
using kestavo::ui::testing::onNextModal;
namespace fs = std::filesystem;
namespace test = kestavo::test;

namespace {

// One fast-paced line: 2 s of faint line noise, 4 s of speech peaking at -10 dB, then 20 s of
// line noise, channel 1 set up by `ini`.
GuiRig speechRig(const std::vector<std::string>& ini) {
    test::Signal s = test::silence(test::samplesOf(2000.0));
    test::append(s, test::speechLike(4.0, test::amplitudeOf(-10.0), 3));
    test::append(s, test::silence(test::samplesOf(20000.0)));
    test::mixInto(s, test::noise(test::amplitudeOf(-60.0), s.size(), 5));
    return GuiRig({.lines = {s}, .ini = ini, .fastPace = true});
}

// Every text of `w`'s labels, buttons and group titles, with the width it was given.
bool everyTextFits(QWidget& w, QString& failed) {
    const auto fits = [&](QWidget* c, const QString& text, int need) {
        if (!c->isVisibleTo(&w) || text.isEmpty()) return true;
        if (need <= c->width()) return true;
        failed = QString("%1 \"%2\": %3 < %4").arg(c->objectName(), text).arg(c->width()).arg(need);
        return false;
    };
    // Labels and buttons: what their style says the text with its frame or box needs.
    for (auto* l : w.findChildren<QLabel*>())
        if (!fits(l, l->text(), l->sizeHint().width())) return false;
    for (auto* b : w.findChildren<QAbstractButton*>())
        if (!fits(b, b->text(), b->sizeHint().width())) return false;
    for (auto* g : w.findChildren<QGroupBox*>()) {
        const QFontMetrics fm(g->font());
        if (!fits(g, g->title(), fm.horizontalAdvance(g->title()) + fm.height())) return false;
    }
    return true;
}

}  // namespace

class ChannelDialogTest : public QObject {
    Q_OBJECT
private slots:
    void settingsButtonOpensTheWindowAndItsSettingsDecideWhatTheLineRecords() {
        // Level mode at 0 dB never records this line; voice mode, combined with a -30 dB threshold
        // and a 2 s stop delay, records the speech into one file.
        GuiRig rig = speechRig({"DIRS_D=0", "[Channels1]", "CompressMode1=0", "VOXmode1=0", "POROG1=0", "auto1=1",
                                "PREFIX1=K_", "Pred_Time1=1", "Min_Time1=0", "zad_stop1=15"});
        rig.form->Row(1)->ThresholdBar->setValue(-3000);  // the row's slider: -30.00 dB
        bool shown = false;
        rig.form->settingsDialogShown = [&](TForm2& dialog) {
            shown = true;
            QTimer::singleShot(0, [&dialog] {
                QTest::mouseClick(dialog.Radio[1], Qt::LeftButton);  // "Голосу"
                QTest::mouseClick(dialog.Cmb, Qt::LeftButton);
                dialog.TrackBar1->setValue(5);  // 0.5 s
                dialog.TrackBar2->setValue(30);
                QTest::keyClick(dialog.TrackBar2, Qt::Key_PageDown);  // ten steps down: 2.0 s
                QTest::mouseClick(dialog.BitBtn1, Qt::LeftButton);
            });
        };
        QTest::mouseClick(rig.form->Row(1)->SettingsButton, Qt::LeftButton);
        QVERIFY(shown);
        QCOMPARE(int(rig.core->Row(1)->Channel()->Mode()), 1);
        rig.playToTheEnd();

        const auto files = test::completeWavFiles(rig.files.programFolder / "SOUND");
        QCOMPARE(int(files.size()), 1);
        const QString name = QString::fromStdString(files[0].filename().string());
        // Voice is found within a second of its start (16:05:11 .. 16:05:12).
        QVERIFY2(name == "K_05_12_2026 16_05_11_1.wav" || name == "K_05_12_2026 16_05_12_1.wav", qPrintable(name));
        const double seconds = double(test::readWav(files[0])->samples16().size()) / kestavo::kLineRate;
        // A second of pre-record before a start 2..3 s into the line, to the level staying below
        // -30 dB for the 2 s stop delay after the speech ends at 6 s (its envelope falls the 20 dB in
        // well under a second): 6 + 2 - (3 - 1) = 6 s at the least, 6 + 2 + 1 - (2 - 1) = 8 s at the
        // most. The stop delay of 15 s the window replaced would give more than 19 s.
        QVERIFY2(seconds >= 6.0 && seconds <= 8.0, qPrintable(QString::number(seconds)));

        rig.form->QuitFromOutside();  // saves every channel's keys
        kestavo::config::IniFile ini(rig.files.file, '.');
        QCOMPARE(QString::fromStdString(ini.readString("Channels1", "VOXmode1", "")), QString("1"));
        QCOMPARE(QString::fromStdString(ini.readString("Channels1", "ComboRec1", "")), QString("1"));
        QCOMPARE(QString::fromStdString(ini.readString("Channels1", "zad_rec1", "")), QString("0.5"));
        QCOMPARE(QString::fromStdString(ini.readString("Channels1", "zad_stop1", "")), QString("2"));
        QCOMPARE(QString::fromStdString(ini.readString("Channels1", "POROG1", "")), QString("-30"));
    }

    void enterAppliesOnceEscapeAppliesNothingAndTheCloseBoxApplies() {
        GuiRig rig(1);
        auto* row = rig.core->Row(1);
        QStringList notes;
        auto open = [&] {
            auto d = std::make_unique<TForm2>(*rig.core);
            d->showNote = [&](const QString& t) { notes << t; };
            d->Load(1);
            d->show();
            return d;
        };
        const int kbps = row->Settings().mp3Bitrate;
        QCOMPARE(kbps, 32);  // what the set-up gives a channel made of every input
        {
            auto d = open();
            QCOMPARE(d->ComboBox1->currentText(), QString("32"));
            QCOMPARE(d->BitrateNote->text(), QString("encoded at 32 kbit/s"));
            d->ComboBox1->setEditText("112");
            QCOMPARE(d->BitrateNote->text(), QString("encoded at 64 kbit/s"));
            d->Edit6->setFocus();
            d->Edit6->selectAll();
            QTest::keyClicks(d->Edit6, "42");
            QTest::keyClick(d->Edit6, Qt::Key_Escape);
            QVERIFY(!d->isVisible());
            QCOMPARE(row->MaxRecordMinutes(), 15);
        }
        {
            auto d = open();
            d->Edit2->setText("x");  // K1
            d->Edit6->setText("42");
            QTest::keyClick(d->Edit6, Qt::Key_Return);  // "ВВОД", then the closing
            QVERIFY(!d->isVisible());
            QCOMPARE(notes, QStringList{"Error in K1"});
            QCOMPARE(row->MaxRecordMinutes(), 15);  // after K1: not applied
            d->close();
            QCOMPARE(notes.size(), 1);
        }
        {
            auto d = open();
            QCOMPARE(d->Edit2->text(), QString("1.80"));

            d->Edit6->setText("42");
            d->close();  // the close box
            QCOMPARE(row->MaxRecordMinutes(), 42);
            QCOMPARE(row->Settings().mp3Bitrate, kbps);  // the escaped 112 never reached the row
        }
        {
            auto d = open();
            QVERIFY(QTest::qWaitForWindowActive(d.get()));
            d->Edit8->setFocus();
            QStringList chain;  // Tab from the prefix on
            for (int i = 0; i < 5; ++i) {
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
                chain << QApplication::focusWidget()->objectName();
            }
            QCOMPARE(chain, (QStringList{"Button2", "CheckBox1", "Edit2", "Edit3", "BitBtn3"}));
            d->Edit6->setText("43");
            d->ComboBox1->setFocus();
            QTest::keyClick(d->ComboBox1->lineEdit(), Qt::Key_Return);  // Enter in the bit rate box is "ВВОД" too
            QVERIFY(!d->isVisible());
            QCOMPARE(row->MaxRecordMinutes(), 43);
        }
        QCOMPARE(notes.size(), 1);
    }

    void aQuitFromOutsideClosesAnOpenSettingsWindowWithoutTouchingTheFreedRows() {
        GuiRig rig(1);
        rig.form->show();
        rig.form->settingsDialogShown = [&](TForm2& dialog) {
            QTimer::singleShot(0, [&] {
                dialog.Edit6->setText("42");
                rig.form->QuitFromOutside();
                // Were the window still open, closing it now would apply to a row that is gone.
                QTimer::singleShot(0, &dialog, [&dialog] { dialog.close(); });
            });
        };
        QTest::mouseClick(rig.form->Row(1)->SettingsButton, Qt::LeftButton);
        QVERIFY(!rig.core->Running());
        QVERIFY(!QApplication::activeModalWidget());
        kestavo::config::IniFile ini(rig.files.file, '.');
        QCOMPARE(QString::fromStdString(ini.readString("Channels1", "Max_Time1", "")), QString("15"));
    }

    void smallWindowsEditTheScheduleTheControlListAndThePlugIns() {
        GuiRig rig(1);
        const auto folder = rig.files.programFolder;
        fs::create_directories(folder / "PLUGINS");
        fs::copy_file(KESTAVO_TEST_PLUGIN, folder / "PLUGINS" / "demod.plg");
        TForm2 d(*rig.core);
        QStringList notes;
        d.showNote = [&](const QString& t) { notes << t; };
        d.Load(1);
        d.show();
        auto periodAnswer = [](const QString& start, const QString& stop) {
            onNextModal([start, stop](QWidget& w) {
                auto* p = qobject_cast<kestavo::ui::Tperiod*>(&w);
                QTest::keyClicks(p->start, start);
                QTest::keyClicks(p->stop, stop);
                QTest::keyClick(p->stop, Qt::Key_Return);
            });
        };
        periodAnswer("0930", "1745");
        QTest::mouseClick(d.BitBtn8, Qt::LeftButton);
        periodAnswer("1100", "1000");
        QTest::mouseClick(d.BitBtn8, Qt::LeftButton);
        QCOMPARE(notes, QStringList{"Start time > stop time!"});
        QCOMPARE(d.prds->rowCount(), 1);
        QCOMPARE(d.prds->item(0, 0)->text() + "-" + d.prds->item(0, 1)->text(), QString("9:30:00-17:45:00"));
        QCOMPARE(QString::fromStdString(test::readText(folder / "time1.tim")), QString("9:30:00\t17:45:00\t\r\n"));

        onNextModal([](QWidget& w) {  // the file length starts at 30 minutes
            auto* n = qobject_cast<kestavo::ui::Tnarez*>(&w);
            QCOMPARE(n->Edit1->text(), QString("30"));
            QTest::mouseClick(n->BitBtn1, Qt::LeftButton);
        });
        QTest::mouseClick(d.BitBtn10, Qt::LeftButton);
        QCOMPARE(d.prds->rowCount(), 48);
        d.prds->selectRow(47);
        QTest::mouseClick(d.BitBtn9, Qt::LeftButton);
        QCOMPARE(d.prds->rowCount(), 47);

        // The control list: typed, kept by Cancel, read back by the next editor.
        onNextModal([](QWidget& w) {
            auto* c = qobject_cast<kestavo::ui::TCTL*>(&w);
            QCOMPARE(c->windowTitle(), QString("Start recording while ID detected 1"));
            QTest::keyClicks(c->m1, "8495******* Moscow");
            QTest::keyClick(c, Qt::Key_Escape);
        });
        QTest::mouseClick(d.BitBtn7, Qt::LeftButton);
        QCOMPARE(QString::fromStdString(test::readText(folder / "CONTROL" / "1.ctl")), QString("8495******* Moscow\n"));
        QString shown;
        onNextModal([&shown](QWidget& w) {
            auto* c = qobject_cast<kestavo::ui::TCTL*>(&w);
            shown = c->m1->toPlainText();
            QTest::mouseClick(c->BitBtn1, Qt::LeftButton);
        });
        QTest::mouseClick(d.BitBtn7, Qt::LeftButton);
        QCOMPARE(shown, QString("8495******* Moscow"));

        // The plug-in chooser lists what PLUGINS holds; OK attaches the selected one.
        QStringList listed;
        onNextModal([&listed](QWidget& w) {
            auto* p = qobject_cast<kestavo::ui::TPLUGINFORM*>(&w);
            for (int c = 0; c < 3; ++c)
                listed << p->PlugView->headerItem()->text(c) << p->PlugView->topLevelItem(0)->text(c);
            QTest::mouseClick(p->BitBtn1, Qt::LeftButton);
        });
        QTest::mouseClick(d.BitBtn5, Qt::LeftButton);
        QCOMPARE(listed.mid(0, 2), (QStringList{"Name", "demod.plg"}));
        QCOMPARE(listed.at(2), QString("Description"));
        QCOMPARE(d.plg_list->topLevelItemCount(), 1);
        QCOMPARE(d.plg_list->topLevelItem(0)->text(0), QString("demod.plg"));
        d.plg_list->setCurrentItem(d.plg_list->topLevelItem(0));
        QTest::mouseClick(d.BitBtn6, Qt::LeftButton);
        QCOMPARE(d.plg_list->topLevelItemCount(), 0);
        d.reject();
    }

    void captionsFollowTheLanguageAndEveryTextFitsAt96And144Dpi_data() {
        QTest::addColumn<double>("scale");  // 144 dpi draws the same point size half as large again
        QTest::addColumn<QString>("lang");
        for (double scale : {1.0, 1.5})
            for (const char* language : {"English", "Russian"})
                QTest::addRow("%s at %d dpi", language, int(96 * scale)) << scale << QString(language);
    }
    void captionsFollowTheLanguageAndEveryTextFitsAt96And144Dpi() {
        QFETCH(double, scale);
        QFETCH(QString, lang);
        const QFont original = QApplication::font();
        QFont f = original;
        f.setPointSizeF(original.pointSizeF() * scale);
        QApplication::setFont(f);
        const auto restore = qScopeGuard([&] { QApplication::setFont(original); });
        const std::string language = lang.toStdString();
        GuiRig rig(1, language);
        TForm2 d(*rig.core);
        d.Load(1);
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        const bool ru = language[0] == 'R';
        QCOMPARE(d.windowTitle(), QString::fromUtf8(ru ? "Установки" : "Settings"));
        QCOMPARE(d.GroupBox1->title(), QString::fromUtf8(ru ? "Установки канала 1" : "Settings of channel 1"));
        QCOMPARE(d.BitBtn1->text(), QString::fromUtf8(ru ? "ВВОД" : "ENTER"));
        QCOMPARE(d.BitBtn8->text(), QString::fromUtf8(ru ? "Добавить" : "Add"));
        QCOMPARE(d.Radio[3]->text(), QString::fromUtf8(ru ? "Времени" : "Time"));
        d.ApplyLanguage(ru ? "English" : "Russian");  // and back: the captions follow
        QCOMPARE(d.BitBtn9->text(), QString::fromUtf8(ru ? "Remove" : "Удалить"));
        d.ApplyLanguage(language);
        QString failed;
        d.CheckBox6->setChecked(true);  // the WAV group shown too
        QVERIFY2(everyTextFits(d, failed), qPrintable(lang + " " + failed));
        const auto folder = rig.files.programFolder;
        kestavo::ui::Tperiod period(folder, language);
        kestavo::ui::Tnarez cut(folder, language);
        kestavo::ui::TCTL list;
        list.Prepare(1, folder / "CONTROL" / "1.ctl", language);
        kestavo::ui::TPLUGINFORM plugins({{"demod.plg", "A demodulator", "1.0"}}, folder, language);
        for (QDialog* w : std::initializer_list<QDialog*>{&period, &cut, &list, &plugins}) {
            w->show();
            QVERIFY(QTest::qWaitForWindowExposed(w));
            QVERIFY2(everyTextFits(*w, failed), qPrintable(lang + " " + failed));
        }
    }

    // Pictures of the settings window and its small windows for the documentation, taken only when
    // KESTAVO_UI_SCREENSHOTS names a folder:
    //   KESTAVO_UI_SCREENSHOTS=docs QT_QPA_PLATFORM=xcb xvfb-run -a test_ui settingsScreenshots
    void settingsScreenshots() {
        const QString folder = kestavo::ui::testing::screenshotFolder();
        if (folder.isEmpty()) QSKIP("KESTAVO_UI_SCREENSHOTS is not set");
        for (const char* language : {"English", "Russian"}) {
            const QString tag = language[0] == 'R' ? "ru" : "en";
            GuiRig rig(1, language);
            const auto programFolder = rig.files.programFolder;
            std::ofstream(programFolder / "time1.tim", std::ios::binary)
                << "8:00:00\t12:30:00\t\r\n13:30:00\t18:00:00\t\r\n";
            rig.core->Row(1)->Channel()->EditSchedule([](auto& p) { (void)p.Load(); });
            auto grab = [&](QWidget& w, const QString& name) {
                QVERIFY(kestavo::ui::testing::saveShot(w, folder, name + "-" + tag));
            };
            TForm2 d(*rig.core);
            d.Load(1);
            d.Edit1->setText("/home/operator/.local/share/kestavo/SOUND/1");  // not the test's temporary folder
            grab(d, "channel-dialog");
            kestavo::ui::Tperiod period(programFolder, language);
            grab(period, "period-dialog");
            kestavo::ui::Tnarez cut(programFolder, language);
            grab(cut, "cut-dialog");
            std::ofstream(programFolder / "CONTROL" / "1.ctl") << "8495******* Moscow\n8812******* St. Petersburg\n";
            kestavo::ui::TCTL list;
            list.Prepare(1, programFolder / "CONTROL" / "1.ctl", language);
            grab(list, "control-list-dialog");
            kestavo::ui::TPLUGINFORM plugins({{"demod.plg", "Identifier demodulator", "1.0"}}, programFolder, language);
            grab(plugins, "plugin-chooser-dialog");
            kestavo::ui::TForm3 picker(QString::fromStdString(programFolder.string()), programFolder, language);
            grab(picker, "folder-dialog");
            list.reject();  // keeps the file as it was
        }
    }
};

int runChannelDialogTest(int argc, char** argv) {
    ChannelDialogTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "channel_dialog_test.moc"
