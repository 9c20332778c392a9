// File-backed lines: which files become devices, the bytes they deliver, and the two paces.
#include "platform/file/file_lines.h"

#include <gtest/gtest.h>

#include <array>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <fstream>
#include <mutex>
#include <random>
#include <thread>

#include "support/temp_dir.h"
#include "support/wav_io.h"

namespace kestavo::platform {
namespace {

using namespace std::chrono_literals;

std::vector<std::int16_t> noise(std::size_t count, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> d(-32768, 32767);
    std::vector<std::int16_t> s(count);
    for (auto& v : s) v = std::int16_t(d(rng));
    return s;
}

// The bytes a little-endian 16-bit sample stream has in a file.
std::vector<std::byte> bytesOf(const std::vector<std::int16_t>& samples) {
    std::vector<std::byte> b;
    for (std::int16_t s : samples) {
        b.push_back(std::byte(std::uint16_t(s) & 0xFF));
        b.push_back(std::byte(std::uint16_t(s) >> 8));
    }
    return b;
}

// The six buffers of a capture thread, prepared and queued in order.
struct SixBuffers {
    std::array<std::vector<std::byte>, 6> data;
    std::array<WaveHeader, 6> headers;
    int next = 0;  // the buffer expected next

    SixBuffers(SoundInput& in, std::uint32_t bytes) {
        for (int i = 0; i < 6; ++i) {
            data[i].assign(bytes, std::byte{0xEE});
            headers[i].data = data[i].data();
            headers[i].bufferLength = bytes;
            EXPECT_FALSE(in.prepare(headers[i]));
            EXPECT_FALSE(in.addBuffer(headers[i]));
        }
    }
    // After BufferDone: the recorded bytes of the buffer expected next.
    [[nodiscard]] std::vector<std::byte> peek() const {
        EXPECT_TRUE(headers[next].done);
        return {data[next].begin(), data[next].begin() + headers[next].bytesRecorded};
    }
    void requeue(SoundInput& in) {
        EXPECT_FALSE(in.addBuffer(headers[next]));
        next = (next + 1) % 6;
    }
    std::vector<std::byte> take(SoundInput& in) {
        auto got = peek();
        requeue(in);
        return got;
    }
};

struct Lines : ::testing::Test {
    test::TempDir folder;
    PendingWork pending;
    Event stop;
    std::error_code error;

    std::filesystem::path file(const std::string& name) const { return folder.path() / name; }
};

TEST_F(Lines, EveryUsableWavFileIsOneDeviceInNameOrderAndTheRestAreReported) {
    test::writeWav16(file("b-stereo.wav"), 2, noise(200, 1));
    test::writeWav16(file("a-mono.WAV"), 1, noise(100, 2));
    test::writeWav16(file("c-8000.wav"), 1, noise(100, 3), 8000);
    std::ofstream(file("d-text.wav")) << "not a sound file";
    test::writeWav16(file("e-empty.wav"), 1, {});
    std::ofstream(file("notes.txt")) << "ignored";

    FileLineSystem lines(folder.path(), LinePace::Fast, std::nullopt, pending);
    const auto devices = lines.inputDevices();
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].productName, "a-mono.WAV");
    EXPECT_TRUE(devices[0].mono);
    EXPECT_FALSE(devices[0].stereo);
    EXPECT_EQ(devices[1].productName, "b-stereo.wav");
    EXPECT_TRUE(devices[1].mono);
    EXPECT_TRUE(devices[1].stereo);

    ASSERT_EQ(lines.problems().size(), 3u);
    EXPECT_TRUE(lines.problems()[0].starts_with("c-8000.wav: 8000 Hz")) << lines.problems()[0];
    EXPECT_TRUE(lines.problems()[1].starts_with("d-text.wav: not a WAV file")) << lines.problems()[1];
    EXPECT_TRUE(lines.problems()[2].starts_with("e-empty.wav: holds no sound")) << lines.problems()[2];
}

TEST_F(Lines, MissingFolderGivesNoLinesAndNoProblem) {
    FileLineSystem lines(folder.path() / "absent", LinePace::RealTime, std::nullopt, pending);
    EXPECT_TRUE(lines.inputDevices().empty());
    EXPECT_TRUE(lines.problems().empty());
    EXPECT_EQ(lines.clock(), nullptr);
}

