// Fast-paced lines and the timer: the ticks run on the sound's time line, so decisions made by the
// timer (schedules) happen at the moments real time would give, not at the ends of blocks; and the
// demo line's content.
#include <gtest/gtest.h>

#include <cmath>

#include "app/demo_line.h"
#include "app/fast_pace.h"
#include "app_fixture.h"
#include "platform/file/file_lines.h"
#include "platform/line_rate.h"
#include "support/channel_fixture.h"

using namespace kestavo;
using namespace kestavo::app;
using namespace kestavo::app::testing;
namespace fs = std::filesystem;

TEST(FastPace, ScheduledRecordingsStartAndStopAtTheSecondsTheScheduleNamesNotAtBlockEnds) {
    CoreRig rig;
    fs::create_directories(rig.dir / "LINES");
    test::writeWav16(rig.dir / "LINES" / "line.wav", 1, std::vector<std::int16_t>(std::size_t(200 * kLineRate), 3));
    writeIni(rig.files.file,
             {"[MAIN]", "DIRS_D=0", "[Channels1]", "CompressMode1=0", "VOXmode1=3", "auto1=1", "PREFIX1=T_"});
    std::ofstream(rig.files.programFolder / "time1.tim", std::ios::binary)
        << "16:06:00\t16:07:00\t\r\n16:07:00\t16:08:00\t\r\n";
    platform::FileLineSystem lines(rig.dir / "LINES", platform::LinePace::Fast,
                                   platform::LocalTime{2026, 12, 5, 16, 5, 9, 0}, rig.pending);
    FastPace pace(*lines.clock(), rig.pending, {});
    rig.lines = &lines;
    rig.lineClock = &pace.clock();
    rig.makeSink = [&](capture::Tchannel& c, const platform::Event& stop) {
        return pace.wrap([&c](const std::byte* b, std::uint32_t n) { c.PutData(b, n); }, stop);
    };
    rig.start();
    // Until the line has delivered everything and every block is done (a hang fails by timeout).
    while (!(lines.allLinesEnded() && rig.pending.count() == 0))
        if (!pace.pump(rig.dispatcher, [&] { rig.core->tick(); }))
            (void)lines.allLinesEndedEvent().wait(std::chrono::milliseconds(1));
    rig.dispatcher.drain();
    rig.core->Shutdown();
    EXPECT_NEAR(double(pace.ticks()), 200.0 * 20, 30.0);  // one per 50 ms of the 200 s line, to 16:08:29
    // The first check inside a period remembers it and answers "stop"; the next one records. At
    // 16:07:00 both periods contain the time: the second becomes the remembered one and stops the
    // recording; 16:07:01 starts the next file. 16:08:01 lies outside both. Both files end complete.
    std::vector<std::string> seen;  // minute:second past 16:00 and file
    for (const auto& a : rig.activity) {
        seen.push_back(std::to_string(a.time.minute) + ":" + std::to_string(a.time.second) + " " +
                       fs::path(a.report.file).filename().string());
        EXPECT_EQ(a.report.cause, capture::RecordCause::Schedule);
    }
    EXPECT_EQ(test::completeWavFiles(rig.files.programFolder / "SOUND").size(), 2u);
    EXPECT_EQ(seen,
              (std::vector<std::string>{"6:1 T_05_12_2026 16_06_01_1.wav", "7:0 T_05_12_2026 16_06_01_1.wav",
                                        "7:1 T_05_12_2026 16_07_01_1.wav", "8:1 T_05_12_2026 16_07_01_1.wav"}));
}

TEST(DemoLine, StereoFileWithCallsOnBothSidesOverQuietLineNoise) {
    test::TempDir dir("kestavo-demo");
    ASSERT_FALSE(WriteDemoLine(dir / kDemoFile, 60.0));
    const auto wav = test::readWav(dir / kDemoFile);
    ASSERT_TRUE(wav);
    EXPECT_EQ(std::tuple(wav->channels, wav->sampleRate, wav->bits), std::tuple(2, kLineRate, 16));  // a line
    const auto frames = wav->samples16();
    ASSERT_EQ(frames.size(), std::size_t(2 * 60 * kLineRate));
    auto peakDb = [&](int side, double from, double to) {
        int peak = 1;
        for (auto i = std::size_t(from * kLineRate); i < std::size_t(to * kLineRate); ++i)
            peak = std::max(peak, std::abs(int(frames[2 * i + std::size_t(side)])));
        return 20.0 * std::log10(peak / 32768.0);
    };
    EXPECT_LT(peakDb(0, 0.0, 2.9), -50.0);    // line noise before the first call
    EXPECT_GT(peakDb(0, 15.0, 25.0), -20.0);  // the conversation, loud enough for a -35 dB trigger
    EXPECT_LT(peakDb(0, 15.0, 25.0), -0.5);   // and not clipped
    EXPECT_LT(peakDb(1, 0.0, 19.9), -50.0);   // the right side's call comes later
    EXPECT_GT(peakDb(1, 35.0, 40.0), -20.0);
}
