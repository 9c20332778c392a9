// The JSON event lines, the level words of the log, and a batch run's progress line and summary.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

#include "app/batch_progress.h"
#include "app/event_log.h"
#include "support/file_text.h"
#include "support/temp_dir.h"
#include "support/wav_io.h"

using namespace kestavo;

namespace {

// Everything an EventLog writes for `activities`, as text.
std::string logged(const std::vector<app::Activity>& activities) {
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* f = ::open_memstream(&text, &size);
    {
        app::EventLog log(f);
        for (const auto& a : activities) log.Record(a);
        log.Fault(platform::LocalTime{2026, 12, 5, 16, 2, 0, 5}, "disk full");
    }
    std::fclose(f);
    std::string out(text, size);
    std::free(text);
    return out;
}

app::Activity at(int second, capture::ChannelReport r) {
    return {platform::LocalTime{2026, 12, 5, 16, 0, second, 250}, r};
}

}  // namespace

TEST(EventLog, WritesOneJsonObjectPerEventWithTheSoundLengthOfAWavFileOrElseTheTimeBetweenStartAndStop) {
    test::TempDir dir("event-log");
    // Two seconds and a half of 8-bit mono: 27562 bytes at 11025 bytes per second (header's byte rate).
    std::vector<std::uint8_t> wav(44 + 27562, 128);
    test::WavHeader h{.riffSize = 36 + 27562, .byteRate = 11025, .blockAlign = 1, .bits = 8, .dataSize = 27562};
    std::memcpy(wav.data(), &h, 44);
    test::writeBytes(dir / "a \"b\".wav", wav);
    using K = capture::ChannelReport::Kind;
    const std::string file = (dir / "a \"b\".wav").string();
    const std::string json = "\"" + dir.path().string() + "/a \\\"b\\\".wav\"";
    EXPECT_EQ(
        logged(
            {at(1, {.kind = K::Started, .channel = 2, .cause = capture::RecordCause::Level, .file = file}),
             at(3,
                {.kind = K::Detected,
                 .channel = 2,
                 .detection = capture::DetectionKind::Dtmf,
                 .file = file,
                 .text = "12\n"}),
             at(9,
                {.kind = K::Stopped, .channel = 2, .cause = capture::RecordCause::MaxTime, .file = file, .text = "12"}),
             at(10, {.kind = K::Started, .channel = 3, .cause = capture::RecordCause::Operator}),
             at(14, {.kind = K::Stopped, .channel = 3, .outcome = capture::RecordOutcome::NoFile})}),
        R"({"time":"2026-12-05T16:00:01.250","event":"started","channel":2,"cause":"level","path":)" + json + "}\n" +
            R"({"time":"2026-12-05T16:00:03.250","event":"detected","channel":2,"kind":"dtmf","text":"12\u000a","path":)" +
            json + "}\n" +
            R"({"time":"2026-12-05T16:00:09.250","event":"stopped","channel":2,"cause":"maximum time","outcome":"kept","path":)" +
            json + R"(,"duration":2.500,"text":"12"})" + "\n" +
            R"({"time":"2026-12-05T16:00:10.250","event":"started","channel":3,"cause":"operator","path":null})"
            "\n"
            R"({"time":"2026-12-05T16:00:14.250","event":"stopped","channel":3,"cause":"operator","outcome":"no file","path":null,"duration":4.000,"text":""})"
            "\n"
            R"({"time":"2026-12-05T16:02:00.005","event":"fault","text":"disk full"})"
            "\n");
}

TEST(EventLog, LogLinesCarryTheirLevelAndForTheJournalTheSyslogPriority) {
    struct Case {
        app::LogLevel level;
        bool journal;
        const char* line;
    };
    for (const Case& c :
         {Case{app::LogLevel::Error, false, "error: x"}, Case{app::LogLevel::Warning, false, "warning: x"},
          Case{app::LogLevel::Info, false, "info: x"}, Case{app::LogLevel::Error, true, "<3>error: x"},
          Case{app::LogLevel::Warning, true, "<4>warning: x"}, Case{app::LogLevel::Info, true, "<6>info: x"}})
        EXPECT_EQ(app::LogLine(c.level, "x", c.journal), c.line);
}

TEST(EventLog, StderrCountsAsTheJournalOnlyWhenJournalStreamNamesItsDeviceAndInode) {
    struct stat st {};
    ASSERT_EQ(::fstat(2, &st), 0);
    const std::string own = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
    const std::string other = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino + 1);
    test::ScopedEnv env;
    env.unset("JOURNAL_STREAM");
    EXPECT_FALSE(app::StderrIsJournal());
    env.set("JOURNAL_STREAM", own);
    EXPECT_TRUE(app::StderrIsJournal());
    env.set("JOURNAL_STREAM", other);  // inherited from a service, but stderr was redirected since
    EXPECT_FALSE(app::StderrIsJournal());
}

TEST(BatchProgress, ShowsTheShareDoneTheSpeedAndTheTimeLeftThenWhatTheRunMade) {
    app::BatchProgress p(3600.0);
    // 900 s of sound in 30 s: a quarter, 30 times real time, 2700 s of sound left take 90 s.
    EXPECT_EQ(p.Line(900.0, 30.0), " 25% done, 30.0x real time, 0:01:30 left");
    EXPECT_EQ(p.Line(0.0, 0.0), "  0% done");
    test::TempDir dir("batch-progress");
    test::writeWav16(dir / "call.wav", 1, std::vector<std::int16_t>(11025 * 3));
    using K = capture::ChannelReport::Kind;
    p.Count({{}, {.kind = K::Detected, .text = "5"}});
    p.Count({{}, {.kind = K::Stopped, .file = (dir / "call.wav").string()}});
    p.Count({{}, {.kind = K::Stopped, .outcome = capture::RecordOutcome::TooShort}});
    EXPECT_EQ(p.Summary(), "1 recording(s) made, 3.0 s recorded, 1 number(s) detected");
}
