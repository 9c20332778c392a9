// A sound device that vanishes while its channel records, over two file-backed lines: its channel's
// file ends with the device's last block and says why, the other channel records on, the row shows
// the fault, and the device put back feeds the same channel again.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "app_fixture.h"
#include "platform/file/file_lines.h"
#include "platform/line_rate.h"
#include "support/fake_sound.h"
#include "support/wav_io.h"

using namespace kestavo;
using namespace kestavo::app;
using namespace kestavo::app::testing;
namespace fs = std::filesystem;

namespace {

constexpr std::size_t kBlock = 16384;  // samples per capture buffer of a mono line

// The 16-bit samples of a complete WAV file.
std::vector<std::int16_t> samplesOf(const std::string& path) {
    const auto wav = test::readWav(path);
    EXPECT_TRUE(wav) << path;
    return wav ? wav->samples16() : std::vector<std::int16_t>{};
}

bool startsWith(const std::vector<std::int16_t>& whole, const std::vector<std::int16_t>& part) {
    return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
}

// Ticks the core until `done` holds, at most 30 s of real time (a missing event fails, not hangs).
bool ticksUntil(CoreRig& rig, const std::function<bool()>& done) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done() && std::chrono::steady_clock::now() < until) {
        rig.ticks(1);
        std::this_thread::yield();
    }
    return done();
}

}  // namespace

TEST(LostDevice, RemovedLineEndsItsChannelsFileWithItsLastBlockTheOtherRecordsOnAndItsReturnRecordsAgain) {
    CoreRig rig;
    const fs::path folder = rig.dir / "LINES";
    fs::create_directories(folder);
    const auto a = test::numberedSamples(1, 40 * kBlock);
    const auto b = test::numberedSamples(2, 40 * kBlock);
    test::writeWav16(folder / "a.wav", 1, a);
    test::writeWav16(folder / "b.wav", 1, b);
    writeIni(rig.files.file,
             {"[DEVICES]", "LOADALL=0", "[MAIN]", "DIRS_D=0", "Language=English", "[Channels]", "MAX=2", "[Channels1]",
              "DEVICE1=0 a.wav 1 канал", "CompressMode1=0", "Min_Time1=0", "Max_Time1=0", "PREFIX1=A_", "[Channels2]",
              "DEVICE2=1 b.wav 1 канал", "CompressMode2=0", "Min_Time2=0", "Max_Time2=0", "PREFIX2=B_"});
    platform::FileLineSystem lines(folder, platform::LinePace::Fast, std::nullopt, rig.pending);
    rig.lines = &lines;
    // Line a's third block waits in channel 1's queue (a helper holds the channel's lock) until the
    // core has seen the loss, and every line holds before its next buffer until the test lets go.
    std::atomic<int> aBlocks{0};
    test::WatchedCount aSeen, grab, held, lossSeen;
    rig.makeSink = [&](capture::Tchannel& c, const platform::Event&) -> capture::BlockSink {
        return [&](const std::byte* block, std::uint32_t length) {
            const bool third = c.ChannelNumber() == 1 && ++aBlocks == 3;
            if (third) {
                grab.raise();
                EXPECT_TRUE(held.waitFor(1));
            }
            c.PutData(block, length);
            if (third) rig.pending.add();
            if (c.ChannelNumber() == 1) aSeen.raise();
        };
    };
    std::vector<DeviceEvent> devices;
    rig.pending.add();  // both channels record from the lines' first sample
    rig.start();
    rig.core->SetDeviceListener([&](const DeviceEvent& e) {
        devices.push_back(e);
        lossSeen.raise();
    });
    std::jthread helper([&] {
        if (!grab.waitFor(1)) return;
        rig.core->Row(1)->Channel()->EditSchedule([&](config::Tperiods&) {
            held.raise();
            (void)lossSeen.waitFor(1, std::chrono::seconds(10));  // bounded: a once-a-second tick needs the lock too
        });
    });
    ASSERT_EQ(rig.core->Rows().size(), 2u);
    rig.core->RecordButton(1);
    rig.core->RecordButton(2);
    rig.pending.done();

    ASSERT_TRUE(aSeen.waitFor(3));
    fs::rename(folder / "a.wav", folder / "a.away");
    rig.pending.done();
    Tkanal& rowA = *rig.core->Row(1);
    Tkanal& rowB = *rig.core->Row(2);
    auto stoppedBy = [&](int channel, capture::RecordCause cause) {
        return std::find_if(rig.activity.begin(), rig.activity.end(), [&](const Activity& x) {
            return x.report.kind == capture::ChannelReport::Kind::Stopped && x.report.channel == channel &&
                x.report.cause == cause;
        });
    };
    // The capture thread notices first, so the core sees the loss at its next tick.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!rig.core->Setup()->CaptureFor(0)->Lost() && std::chrono::steady_clock::now() < until)
        std::this_thread::yield();
    ASSERT_TRUE(ticksUntil(rig, [&] { return stoppedBy(1, capture::RecordCause::DeviceLost) != rig.activity.end(); }));
    const auto lost = *stoppedBy(1, capture::RecordCause::DeviceLost);
    EXPECT_EQ(lost.report.outcome, capture::RecordOutcome::Kept);
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].kind, DeviceEvent::Kind::Lost);
    EXPECT_EQ(devices[0].device, "0 a.wav");
    EXPECT_EQ(devices[0].reason, std::errc::no_such_file_or_directory);
    EXPECT_EQ(devices[0].channels, std::vector<int>{1});
    // The row shows the fault and cannot start a recording without sound; the other channel records.
    EXPECT_FALSE(rowA.Recording());
    EXPECT_EQ(rig.core->StateText(rowA), " NO DEVICE");
    rig.core->RecordButton(1);
    EXPECT_FALSE(rowA.Recording());
    EXPECT_TRUE(rowB.Recording());
    // The file holds the three blocks the line gave before its file went, sample for sample.
    EXPECT_EQ(samplesOf(lost.report.file), std::vector<std::int16_t>(a.begin(), a.begin() + 3 * kBlock));

    // Back: within 2 s of ticks the device is found again by its name, the same channel hears it
    // from its start, and the recording the loss ended goes on in a new file.
    const std::uint64_t before = rowA.Channel()->BlocksProcessed();
    fs::rename(folder / "a.away", folder / "a.wav");
    ASSERT_TRUE(ticksUntil(rig, [&] { return devices.size() == 2; }));
    EXPECT_EQ(devices[1].kind, DeviceEvent::Kind::Back);
    EXPECT_EQ(devices[1].channels, std::vector<int>{1});
    EXPECT_TRUE(rowA.Recording());
    EXPECT_EQ(rig.core->StateText(rowA), rig.core->StateText(rowB));  // recording, as channel 2
    ASSERT_TRUE(ticksUntil(rig, [&] { return rowA.Channel()->BlocksProcessed() >= before + 2; }));
    const auto resumed = std::find_if(rig.activity.begin(), rig.activity.end(), [](const Activity& x) {
        return x.report.kind == capture::ChannelReport::Kind::Started &&
            x.report.cause == capture::RecordCause::DeviceBack;
    });
    ASSERT_NE(resumed, rig.activity.end());
    EXPECT_EQ(resumed->report.channel, 1);
    const std::string againFile = resumed->report.file;
    rig.core->Shutdown();

    const auto again = samplesOf(againFile);
    EXPECT_GE(again.size(), 2 * kBlock);
    EXPECT_TRUE(startsWith(a, again));  // the line put back plays from its start
    // Channel 2 recorded on without a gap: one file holding line b from its first sample.
    EXPECT_EQ(stoppedBy(2, capture::RecordCause::DeviceLost), rig.activity.end());
    const auto wholeB = std::find_if(rig.activity.begin(), rig.activity.end(), [](const Activity& x) {
        return x.report.kind == capture::ChannelReport::Kind::Stopped && x.report.channel == 2;
    });
    ASSERT_NE(wholeB, rig.activity.end());
    EXPECT_EQ(wholeB->report.cause, capture::RecordCause::Shutdown);
    const auto recordedB = samplesOf(wholeB->report.file);
    EXPECT_GE(recordedB.size(), 4 * kBlock);
    EXPECT_EQ(recordedB.size() % kBlock, 0u);
    EXPECT_TRUE(startsWith(b, recordedB));
}