TEST_F(Lines, OpenRefusesWhatTheLineCannotGive) {
    test::writeWav16(file("mono.wav"), 1, noise(100, 4));
    FileLineSystem lines(folder.path(), LinePace::RealTime, std::nullopt, pending);
    EXPECT_EQ(lines.open(0, WaveFormat::pcm(2, 11025, 16), error), nullptr);
    EXPECT_EQ(error, std::errc::invalid_argument);
    EXPECT_EQ(lines.open(0, WaveFormat::pcm(1, 8000, 16), error), nullptr);
    EXPECT_EQ(error, std::errc::invalid_argument);
    EXPECT_EQ(lines.open(1, WaveFormat::pcm(1, 11025, 16), error), nullptr);
    EXPECT_EQ(error, std::errc::no_such_device);
    EXPECT_NE(lines.open(0, WaveFormat::pcm(1, 11025, 16), error), nullptr);
    EXPECT_FALSE(error);
}

TEST_F(Lines, StereoLineDeliversTheFileBitExactInQueueOrderEndingWithAPartialBuffer) {
    const auto samples = noise(2 * 1234, 5);  // 1234 frames: 12 buffers of 100 frames and one of 34
    test::writeWav16(file("line.wav"), 2, samples);
    FileLineSystem lines(folder.path(), LinePace::Fast, std::nullopt, pending);
    auto in = lines.open(0, WaveFormat::pcm(2, 11025, 16), error);
    ASSERT_NE(in, nullptr);
    SixBuffers buffers(*in, 400);
    ASSERT_FALSE(in->start());

    std::vector<std::byte> got;
    std::vector<std::uint32_t> lengths;
    for (int i = 0; i < 13; ++i) {
        ASSERT_EQ(in->wait(stop, 5s), WaitResult::BufferDone) << "buffer " << i;
        const auto block = buffers.take(*in);
        lengths.push_back(std::uint32_t(block.size()));
        got.insert(got.end(), block.begin(), block.end());
    }
    EXPECT_EQ(in->wait(stop, 0ms), WaitResult::TimedOut);  // the line has fallen silent
    EXPECT_EQ(got, bytesOf(samples));
    EXPECT_EQ(lengths, (std::vector<std::uint32_t>{400, 400, 400, 400, 400, 400, 400, 400, 400, 400, 400, 400, 136}));

    in->reset();
    for (const auto& h : buffers.headers) {
        EXPECT_TRUE(h.done);
        EXPECT_FALSE(h.queued);
    }
    in->stop();
    for (auto& h : buffers.headers) in->unprepare(h);
    in->close();
}

TEST_F(Lines, StereoFileOpenedMonoGivesItsLeftSideAndEightBitsKeepTheHighByte) {
    // left: the edges of the 16-bit range and the steps of the high byte; right: their negation
    const std::vector<std::int16_t> left{-32768, -257, -256, -1, 0, 255, 256, 32767};
    std::vector<std::int16_t> frames;
    for (std::int16_t s : left) frames.insert(frames.end(), {s, std::int16_t(-1 - s)});
    test::writeWav16(file("line.wav"), 2, frames);
    FileLineSystem lines(folder.path(), LinePace::Fast, std::nullopt, pending);

    auto mono16 = lines.open(0, WaveFormat::pcm(1, 11025, 16), error);
    ASSERT_NE(mono16, nullptr);
    SixBuffers b16(*mono16, 64);
    ASSERT_FALSE(mono16->start());
    ASSERT_EQ(mono16->wait(stop, 5s), WaitResult::BufferDone);
    EXPECT_EQ(b16.take(*mono16), bytesOf(left));

    auto mono8 = lines.open(0, WaveFormat::pcm(1, 11025, 8), error);
    ASSERT_NE(mono8, nullptr);
    SixBuffers b8(*mono8, 64);
    ASSERT_FALSE(mono8->start());
    ASSERT_EQ(mono8->wait(stop, 5s), WaitResult::BufferDone);
    const std::vector<std::byte> expected{std::byte{0},   std::byte{126}, std::byte{127}, std::byte{127},
                                          std::byte{128}, std::byte{128}, std::byte{129}, std::byte{255}};
    EXPECT_EQ(b8.take(*mono8), expected);
}

TEST_F(Lines, RealTimeLineHasNothingBeforeItsTimeAndFallsSilentAfterItsEnd) {
    test::writeWav16(file("long.wav"), 1, noise(20000, 6));
    const auto samples = noise(44, 7);
    test::writeWav16(file("short.wav"), 1, samples);
    FileLineSystem lines(folder.path(), LinePace::RealTime, std::nullopt, pending);

    auto slow = lines.open(0, WaveFormat::pcm(1, 11025, 16), error);
    ASSERT_NE(slow, nullptr);
    SixBuffers big(*slow, 32768);  // the first buffer is due 1.49 s after the start
    ASSERT_FALSE(slow->start());
    EXPECT_EQ(slow->wait(stop, 20ms), WaitResult::TimedOut);

    auto fast = lines.open(1, WaveFormat::pcm(1, 11025, 16), error);
    ASSERT_NE(fast, nullptr);
    SixBuffers small(*fast, 22);  // 11 samples, 1 ms each
    ASSERT_FALSE(fast->start());
    std::vector<std::byte> got;
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(fast->wait(stop, 5s), WaitResult::BufferDone);
        const auto block = small.take(*fast);
        got.insert(got.end(), block.begin(), block.end());
    }
    EXPECT_EQ(got, bytesOf(samples));
    EXPECT_EQ(fast->wait(stop, 10ms), WaitResult::TimedOut);
}

