// The channel assignment window over a started core with two file-backed lines: a channel added
// and removed while the other records, without a gap in the other's file; the main window's grid
// following; "EXIT"; and the documentation's pictures.
#include <QtTest>
#include <algorithm>

#include "config/language_table.h"
#include "platform/file/file_lines.h"
#include "support/channel_fixture.h"
#include "support/core_services.h"
#include "support/temp_dir.h"
#include "support/wav_io.h"
#include "ui/channel_assignment_window.h"
#include "ui/main_window.h"
#include "ui/prefix_dialog.h"

using kestavo::ui::TForm1;
using kestavo::ui::TPrefix;
using kestavo::ui::TZvuk;
namespace fs = std::filesystem;
namespace test = kestavo::test;
namespace platform = kestavo::platform;
namespace app = kestavo::app;

namespace {

// Runs `answer` on the next modal window once the event loop shows it.
void onNextModal(std::function<void(QWidget&)> answer) {
    QTimer::singleShot(0, [answer] {
        if (QWidget* dialog = QApplication::activeModalWidget()) answer(*dialog);
    });
}

// A double click as a desktop delivers it: the second press comes as a double-click event right
// after a press at the same place.
void doubleClickAt(QWidget& target, QPoint at) {
    const QPointF local(at), global(target.mapToGlobal(at));
    for (auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonPress,
                      QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease}) {
        const bool down = type != QEvent::MouseButtonRelease;
        QMouseEvent event(type, local, global, Qt::LeftButton, down ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(&target, &event);
    }
}

void doubleClickLine(QTableWidget& view, int row) {
    doubleClickAt(*view.viewport(), view.visualItemRect(view.item(row, 1)).center());
}

// Two real-time file-backed lines of 10 s of distinct noise; channel 1 records line 1 into WAV
// files, line 2 is free.
struct AssignmentRig {
    test::TempDir dir{"kestavo-ui-assign"};
    kestavo::config::ConfigFiles files = test::filesIn(dir.path());
    platform::PendingWork pending;
    std::unique_ptr<platform::FileLineSystem> lines;
    platform::FakeClock clock;
    platform::MainDispatcher dispatcher;
    platform::CollectingMessageSink messages;
    std::unique_ptr<app::AppCore> core;
    std::unique_ptr<TForm1> form;
    std::vector<std::int16_t> line1;

    explicit AssignmentRig(const std::string& language = "English") {
        (void)kestavo::config::InstallLanguageTables(fs::path(KESTAVO_SOURCE_DIR) / "data", files.programFolder);
        test::writeIni(files.file,
                       {"[MAIN]", "Language=" + language, "AUTO=0", "DIRS_D=0", "[DEVICES]", "LOADALL=0", "[Channels]",
                        "MAX=1", "[Channels1]", "DEVICE1=0 line1.wav 1 канал", "PREFIX1=A", "CompressMode1=0",
                        "Min_Time1=0", "POROG1=-60"});
        fs::create_directories(dir / "LINES");
        for (std::uint32_t i : {1u, 2u}) {
            auto pcm = test::pcm16(test::noise(test::amplitudeOf(-20.0), test::samplesOf(10000.0), i));
            test::writeWav16(dir / "LINES" / ("line" + std::to_string(i) + ".wav"), 1, pcm);
            if (i == 1) line1 = std::move(pcm);
        }
        lines = std::make_unique<platform::FileLineSystem>(dir / "LINES", platform::LinePace::RealTime, std::nullopt,
                                                           pending);
        core = std::make_unique<app::AppCore>(test::coreServices(*lines, clock, dispatcher, messages, pending, files));
        core->Start();
        auto tick = [this] {
            clock.advance(std::chrono::milliseconds(50));
            core->tick();
            dispatcher.drain();
        };
        form = std::make_unique<TForm1>(*core,
                                        kestavo::ui::FormOptions{.tickWork = tick,
                                                                 .beforeShutdown = {},
                                                                 .password = nullptr,
                                                                 .programFolder = files.programFolder,
                                                                 .startTimer = false});
    }
    ~AssignmentRig() {
        form.reset();
        if (core) core->Shutdown();
        dispatcher.close();
    }
    // About `ms` of real time with the window's timer running.
    void run(int ms) {
        for (int t = 0; t < ms; t += 50) {
            QTest::qWait(50);
            form->Timer1Timer();
        }
    }
};

}  // namespace

