// The composite device list, the sound system the environment chooses, and the recording file output.
#include "platform/sound_system.h"

#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <optional>

#include "platform/file/file_output.h"
#include "platform/line_rate.h"
#include "support/device_buffers.h"
#include "support/temp_dir.h"
#include "support/wav_io.h"

namespace kestavo::platform {
namespace {

using namespace std::chrono_literals;

TEST(CompositeSoundInput, ListsBackendsOneAfterAnotherAndOpensThroughTheRightOne) {
    test::TempDir a, b;
    PendingWork pending;
    test::writeWav16(a / "a1.wav", 1, {1, 2, 3});
    test::writeWav16(b / "b1.wav", 1, {4, 5});
    test::writeWav16(b / "b2.wav", 2, {6, 7, 8, 9});
    std::vector<std::unique_ptr<SoundInputSystem>> backends;
    backends.push_back(std::make_unique<FileLineSystem>(a.path(), LinePace::Fast, std::nullopt, pending));
    backends.push_back(std::make_unique<FileLineSystem>(b.path(), LinePace::Fast, std::nullopt, pending));
    CompositeSoundInputSystem system(std::move(backends));

    std::vector<std::string> names;
    for (const auto& d : system.inputDevices()) names.push_back(d.productName);
    EXPECT_EQ(names, (std::vector<std::string>{"a1.wav", "b1.wav", "b2.wav"}));
    std::error_code error;
    Event stop;
    for (const auto& [id, first] :
         {std::pair{1, test::leBytes({4, 5})}, {2, test::leBytes({6, 8})}}) {  // the left side
        auto in = system.open(id, WaveFormat::pcm(1, kLineRate, 16), error);
        ASSERT_NE(in, nullptr);
        test::DeviceBuffers buffers(*in, 1, 64);
        ASSERT_FALSE(in->start());
        EXPECT_EQ(buffers.next(stop), first) << id;
    }
    EXPECT_EQ(system.open(3, WaveFormat::pcm(1, kLineRate, 16), error), nullptr);
    EXPECT_EQ(error, std::errc::no_such_device);
    EXPECT_EQ(system.open(-1, WaveFormat::pcm(1, kLineRate, 16), error), nullptr);
}

TEST(DefaultSoundSystem, WithoutAlsaHasOnlyTheLinesTheEnvironmentNamesAndDefaultsStandForWhatItCannotUse) {
    test::TempDir program, lines;
    test::writeWav16(lines / "demo.wav", 2, {1, 2, 3, 4});
    std::ofstream(lines / "broken.wav") << "text";
    test::ScopedEnv env;
    env.set("KESTAVO_ALSA", "off");
    env.set("KESTAVO_LINES", lines.path().string());
    env.set("KESTAVO_LINES_PACE", "fast");
    env.set("KESTAVO_LINES_START", "2026-12-05T09:00:00");
    PendingWork pending;
    Folders folders;
    folders.program = program.path();
    SoundSystem sound = makeSoundSystem(folders, pending);
    const auto devices = sound.input->inputDevices();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].productName, "demo.wav");
    EXPECT_TRUE(devices[0].stereo);
    ASSERT_EQ(sound.problems.size(), 1u);
    EXPECT_TRUE(sound.problems[0].starts_with("broken.wav")) << sound.problems[0];
    ASSERT_NE(sound.linesClock(), nullptr);
    EXPECT_EQ(sound.linesClock()->now(), (LocalTime{2026, 12, 5, 9, 0, 0, 0}));
    ASSERT_NE(sound.output, nullptr);
    EXPECT_EQ(sound.output->outputDevices().size(), 1u);

    env.set("KESTAVO_LINES", (program / "absent").string());
    env.set("KESTAVO_LINES_PACE", "quick");
    env.set("KESTAVO_LINES_START", "2026-12-05 9:00");
    for (const std::size_t problems : {3u, 0u}) {  // three values that cannot be used, then nothing said
        const LinesSettings s = LinesSettings::fromEnvironment(program.path());
        EXPECT_EQ(s.pace, LinePace::RealTime);
        EXPECT_FALSE(s.start);
        EXPECT_EQ(s.problems.size(), problems);
        for (const char* name : {"KESTAVO_LINES", "KESTAVO_LINES_PACE", "KESTAVO_LINES_START"}) env.unset(name);
    }
    EXPECT_EQ(LinesSettings::fromEnvironment(program.path()).folder, program / "LINES");
}

TEST(FileOutput, KeepsEveryWrittenBufferInOrderAndInAWavFileAndInRealTimeRefusesABufferStillPlaying) {
    test::TempDir folder;
    Event stop;
    std::error_code error;
    std::array<std::vector<std::byte>, 3> data;
    std::array<WaveHeader, 3> headers;
    for (int i = 0; i < 3; ++i) {
        data[i].assign(100, std::byte(0x10 * (i + 1)));
        headers[i] = WaveHeader{data[i].data(), 100};
    }
    FileSoundOutputSystem system(OutputPace::Immediate, folder / "monitor.wav");
    auto out = system.open(SoundOutputSystem::kWaveMapper, WaveFormat::pcm(1, kLineRate, 16), error);
    ASSERT_NE(out, nullptr);
    for (auto& h : headers) ASSERT_FALSE(out->prepare(h));
    ASSERT_FALSE(out->write(headers[0]) || out->write(headers[1]));
    ASSERT_EQ(out->wait(stop, 1s), WaitResult::BufferDone);
    EXPECT_TRUE(headers[0].done);
    ASSERT_FALSE(out->write(headers[0]));  // played: may be written again
    ASSERT_FALSE(out->write(headers[2]));
    out->reset();
    for (auto& h : headers) out->unprepare(h);
    out->close();
    EXPECT_EQ(system.writtenBlocks(), (std::vector{data[0], data[1], data[0], data[2]}));
    const auto wav = test::readWav(folder / "monitor.wav");
    ASSERT_TRUE(wav);
    EXPECT_EQ(wav->channels, 1);
    EXPECT_EQ(wav->dataSize, 400u);
    std::vector<std::uint8_t> expected;
    for (int i : {0, 1, 0, 2}) expected.insert(expected.end(), 100, std::uint8_t(0x10 * (i + 1)));
    EXPECT_EQ(wav->bytes, expected);

    FileSoundOutputSystem realTime(OutputPace::RealTime);
    out = realTime.open(0, WaveFormat::pcm(1, kLineRate, 16), error);
    ASSERT_NE(out, nullptr);
    std::vector<std::byte> long_(32768);  // 1.49 s of sound
    WaveHeader h{long_.data(), 32768};
    ASSERT_FALSE(out->prepare(h));
    ASSERT_FALSE(out->write(h));
    EXPECT_EQ(out->write(h), std::errc::device_or_resource_busy);
    EXPECT_EQ(out->wait(stop, 10ms), WaitResult::TimedOut);
    stop.set();
    EXPECT_EQ(out->wait(stop, 60s), WaitResult::Stopped);
    out->reset();
    EXPECT_TRUE(h.done && !h.queued);
}

}  // namespace
}  // namespace kestavo::platform