TEST_F(Lines, SettingTheStopEventEndsAWaitAtOnce) {
    test::writeWav16(file("line.wav"), 1, noise(20000, 7));
    FileLineSystem lines(folder.path(), LinePace::RealTime, std::nullopt, pending);
    auto in = lines.open(0, WaveFormat::pcm(1, 11025, 16), error);
    ASSERT_NE(in, nullptr);
    SixBuffers buffers(*in, 32768);
    ASSERT_FALSE(in->start());

    WaitResult result = WaitResult::TimedOut;
    std::thread capture([&] { result = in->wait(stop, 60s); });  // a lost stop hangs until the ctest timeout
    stop.set();
    capture.join();
    EXPECT_EQ(result, WaitResult::Stopped);
    EXPECT_EQ(in->wait(stop, 60s), WaitResult::Stopped);
}

TEST_F(Lines, FastLineWaitsUntilTheChannelsAreIdle) {
    test::writeWav16(file("line.wav"), 1, noise(1000, 8));
    FileLineSystem lines(folder.path(), LinePace::Fast, std::nullopt, pending);
    auto in = lines.open(0, WaveFormat::pcm(1, 11025, 16), error);
    ASSERT_NE(in, nullptr);
    SixBuffers buffers(*in, 200);
    ASSERT_FALSE(in->start());
    pending.add();  // a block still being processed
    EXPECT_EQ(in->wait(stop, 30ms), WaitResult::TimedOut);
    pending.done();
    EXPECT_EQ(in->wait(stop, 5s), WaitResult::BufferDone);
}

TEST_F(Lines, FastLinesAdvanceInStepAndTheClockFollowsTheDeliveredSound) {
    test::writeWav16(file("a.wav"), 1, noise(11025 * 2 + 5513, 9));  // 2.5 s and a bit
    test::writeWav16(file("b.wav"), 2, noise(2 * 11025 * 2, 10));    // 2 s
    FileLineSystem lines(folder.path(), LinePace::Fast, LocalTime{2026, 12, 31, 23, 59, 59, 0}, pending);
    FakeClock* clock = lines.clock();
    ASSERT_NE(clock, nullptr);
    auto a = lines.open(0, WaveFormat::pcm(1, 11025, 16), error);
    auto b = lines.open(1, WaveFormat::pcm(1, 11025, 16), error);
    ASSERT_TRUE(a && b);
    SixBuffers ba(*a, 22050);  // one second per buffer
    SixBuffers bb(*b, 22050);
    ASSERT_FALSE(a->start());
    ASSERT_FALSE(b->start());

    ASSERT_EQ(a->wait(stop, 5s), WaitResult::BufferDone);
    EXPECT_EQ(clock->elapsed(), 1000ms);
    EXPECT_EQ(clock->now(), (LocalTime{2027, 1, 1, 0, 0, 0, 0}));
    (void)ba.take(*a);
    EXPECT_EQ(a->wait(stop, 30ms), WaitResult::TimedOut);  // b has not handed on its first second
    ASSERT_EQ(b->wait(stop, 5s), WaitResult::BufferDone);
    EXPECT_EQ(clock->elapsed(), 1000ms);
    EXPECT_EQ(a->wait(stop, 30ms), WaitResult::TimedOut);  // delivered is not yet handed on
    (void)bb.take(*b);
    ASSERT_EQ(a->wait(stop, 5s), WaitResult::BufferDone);
    EXPECT_EQ(clock->elapsed(), 2000ms);
    (void)ba.take(*a);
    EXPECT_EQ(a->wait(stop, 30ms), WaitResult::TimedOut);
    ASSERT_EQ(b->wait(stop, 5s), WaitResult::BufferDone);  // b's last second
    (void)bb.take(*b);
    EXPECT_FALSE(lines.allLinesEnded());
    ASSERT_EQ(a->wait(stop, 5s), WaitResult::BufferDone);  // a's last half second; b has ended
    EXPECT_EQ(clock->elapsed(), 2500ms);
    EXPECT_EQ(clock->now(), (LocalTime{2027, 1, 1, 0, 0, 1, 500}));
    EXPECT_FALSE(lines.allLinesEnded());  // not handed on yet
    (void)ba.take(*a);
    EXPECT_TRUE(lines.allLinesEnded());
    EXPECT_TRUE(lines.allLinesEndedEvent().isSet());
}

