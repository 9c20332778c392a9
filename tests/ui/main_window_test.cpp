// The main window over a core with file-backed lines: grid, record button, monitoring, language, tray
// unlock and closing, and the documentation's pictures. The core decides what is shown (tested with
// it); the widgets must show it.
#include <QMessageBox>
#include <QtTest>

#include "gui_rig.h"
#include "ui/demods_window.h"

using kestavo::ui::TForm1;
using kestavo::ui::testing::GuiRig;
using kestavo::ui::testing::onNextModal;

namespace {

void answerBox(QMessageBox::StandardButton b) {
    onNextModal([b](QWidget& d) { qobject_cast<QMessageBox*>(&d)->button(b)->click(); });
}
void answerPassword(const QString& text) {
    onNextModal([text](QWidget& d) {
        QTest::keyClicks(d.findChild<QLineEdit*>("Password"), text);
        QTest::mouseClick(d.findChild<QPushButton*>("OKBtn"), Qt::LeftButton);
    });
}

// The texts of row k's controls, "|"-separated.
QString rowCaptions(GuiRig& rig, int k) {
    const auto* r = rig.form->Row(k);
    return QStringList{r->AutoBox->text(), r->RecordButton->text(), r->SettingsButton->text(), r->MonitorBox->text(),
                       r->ThresholdButton->text()}
        .join('|');
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    void gridHoldsTwoRowsPerChannelWithTheirControlsAndEveryCaptionFitsItsCell_data() {
        QTest::addColumn<QString>("language");
        QTest::newRow("English") << "English";
        QTest::newRow("Russian") << "Russian";
    }
    void gridHoldsTwoRowsPerChannelWithTheirControlsAndEveryCaptionFitsItsCell() {
        QFETCH(QString, language);
        GuiRig rig(2, language.toStdString());
        auto* grid = rig.form->StringGrid1;
        QCOMPARE(QSize(grid->columnCount(), grid->rowCount()), QSize(7, 5));  // a header row, two per channel
        QCOMPARE(rig.form->StatusPanels.size(), std::size_t(5));
        QVERIFY(grid->rowHeight(2) > grid->rowHeight(1));
        const QFontMetrics fm(rig.form->font());
        for (int c = 0; c <= 5; ++c)
            QVERIFY2(fm.horizontalAdvance(rig.cell(0, c)) < grid->columnWidth(c), qPrintable(rig.cell(0, c)));
        for (int k = 1; k <= 2; ++k) {
            QStringList widgets;  // the upper row's cells, then the lower row's
            for (int row : {2 * k - 1, 2 * k}) {
                for (int c = 0; c < 7; ++c) {
                    QWidget* w = grid->cellWidget(row, c);
                    widgets << (w ? w->objectName() : "-");
                    if (auto* b = qobject_cast<QAbstractButton*>(w))
                        QVERIFY2(fm.horizontalAdvance(b->text()) < grid->columnWidth(c), qPrintable(b->text()));
                }
            }
            QCOMPARE(widgets.join(' '),
                     QString("- Bar - - - - MonitorBox - ThresholdBar - AutoBox RecordButton "
                             "SettingsButton ThresholdButton"));
            QCOMPARE(grid->cellWidget(2 * k, 4)->property("tag").toInt(), k);
            QCOMPARE(rig.cell(2 * k - 1, 0), QString::number(k));
        }
    }

    void recordButtonStartsAndStopsARecordingAndTheCellsAndTheIconFollow() {
        GuiRig rig(2);
        auto* button = rig.form->Row(1)->RecordButton;
        auto state = [&](int k) {  // the time cell, the state cell's text and colour, the record button's text
            const int upper = 2 * k - 1;
            return QStringList({rig.cell(upper, 3), rig.cell(upper, 4), rig.cellColour(upper, 4).name(),
                                rig.form->Row(k)->RecordButton->text()})
                .join('|');
        };
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(state(1), QString("| RECORD|#ff0000| STOP"));  // text 26 in a red cell, text 30 on the button
        QCOMPARE(state(2), QString("| STOP|#ffffff| RECORD"));
        QCOMPARE(rig.form->windowIcon().cacheKey(), rig.form->ImageList1[1].cacheKey());
        rig.ticks(20);  // one second
        QCOMPARE(state(1), QString("0:00:01| RECORD|#ff0000| STOP"));
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(state(1), QString("| STOP|#ffffff| RECORD"));
        QCOMPARE(rig.form->windowIcon().cacheKey(), rig.form->ImageList1[0].cacheKey());
    }

    void monitorBoxMovesMonitoringExceptWithinHalfASecondOfTheLastChange() {
        GuiRig rig(2);
        auto* first = rig.form->Row(1)->MonitorBox;
        auto* second = rig.form->Row(2)->MonitorBox;
        auto boxes = [&] {  // ticked boxes, then monitored rows
            const int v[] = {first->isChecked(), second->isChecked(), rig.core->Row(1)->Monitoring(),
                             rig.core->Row(2)->Monitoring()};
            return QString("%1%2 %3%4").arg(v[0]).arg(v[1]).arg(v[2]).arg(v[3]);
        };
        QVERIFY(!rig.form->CheckBox1->isEnabled());
        QTest::mouseClick(first, Qt::LeftButton);
        QCOMPARE(boxes(), QString("10 10"));
        QVERIFY(rig.form->CheckBox1->isEnabled() && rig.form->inv_bar->isEnabled());
        rig.clock.advance(std::chrono::milliseconds(300));
        QTest::mouseClick(second, Qt::LeftButton);  // too soon: the box goes back
        QCOMPARE(boxes(), QString("10 10"));
        rig.clock.advance(std::chrono::milliseconds(300));  // 600 ms after the change
        QTest::mouseClick(second, Qt::LeftButton);
        QCOMPARE(boxes(), QString("01 01"));
    }

    void languageSwitchRecaptionsEverythingAndARecordingRowsButtonOffersAStart() {
        GuiRig rig(2);
        QTest::mouseClick(rig.form->Row(1)->RecordButton, Qt::LeftButton);
        rig.form->N12->trigger();
        QVERIFY(rig.form->N12->isChecked() && !rig.form->English1->isChecked());
        // Both rows, the recording one too, show text 26 on the record button.
        for (int k = 1; k <= 2; ++k)
            QCOMPARE(rowCaptions(rig, k), QString::fromUtf8("АВТО| ЗАПИСЬ|Установки|Контр.|Порог"));
        const TForm1& f = *rig.form;
        QCOMPARE(QStringList({f.N1->title(), f.N2->text(), f.N3->text(), f.N11->title(), f.BitBtn1->text(),
                              f.CheckBox1->text(), f.Label1->text(), f.Label2->text(), rig.cell(0, 1),
                              f.StatusPanels[2]->text()})
                     .join('|'),
                 QString::fromUtf8("Файл|Выход|Общие установки|Язык|Назначение каналов|Инверсия спектра|"
                                   "Устройство контроля:|Поворот, Гц|Уровень|Каналов: "));
    }

    void trayDoubleClickAsksThePasswordOnlyAfterTheFirstSecond() {
        GuiRig rig(1);
        rig.password.current = "secret";
        rig.form->show();
        rig.form->hide();
        rig.form->TrayDoubleClick();  // first second: no question
        QVERIFY(rig.form->isVisible() && rig.form->CurrentWindowMode() == kestavo::app::WindowMode::Shown);

        rig.ticks(20);
        rig.form->hide();
        answerPassword("wrong");
        rig.form->TrayDoubleClick();
        QVERIFY(!rig.form->isVisible());
        answerPassword("secret");
        rig.form->TrayDoubleClick();
        QVERIFY(rig.form->isVisible());
    }

    void closingAsksAndCancelKeepsTheProgramWhileQuitFromOutsideClosesWithoutAsking() {
        GuiRig rig(1);
        rig.form->show();
        answerBox(QMessageBox::Cancel);
        rig.form->N2->trigger();
        QVERIFY(rig.form->isVisible() && rig.core->Running());
        QSignalSpy done(rig.form.get(), &TForm1::ShutDownDone);
        answerBox(QMessageBox::Ok);
        rig.form->N2->trigger();
        QCOMPARE(done.count(), 1);
        QVERIFY(!rig.core->Running());
        QCOMPARE(rig.form->StringGrid1->rowCount(), 2);

        GuiRig other(1);
        other.form->show();
        QTest::mouseClick(other.form->Row(1)->RecordButton, Qt::LeftButton);
        QSignalSpy otherDone(other.form.get(), &TForm1::ShutDownDone);
        other.form->QuitFromOutside();  // a box here would block the test
        QCOMPARE(otherDone.count(), 1);
        QVERIFY(!other.core->Running() && other.core->Rows().empty() && !other.form->isVisible());
    }

    // Pictures of the window for the documentation (two lines recording, the first monitored, in
    // English and in Russian), taken only when KESTAVO_UI_SCREENSHOTS names a folder. For the desktop's fonts:
    //   KESTAVO_UI_SCREENSHOTS=docs QT_QPA_PLATFORM=xcb xvfb-run -a test_ui windowScreenshots
    void resultsWindowShowsTheResultsOfItsChannelAndKeepsItsFilter() {
        GuiRig rig(2);
        rig.form->N10->trigger();
        auto* window = rig.form->findChild<kestavo::ui::Tdemods*>("demods");
        QVERIFY(window && rig.core->DemodsOpen());
        rig.form->N10->trigger();  // one window at a time
        QCOMPARE(rig.form->findChildren<kestavo::ui::Tdemods*>().size(), qsizetype(1));
        QCOMPARE(window->ComboBox1->count(), 3);  // ALL, 1, 2
        window->ComboBox1->setCurrentText("2");
        for (int channel : {1, 2}) {
            kestavo::services::PluginRecord r{};
            r.channel = channel;
            std::strcpy(r.identifier, channel == 1 ? "hidden" : "88.5");
            std::strcpy(r.extra, "tone");
            rig.core->Demods().Add(r, "10:00:00");
        }
        rig.ticks(1);  // the window redraws with the main window's timer
        QCOMPARE(window->demodView->topLevelItemCount(), 1);
        QCOMPARE(window->demodView->topLevelItem(0)->text(1), QString("88.5"));
        window->close();
        QTest::qWait(0);
        QVERIFY(!rig.core->DemodsOpen());
        QCOMPARE(QString::fromStdString(kestavo::config::ReadDemodChannelFilter(rig.files)), QString("2"));
    }

    void windowScreenshots() {
        const QString folder = kestavo::ui::testing::screenshotFolder();
        if (folder.isEmpty()) QSKIP("KESTAVO_UI_SCREENSHOTS is not set");
        GuiRig rig(2);
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
            // The results window with a few results, in the same language.
            rig.form->N10->trigger();
            auto* demods = rig.form->findChild<kestavo::ui::Tdemods*>("demods");
            QVERIFY(demods);
            const std::pair<const char*, const char*> results[] = {
                {"84951234567", "IVANOV I 12/08 10:15"}, {"88.5", ""}, {"2051", ""}, {"O", "withheld"}};
            for (const auto& [id, extra] : results) {
                kestavo::services::PluginRecord r{};
                r.channel = 1;
                std::strcpy(r.identifier, id);
                std::strcpy(r.extra, extra);
                rig.core->Demods().Add(r, "10:15:0" + std::to_string(&id - &results[0].first));
            }
            demods->Refresh();
            QVERIFY(QTest::qWaitForWindowExposed(demods));
            QVERIFY(demods->grab().save(folder + "/demods-" + language + ".png"));
            demods->close();
            QTest::qWait(0);
        }
    }
};

int runMainWindowTest(int argc, char** argv) {
    MainWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "main_window_test.moc"