TEST(LostDevice, IsOpenedAgainByItsProductNameUnderANewNumberNeverAsAnotherDeviceOnItsOldNumber) {
    CoreRig rig;
    rig.input.devices.reserve(3);  // the running capture of CardA keeps a reference to its entry
    rig.input.devices.push_back({{"CardA", true, false}, std::vector<std::byte>(65536 * 4), {}, 0, -1});
    rig.input.devices.push_back({{"CardB", true, false}, std::vector<std::byte>(65536 * 4), {}, 0, 1});
    writeIni(rig.files.file, {"[DEVICES]", "LOADALL=1", "[MAIN]", "DIRS_D=0"});
    std::vector<DeviceEvent> devices;
    rig.start();
    rig.core->SetDeviceListener([&](const DeviceEvent& e) { devices.push_back(e); });
    ASSERT_EQ(rig.core->Rows().size(), 2u);
    ASSERT_TRUE(ticksUntil(rig, [&] { return devices.size() == 1; }));
    EXPECT_EQ(devices[0].device, "1 CardB");
    EXPECT_EQ(devices[0].channels, std::vector<int>{2});
    EXPECT_EQ(rig.core->Setup()->CaptureFor(1), nullptr);
    ASSERT_NE(rig.core->Setup()->CaptureFor(0), nullptr);  // CardA records on

    // Another card on the old number is not taken for it, over many attempts.
    rig.input.devices[1].info = {"CardC", true, false};
    const int opensBefore = rig.input.opens.load();
    rig.ticks(5 * AppCore::kReopenTicks);
    EXPECT_EQ(devices.size(), 1u);
    EXPECT_EQ(rig.input.opens.load(), opensBefore);
    EXPECT_TRUE(rig.core->Row(2)->deviceLost);

    // CardB comes back as device 2: found by its name, it feeds channel 2 again.
    rig.input.devices.push_back({{"CardB", true, false}, std::vector<std::byte>(65536 * 4), {}, 0, -1});
    const std::uint64_t before = rig.core->Row(2)->Channel()->BlocksProcessed();
    ASSERT_TRUE(ticksUntil(rig, [&] { return devices.size() == 2; }));
    EXPECT_EQ(devices[1].kind, DeviceEvent::Kind::Back);
    EXPECT_EQ(devices[1].channels, std::vector<int>{2});
    ASSERT_NE(rig.core->Setup()->CaptureFor(1), nullptr);
    EXPECT_EQ(rig.core->Setup()->CaptureFor(1)->DeviceId(), 2);
    EXPECT_FALSE(rig.core->Row(2)->deviceLost);
    EXPECT_TRUE(ticksUntil(rig, [&] { return rig.core->Row(2)->Channel()->BlocksProcessed() > before; }));
    rig.core->Setup()->RestartCaptures();  // a restart keeps to the number it was found under
    ASSERT_NE(rig.core->Setup()->CaptureFor(1), nullptr);
    EXPECT_EQ(rig.core->Setup()->CaptureFor(1)->DeviceId(), 2);
}