// Three capture threads with their "channels": every line's sound arrives whole and in order, the
// lines stay in step, the clock never runs ahead of the delivered sound, and the end is reported.
TEST_F(Lines, CaptureThreadsUnderLoadGetEverySampleInStep) {
    struct LineShape {
        int fileChannels, openChannels;
        std::size_t frames;
    };
    const std::array<LineShape, 3> shapes{LineShape{2, 2, 3000}, LineShape{1, 1, 2345}, LineShape{2, 1, 3100}};
    const std::array<std::string, 3> names{"l0.wav", "l1.wav", "l2.wav"};
    std::array<std::vector<std::byte>, 3> expected;
    for (int i = 0; i < 3; ++i) {
        const auto s = noise(shapes[i].frames * shapes[i].fileChannels, 20 + i);
        test::writeWav16(file(names[i]), shapes[i].fileChannels, s);
        std::vector<std::int16_t> side;
        for (std::size_t f = 0; f < shapes[i].frames; ++f)
            for (int c = 0; c < shapes[i].openChannels; ++c) side.push_back(s[f * shapes[i].fileChannels + c]);
        expected[i] = bytesOf(side);
    }
    constexpr std::int64_t kFrames = 64;  // per buffer
    FileLineSystem lines(folder.path(), LinePace::Fast, std::nullopt, pending);
    FakeClock& clock = *lines.clock();

    struct Entry {
        int line;
        std::int64_t index;
        std::int64_t endFrame;
        std::chrono::milliseconds clock;
    };
    std::mutex mutex;
    std::vector<Entry> log;
    std::array<std::vector<std::byte>, 3> got;
    std::deque<int> work;  // blocks waiting for the channel thread
    std::condition_variable_any workReady;

    pending.add();  // held while the lines are set up, as the program's set-up does
    std::vector<std::unique_ptr<SoundInput>> inputs;
    std::vector<std::unique_ptr<SixBuffers>> sets;
    for (int i = 0; i < 3; ++i) {
        inputs.push_back(lines.open(i, WaveFormat::pcm(shapes[i].openChannels, 11025, 16), error));
        ASSERT_NE(inputs[i], nullptr);
        sets.push_back(std::make_unique<SixBuffers>(*inputs[i], std::uint32_t(kFrames * 2 * shapes[i].openChannels)));
        ASSERT_FALSE(inputs[i]->start());
    }
    std::vector<std::jthread> threads;
    for (int i = 0; i < 3; ++i) {
        threads.emplace_back([&, i] {
            SoundInput& in = *inputs[i];
            SixBuffers& buffers = *sets[i];
            std::int64_t index = 0, end = 0;
            for (;;) {
                const WaitResult r = in.wait(stop, 20ms);
                if (r == WaitResult::Stopped) break;
                if (r != WaitResult::BufferDone) continue;
                const auto block = buffers.peek();
                {
                    std::lock_guard lock(mutex);
                    end += std::int64_t(block.size()) / (2 * shapes[i].openChannels);
                    log.push_back(Entry{i, ++index, end, clock.elapsed()});
                    got[i].insert(got[i].end(), block.begin(), block.end());
                    pending.add();
                    work.push_back(i);
                }
                workReady.notify_all();
                buffers.requeue(in);  // handed on
            }
            in.reset();
            in.stop();
            in.close();
        });
    }
    std::jthread channel([&](std::stop_token token) {
        std::unique_lock lock(mutex);
        while (workReady.wait(lock, token, [&] { return !work.empty(); })) {
            work.pop_front();
            pending.done();
        }
    });
    pending.done();
    ASSERT_TRUE(lines.allLinesEndedEvent().wait(60s));
    stop.set();
    threads.clear();
    channel.request_stop();
    channel.join();

    for (int i = 0; i < 3; ++i) EXPECT_EQ(got[i], expected[i]) << "line " << i;
    std::array<std::int64_t, 3> buffersOf{};
    for (int i = 0; i < 3; ++i) buffersOf[i] = (std::int64_t(shapes[i].frames) + kFrames - 1) / kFrames;
    std::array<std::int64_t, 3> seen{};
    for (const Entry& e : log) {
        for (int other = 0; other < 3; ++other) {
            if (other != e.line) {
                ASSERT_GE(seen[other], std::min(e.index - 1, buffersOf[other]))
                    << "line " << e.line << " buffer " << e.index;
            }
        }
        seen[e.line] = e.index;
        EXPECT_GE(e.clock.count(), e.endFrame * 1000 / 11025);
        EXPECT_LE(e.clock.count(), e.index * kFrames * 1000 / 11025);
    }
    EXPECT_EQ(clock.elapsed().count(), 3100 * 1000 / 11025);
    EXPECT_EQ(pending.count(), 0);
}

}  // namespace
}  // namespace kestavo::platform