class ChannelAssignmentTest : public QObject {
    Q_OBJECT
    // In the window: the lists, an empty part of each, adding line 2 (prefix "B") and removing it
    // again while channel 1 records, then "EXIT".
    static void useAssignment(AssignmentRig& rig, TZvuk& window) {
        TZvuk* zvuk = &window;
        QVERIFY(QTest::qWaitForWindowExposed(zvuk));
        QCOMPARE(zvuk->ListView1->rowCount(), 1);
        QCOMPARE(zvuk->ListView1->item(0, 1)->text(), QString::fromUtf8("1 line2.wav 1 канал"));
        // An empty part of either list: nothing happens.
        for (auto* view : {zvuk->ListView1, zvuk->ListView2}) {
            view->clearSelection();
            doubleClickAt(*view->viewport(), QPoint(5, view->viewport()->height() - 5));
        }
        QCOMPARE(rig.core->Rows().size(), std::size_t(1));

        onNextModal([](QWidget& p) {
            auto* prefix = qobject_cast<TPrefix*>(&p);
            QVERIFY(prefix);
            QCOMPARE(prefix->RowIndex, 1);
            prefix->Edit1->setText("B");
            QTest::mouseClick(prefix->BitBtn1, Qt::LeftButton);
        });
        doubleClickLine(*zvuk->ListView1, 0);
        QCOMPARE(zvuk->ListView1->rowCount(), 0);
        QCOMPARE(zvuk->ListView2->rowCount(), 2);
        QCOMPARE(zvuk->ListView2->item(1, 0)->text() + zvuk->ListView2->item(1, 2)->text(), QString("2B"));
        // The main window shows the new row at once, and the new channel hears its line.
        QCOMPARE(rig.form->Rows().size(), std::size_t(2));
        QCOMPARE(rig.form->StringGrid1->rowCount(), 5);
        QTRY_VERIFY_WITH_TIMEOUT((rig.run(50), rig.core->Row(2)->Channel()->BlocksProcessed() > 0), 5000);

        zvuk->ListView2->selectRow(1);
        QTest::mouseClick(zvuk->SpeedButton2, Qt::LeftButton);
        QCOMPARE(zvuk->ListView2->rowCount(), 1);
        QCOMPARE(zvuk->ListView1->rowCount(), 1);
        QCOMPARE(rig.form->Rows().size(), std::size_t(1));
        QCOMPARE(rig.form->StringGrid1->rowCount(), 3);
        rig.run(800);
        QTest::mouseClick(zvuk->BitBtn1, Qt::LeftButton);
    }

private slots:
    void aChannelIsAddedAndRemovedWhileTheOtherRecordsWithoutAGap() {
        AssignmentRig rig;
        rig.form->show();
        QCOMPARE(rig.form->Rows().size(), std::size_t(1));
        QTest::mouseClick(rig.form->Row(1)->RecordButton, Qt::LeftButton);
        rig.run(800);
        QVERIFY(rig.core->Row(1)->Recording());

        bool visited = false;
        onNextModal([&](QWidget& w) {
            auto* zvuk = qobject_cast<TZvuk*>(&w);
            QVERIFY(zvuk);
            visited = true;
            useAssignment(rig, *zvuk);
            if (zvuk->isVisible()) zvuk->reject();  // a failed check leaves no window waiting
        });
        QTest::mouseClick(rig.form->BitBtn1, Qt::LeftButton);
        QVERIFY(visited);
        QVERIFY(!rig.core->Settings().LOADALL);

        // Channel 1 kept recording: its file is one unbroken piece of its line.
        QVERIFY(rig.core->Row(1)->Recording());
        QTest::mouseClick(rig.form->Row(1)->RecordButton, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT((rig.run(50), !rig.core->Row(1)->Recording()), 5000);
        const auto wav = test::readWav(rig.core->Row(1)->currentFile);
        QVERIFY(wav);
        const auto got = wav->samples16();
        QVERIFY2(got.size() >= std::size_t(2 * kestavo::kLineRate), "the file spans the add and the removal");
        const auto at = std::search(rig.line1.begin(), rig.line1.end(), got.begin(), got.begin() + 64);
        QVERIFY(at != rig.line1.end() && std::size_t(rig.line1.end() - at) >= got.size());
        QVERIFY(std::equal(got.begin(), got.end(), at));
    }

    // Pictures of both windows for the documentation, taken only when KESTAVO_UI_SCREENSHOTS names a
    // folder:
    //   KESTAVO_UI_SCREENSHOTS=docs QT_QPA_PLATFORM=xcb xvfb-run -a test_ui assignmentScreenshots
    void assignmentScreenshots() {
        const QString folder = QString::fromUtf8(qgetenv("KESTAVO_UI_SCREENSHOTS"));
        if (folder.isEmpty()) QSKIP("KESTAVO_UI_SCREENSHOTS is not set");
        for (const char* language : {"English", "Russian"}) {
            const QString tag = language[0] == 'E' ? "en" : "ru";
            AssignmentRig rig(language);
            const auto grab = [&](QWidget& w, const QString& name) {
                w.show();
                QVERIFY(QTest::qWaitForWindowExposed(&w));
                QTest::qWait(100);
                QVERIFY(w.grab().save(folder + "/" + name + "-" + tag + ".png"));
            };
            TZvuk zvuk(*rig.core, rig.files.programFolder);
            zvuk.ListView1->selectRow(0);
            grab(zvuk, "channel-assignment");
            TPrefix prefix(language);
            prefix.Edit1->setText("OFFICE");
            grab(prefix, "prefix-dialog");
        }
    }
};

int runChannelAssignmentTest(int argc, char** argv) {
    ChannelAssignmentTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "channel_assignment_test.moc"
