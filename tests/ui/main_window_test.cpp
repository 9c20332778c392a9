// The main window over a core with file-backed lines: the grid and its cells, the record button,
// monitoring, the language switch, the tray's unlock and closing.
#include <QMessageBox>
#include <QtTest>
#include <filesystem>
#include <fstream>

#include "gui_rig.h"
#include "test_classes.h"

using kestavo::ui::TForm1;
using kestavo::ui::testing::GuiRig;

namespace {

// Presses `button` of the next modal message box once the event loop runs it.
void answerNextBox(QMessageBox::StandardButton button) {
    QTimer::singleShot(0, [button] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box);
        box->button(button)->click();
    });
}

// Types `text` into the next password question and presses OK.
void answerPassword(const QString& text) {
    QTimer::singleShot(0, [text] {
        auto* dialog = QApplication::activeModalWidget();
        QVERIFY(dialog);
        auto* field = dialog->findChild<QLineEdit*>("Password");
        QVERIFY(field);
        QTest::keyClicks(field, text);
        QTest::mouseClick(dialog->findChild<QPushButton*>("OKBtn"), Qt::LeftButton);
    });
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    void gridHasAHeaderRowAndTwoRowsPerChannelWithTheControlsInTheirCells() {
        GuiRig rig(2);
        QCOMPARE(rig.core->Rows().size(), std::size_t(2));
        QCOMPARE(rig.form->StringGrid1->rowCount(), 5);
        QCOMPARE(rig.form->StringGrid1->columnCount(), 7);
        for (int k = 1; k <= 2; ++k) {
            const int upper = 2 * k - 1, lower = 2 * k;
            auto name = [&](int row, int column) {
                QWidget* w = rig.form->StringGrid1->cellWidget(row, column);
                return w ? w->objectName() : QString("(none)");
            };
            QCOMPARE(rig.cell(upper, 0), QString::number(k));
            QCOMPARE(name(upper, 1), QString("Bar"));
            QCOMPARE(name(lower, 1), QString("ThresholdBar"));
            QCOMPARE(name(lower, 3), QString("AutoBox"));
            QCOMPARE(name(lower, 4), QString("RecordButton"));
            QCOMPARE(name(lower, 5), QString("SettingsButton"));
            QCOMPARE(name(lower, 6), QString("ThresholdButton"));
            QCOMPARE(name(upper, 6), QString("MonitorBox"));
            for (int c : {0, 2, 3, 4, 5}) QCOMPARE(name(upper, c), QString("(none)"));
            QCOMPARE(rig.form->StringGrid1->cellWidget(lower, 4)->property("tag").toInt(), k);
            // Idle: the state cell is white with text 30, the record button shows text 26.
            QCOMPARE(rig.cell(upper, 4), QString(" STOP"));
            QCOMPARE(rig.cellColour(upper, 4), QColor(Qt::white));
            QCOMPARE(rig.form->Row(k)->RecordButton->text(), QString(" RECORD"));
        }
        QCOMPARE(rig.cell(0, 0), QString("No."));
        QCOMPARE(rig.cell(0, 1), QString("Level"));
        QCOMPARE(rig.cell(0, 5), QString("Number"));
        QCOMPARE(rig.cell(0, 6), QString());
        QCOMPARE(rig.form->StatusPanels.size(), std::size_t(5));
    }

    void lowerRowsAreTallerThanUpperRowsAndCaptionsFitTheirCells() {
        for (const char* language : {"English", "Russian"}) {
            GuiRig rig(1, {}, language);
            auto* grid = rig.form->StringGrid1;
            QVERIFY(grid->rowHeight(2) > grid->rowHeight(1));
            const QFontMetrics fm(rig.form->font());
            for (QAbstractButton* b : std::initializer_list<QAbstractButton*>{
                     rig.form->Row(1)->RecordButton, rig.form->Row(1)->SettingsButton,
                     rig.form->Row(1)->ThresholdButton, rig.form->Row(1)->AutoBox, rig.form->Row(1)->MonitorBox})
                QVERIFY2(fm.horizontalAdvance(b->text()) < b->width() || b->width() == 0 ||
                             fm.horizontalAdvance(b->text()) < grid->columnWidth(grid->indexAt(b->pos()).column()),
                         qPrintable(b->text()));
            for (int c = 0; c <= 5; ++c)
                QVERIFY2(fm.horizontalAdvance(rig.cell(0, c)) < grid->columnWidth(c), qPrintable(rig.cell(0, c)));
        }
    }

    void recordButtonStartsARecordingOnAFileBackedLineAndStopsIt() {
        GuiRig rig(2);
        auto* button = rig.form->Row(1)->RecordButton;
        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(rig.core->Row(1)->Recording());
        const std::string file = rig.core->Row(1)->currentFile;
        QVERIFY(!file.empty());
        QVERIFY(std::filesystem::exists(file));
        QCOMPARE(rig.cellColour(1, 4), QColor(Qt::red));
        QCOMPARE(rig.cell(1, 4), QString(" RECORD"));  // text 26 in the state cell
        QCOMPARE(button->text(), QString(" STOP"));    // text 30 on the button
        QVERIFY(!rig.core->Row(2)->Recording());
        QCOMPARE(rig.cellColour(3, 4), QColor(Qt::white));

        rig.ticks(20);  // one second: the recording time appears
        QCOMPARE(rig.cell(1, 3), QString("0:00:01"));

        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(!rig.core->Row(1)->Recording());
        QCOMPARE(rig.cellColour(1, 4), QColor(Qt::white));
        QCOMPARE(rig.cell(1, 4), QString(" STOP"));
        QCOMPARE(button->text(), QString(" RECORD"));
        QCOMPARE(rig.cell(1, 3), QString());
    }

    void trayStateFollowsTheRecordings() {
        GuiRig rig(2);
        QCOMPARE(QString::fromStdString(rig.core->TrayTip()), QString("Kestavo software. Waiting"));
        QTest::mouseClick(rig.form->Row(2)->RecordButton, Qt::LeftButton);
        QCOMPARE(QString::fromStdString(rig.core->TrayTip()), QString("Kestavo software. Recording"));
        QCOMPARE(rig.form->windowIcon().cacheKey(), rig.form->ImageList1[1].cacheKey());
        QTest::mouseClick(rig.form->Row(2)->RecordButton, Qt::LeftButton);
        QCOMPARE(rig.form->windowIcon().cacheKey(), rig.form->ImageList1[0].cacheKey());
    }

    void failedManualStartLeavesTheCaptionUnchanged() {
        // After a language switch the button of a recording channel shows text 26 again; pressing
        // it asks for a start, which the channel refuses because it is already recording.
        GuiRig rig(1);
        QTest::mouseClick(rig.form->Row(1)->RecordButton, Qt::LeftButton);
        rig.form->N12->trigger();
        QCOMPARE(rig.form->Row(1)->RecordButton->text(), QString::fromUtf8(" ЗАПИСЬ"));
        const std::string file = rig.core->Row(1)->currentFile;
        QTest::mouseClick(rig.form->Row(1)->RecordButton, Qt::LeftButton);
        QCOMPARE(rig.form->Row(1)->RecordButton->text(), QString::fromUtf8(" ЗАПИСЬ"));
        QVERIFY(rig.core->Row(1)->Recording());
        QCOMPARE(rig.core->Row(1)->currentFile, file);
        QCOMPARE(rig.cellColour(1, 4), QColor(Qt::red));
    }

    void tickingASecondRowsMonitorBoxUnticksTheFirst() {
        GuiRig rig(2);
        auto* first = rig.form->Row(1)->MonitorBox;
        auto* second = rig.form->Row(2)->MonitorBox;
        QVERIFY(!rig.form->CheckBox1->isEnabled());
        QTest::mouseClick(first, Qt::LeftButton);
        QVERIFY(first->isChecked());
        QVERIFY(rig.core->Row(1)->Monitoring());
        QVERIFY(rig.form->CheckBox1->isEnabled());
        QVERIFY(rig.form->inv_bar->isEnabled());

        rig.clock.advance(std::chrono::milliseconds(600));
        QTest::mouseClick(second, Qt::LeftButton);
        QVERIFY(second->isChecked());
        QVERIFY(!first->isChecked());
        QVERIFY(rig.core->Row(2)->Monitoring());
        QVERIFY(!rig.core->Row(1)->Monitoring());
    }

    void monitorClickWithinHalfASecondIsIgnored() {
        GuiRig rig(2);
        QTest::mouseClick(rig.form->Row(1)->MonitorBox, Qt::LeftButton);
        rig.clock.advance(std::chrono::milliseconds(300));
        QTest::mouseClick(rig.form->Row(2)->MonitorBox, Qt::LeftButton);
        QVERIFY(!rig.form->Row(2)->MonitorBox->isChecked());
        QVERIFY(rig.form->Row(1)->MonitorBox->isChecked());
        QVERIFY(rig.core->Row(1)->Monitoring());
    }

    void switchingTheLanguageWhileAChannelRecordsRecaptionsEverything() {
        GuiRig rig(2);
        QTest::mouseClick(rig.form->Row(1)->RecordButton, Qt::LeftButton);
        QCOMPARE(rig.form->Row(1)->RecordButton->text(), QString(" STOP"));
        QVERIFY(rig.form->English1->isChecked());

        rig.form->N12->trigger();
        QVERIFY(rig.core->Row(1)->Recording());
        QVERIFY(rig.form->N12->isChecked());
        QVERIFY(!rig.form->English1->isChecked());
        // The record button takes text 26 even while its channel records.
        QCOMPARE(rig.form->Row(1)->RecordButton->text(), QString::fromUtf8(" ЗАПИСЬ"));
        QCOMPARE(rig.form->Row(2)->RecordButton->text(), QString::fromUtf8(" ЗАПИСЬ"));
        for (int k = 1; k <= 2; ++k) {
            QCOMPARE(rig.form->Row(k)->AutoBox->text(), QString::fromUtf8("АВТО"));
            QCOMPARE(rig.form->Row(k)->SettingsButton->text(), QString::fromUtf8("Установки"));
            QCOMPARE(rig.form->Row(k)->MonitorBox->text(), QString::fromUtf8("Контр."));
            QCOMPARE(rig.form->Row(k)->ThresholdButton->text(), QString::fromUtf8("Порог"));
        }
        QCOMPARE(rig.cellColour(1, 4), QColor(Qt::red));
        QCOMPARE(rig.form->N1->title(), QString::fromUtf8("Файл"));
        QCOMPARE(rig.form->N2->text(), QString::fromUtf8("Выход"));
        QCOMPARE(rig.form->N3->text(), QString::fromUtf8("Общие установки"));
        QCOMPARE(rig.form->N11->title(), QString::fromUtf8("Язык"));
        QCOMPARE(rig.form->BitBtn1->text(), QString::fromUtf8("Назначение каналов"));
        QCOMPARE(rig.form->CheckBox1->text(), QString::fromUtf8("Инверсия спектра"));
        QCOMPARE(rig.form->Label1->text(), QString::fromUtf8("Устройство контроля:"));
        QCOMPARE(rig.form->Label2->text(), QString::fromUtf8("Поворот, Гц"));
        QCOMPARE(rig.cell(0, 1), QString::fromUtf8("Уровень"));
        QCOMPARE(rig.form->StatusPanels[2]->text(), QString::fromUtf8("Каналов: "));

        rig.form->English1->trigger();
        QCOMPARE(rig.form->Row(1)->AutoBox->text(), QString("AUTO"));
        QCOMPARE(rig.form->N1->title(), QString("File"));
        QCOMPARE(rig.form->Row(1)->RecordButton->text(), QString(" RECORD"));
        QVERIFY(rig.core->Row(1)->Recording());
    }

    void trayDoubleClickAsksThePasswordOnlyAfterTheFirstSecond() {
        GuiRig rig(1);
        rig.password.current = "secret";
        rig.form->show();
        rig.form->hide();
        QVERIFY(rig.core->StartupGrace());
        rig.form->TrayDoubleClick();  // first second: no question
        QVERIFY(rig.form->isVisible());
        QVERIFY(rig.form->CurrentWindowMode() == kestavo::app::WindowMode::Shown);

        rig.ticks(20);
        QVERIFY(!rig.core->StartupGrace());
        rig.form->hide();
        answerPassword("wrong");
        rig.form->TrayDoubleClick();
        QVERIFY(!rig.form->isVisible());
        answerPassword("secret");
        rig.form->TrayDoubleClick();
        QVERIFY(rig.form->isVisible());
    }

    void closingAsksAndCancelKeepsTheProgramRunning() {
        GuiRig rig(1);
        rig.form->show();
        answerNextBox(QMessageBox::Cancel);
        rig.form->N2->trigger();
        QVERIFY(rig.form->isVisible());
        QVERIFY(rig.core->Running());

        QSignalSpy done(rig.form.get(), &TForm1::ShutDownDone);
        answerNextBox(QMessageBox::Ok);
        rig.form->N2->trigger();
        QCOMPARE(done.count(), 1);
        QVERIFY(!rig.core->Running());
        QCOMPARE(rig.form->StringGrid1->rowCount(), 2);
    }

    void quitFromOutsideClosesWithoutAskingAndCompletesTheRecording() {
        GuiRig rig(1);
        rig.form->show();
        QTest::mouseClick(rig.form->Row(1)->RecordButton, Qt::LeftButton);
        const std::string file = rig.core->Row(1)->currentFile;
        QSignalSpy done(rig.form.get(), &TForm1::ShutDownDone);
        rig.form->QuitFromOutside();  // a box here would block the test
        QCOMPARE(done.count(), 1);
        QVERIFY(!rig.core->Running());
        QVERIFY(rig.core->Rows().empty());
        QVERIFY(!rig.form->isVisible());
    }
};

KESTAVO_UI_TEST(MainWindowTest);

#include "main_window_test.moc"
