// The JSON sidecar of a recording: what it holds and under which name, one for a file never made,
// and its atomic write on a disk that fails (nothing partial, the old file untouched).
#include <gtest/gtest.h>

#include "app/recording_sidecar.h"
#include "support/faulty_disk.h"
#include "support/file_text.h"
#include "support/temp_dir.h"

using namespace kestavo;
using Kind = capture::ChannelReport::Kind;
namespace fs = std::filesystem;

namespace {

capture::ChannelReport report(Kind kind, std::string file, capture::RecordCause cause = capture::RecordCause::Level) {
    capture::ChannelReport r;
    r.kind = kind;
    r.channel = 2;
    r.file = std::move(file);
    r.cause = cause;
    return r;
}

platform::LocalTime at(int second) { return {2026, 12, 5, 16, 0, second, 250}; }

}  // namespace

TEST(RecordingSidecar, AKeptRecordingGetsItsNumbersUnderItsFinalNameAndAnUnmadeFileItsFault) {
    test::TempDir dir("kestavo-sidecar");
    const std::string started = (dir / "L_1.wav").string(), renamed = (dir / "L_1(4951).wav").string();
    app::RecordingSidecars sidecars;
    EXPECT_FALSE(sidecars.Take(report(Kind::Started, started), at(1), "pc 2", "L_", true));
    auto dtmf = report(Kind::Detected, started);
    dtmf.detection = capture::DetectionKind::Dtmf;
    dtmf.text = "4951";
    dtmf.offsetSeconds = 128083.0 / 11025;  // reported on sample 128083 of the file
    EXPECT_FALSE(sidecars.Take(dtmf, at(7), {}, {}, true));
    auto before = dtmf;  // a number from before the recording has no place in its file
    before.offsetSeconds = -1;
    EXPECT_FALSE(sidecars.Take(before, at(7), {}, {}, true));
    sidecars.HandedToUpload(renamed);
    auto stop = report(Kind::Stopped, renamed, capture::RecordCause::Operator);
    const auto written = sidecars.Take(stop, at(20), {}, {}, true);
    ASSERT_TRUE(written);
    EXPECT_EQ(written->path, dir / "L_1(4951).wav.json");
    EXPECT_FALSE(written->error);
    EXPECT_TRUE(written->upload);
    EXPECT_EQ(test::readText(written->path), R"({
  "channel": 2,
  "label": "pc 2",
  "prefix": "L_",
  "file": "L_1(4951).wav",
  "start": "2026-12-05T16:00:01.250",
  "stop": "2026-12-05T16:00:20.250",
  "trigger": "level",
  "stop_cause": "operator",
  "outcome": "kept",
  "detections": [
    {"detector": "dtmf", "text": "4951", "offset": 11.618}
  ],
  "fault": null,
  "lost_seconds": 0.000
}
)");

    // A recording whose file was never made gets one naming the fault where the file would have been.
    const std::string name = (dir / "a.wav").string();
    (void)sidecars.Take(report(Kind::Started, name), at(1), "1", "", true);
    auto fault = report(Kind::Fault, name);
    fault.error = ENOSPC;
    fault.text = "No space left on device";
    (void)sidecars.Take(fault, at(2), {}, {}, true);
    auto noFile = report(Kind::Stopped, {});
    noFile.outcome = capture::RecordOutcome::NoFile;
    const auto unmade = sidecars.Take(noFile, at(9), {}, {}, true);
    ASSERT_TRUE(unmade);
    EXPECT_FALSE(unmade->upload);
    const std::string text = test::readText(dir / "a.wav.json");
    EXPECT_NE(text.find("\"outcome\": \"no file\""), std::string::npos) << text;
    EXPECT_NE(text.find("\"fault\": \"No space left on device\""), std::string::npos) << text;
    EXPECT_EQ(test::fileNames(dir.path()), (std::vector<std::string>{"L_1(4951).wav.json", "a.wav.json"}));
}

TEST(RecordingSidecar, AFailingDiskLeavesNoPartialSidecarAndTheOldOneUntouched) {
    struct Case {
        const char* what;
        int refuse;          // errno for every new file, 0: none
        std::uint64_t room;  // bytes a file may hold before writes fail with ENOSPC
        int expected;        // errno of the result, 0: written
    };
    const Case cases[] = {{"healthy", 0, UINT64_MAX, 0},
                          {"read-only folder", EROFS, UINT64_MAX, EROFS},
                          {"disk full after 10 bytes", 0, 10, ENOSPC},
                          {"disk full at once", 0, 0, ENOSPC}};
    const std::string text = "{\n  \"channel\": 1\n}\n";
    for (const Case& c : cases) {
        test::TempDir dir("kestavo-sidecar");
        const fs::path path = dir / "x.wav.json";
        test::writeText(path, "old");
        test::FaultyDisk disk;
        if (c.refuse) disk.refuseNewFiles(c.refuse);
        if (c.room != UINT64_MAX) disk.failWritesBeyond(c.room, ENOSPC);
        const recording::FileOps ops = test::FaultyDisk::ops();
        EXPECT_EQ(app::WriteSidecarFile(path, text, ops).value(), c.expected) << c.what;
        EXPECT_EQ(test::readText(path), c.expected ? "old" : text) << c.what;
        EXPECT_EQ(test::fileNames(dir.path()), (std::vector<std::string>{"x.wav.json"})) << c.what;
    }
}
