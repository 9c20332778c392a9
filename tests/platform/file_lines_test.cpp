// File-backed lines: which files become devices, the bytes they deliver, and the two paces.
#include "platform/file/file_lines.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <deque>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/line_rate.h"
#include "support/device_buffers.h"
#include "support/temp_dir.h"
#include "support/wav_io.h"

namespace kestavo::platform {
namespace {

using namespace std::chrono_literals;

struct Lines : ::testing::Test {
    test::TempDir folder;
    PendingWork pending;
    Event stop;
    std::error_code error;
};

TEST_F(Lines, EveryUsableWavFileIsOneDeviceInNameOrderGivingItsSoundAsOpenedAndTheRestAreReported) {
    // left: the edges of the 16-bit range and the steps of the high byte; right: their negation
    const std::vector<std::int16_t> left{-32768, -257, -256, -1, 0, 255, 256, 32767};
    std::vector<std::int16_t> frames;
    for (std::int16_t s : left) frames.insert(frames.end(), {s, std::int16_t(-1 - s)});
    test::writeWav16(folder / "b-stereo.wav", 2, frames);
    test::writeWav16(folder / "a-mono.WAV", 1, test::numberedSamples(2, 100));
    test::writeWav16(folder / "c-8000.wav", 1, test::numberedSamples(3, 100), 8000);
    std::ofstream(folder / "d-text.wav") << "not a sound file";
    test::writeWav16(folder / "e-empty.wav", 1, {});
    std::ofstream(folder / "notes.txt") << "ignored";

    FileLineSystem lines(folder.path(), LinePace::Fast, std::nullopt, pending);
    std::vector<std::tuple<std::string, bool, bool>> listed;  // name, mono, stereo
    for (const auto& d : lines.inputDevices()) listed.emplace_back(d.productName, d.mono, d.stereo);
    EXPECT_EQ(listed, (decltype(listed){{"a-mono.WAV", true, false}, {"b-stereo.wav", true, true}}));

    ASSERT_EQ(lines.problems().size(), 3u);
    EXPECT_TRUE(lines.problems()[0].starts_with("c-8000.wav: 8000 Hz")) << lines.problems()[0];
    EXPECT_TRUE(lines.problems()[1].starts_with("d-text.wav: not a WAV file")) << lines.problems()[1];
    EXPECT_TRUE(lines.problems()[2].starts_with("e-empty.wav: holds no sound")) << lines.problems()[2];

    struct Case {
        int device, channels, rate;
        std::error_code error;
    };
    const auto invalid = make_error_code(std::errc::invalid_argument);
    for (const auto& [device, channels, rate, expected] :
         {Case{0, 2, kLineRate, invalid}, Case{0, 1, 8000, invalid},
          Case{2, 1, kLineRate, make_error_code(std::errc::no_such_device)}, Case{0, 1, kLineRate, {}}}) {
        EXPECT_EQ(lines.open(device, WaveFormat::pcm(channels, rate, 16), error) == nullptr, bool(expected));
        EXPECT_EQ(error, expected) << device << " " << channels << " " << rate;
    }
    // The stereo line opened as mono gives its left side, and with 8 bits the high bytes offset by 128.
    std::vector<std::byte> eightBit;
    for (const int b : {0, 126, 127, 127, 128, 128, 129, 255}) eightBit.push_back(std::byte(b));
    for (const auto& [bits, expected] : {std::pair{16, test::leBytes(left)}, std::pair{8, eightBit}}) {
        auto in = lines.open(1, WaveFormat::pcm(1, kLineRate, bits), error);
        ASSERT_NE(in, nullptr);
        test::DeviceBuffers buffers(*in, 6, 64);
        ASSERT_FALSE(in->start());
        EXPECT_EQ(buffers.next(stop), expected) << bits;
        EXPECT_EQ(in->wait(stop, 0ms), WaitResult::TimedOut);  // the line has fallen silent
        buffers.finish();
    }

    FileLineSystem none(folder.path() / "absent", LinePace::RealTime, std::nullopt, pending);
    EXPECT_TRUE(none.inputDevices().empty());
    EXPECT_TRUE(none.problems().empty());  // a missing folder is no problem
    EXPECT_EQ(none.clock(), nullptr);
}

TEST_F(Lines, RealTimeLineHasNothingBeforeItsTimeFallsSilentAfterItsEndAndStopsAtOnce) {
    test::writeWav16(folder / "long.wav", 1, test::numberedSamples(6, 20000));
    const auto samples = test::numberedSamples(7, 44);
    test::writeWav16(folder / "short.wav", 1, samples);
    FileLineSystem lines(folder.path(), LinePace::RealTime, std::nullopt, pending);

    auto slow = lines.open(0, WaveFormat::pcm(1, kLineRate, 16), error);
    auto fast = lines.open(1, WaveFormat::pcm(1, kLineRate, 16), error);
    ASSERT_TRUE(slow && fast);
    test::DeviceBuffers big(*slow, 6, 32768);  // the first buffer is due 1.49 s after the start
    ASSERT_FALSE(slow->start());
    EXPECT_EQ(slow->wait(stop, 20ms), WaitResult::TimedOut);
    test::DeviceBuffers small(*fast, 6, 22);  // 11 samples, 1 ms each
    ASSERT_FALSE(fast->start());
    for (std::size_t i = 0; i < 44; i += 11)
        EXPECT_EQ(small.next(stop), test::leBytes({samples.begin() + i, samples.begin() + i + 11})) << i;
    EXPECT_EQ(fast->wait(stop, 10ms), WaitResult::TimedOut);

    WaitResult result = WaitResult::TimedOut;                      // the slow line's first buffer is still far off
    std::thread capture([&] { result = slow->wait(stop, 60s); });  // a lost stop hangs until the ctest timeout
    stop.set();
    capture.join();
    EXPECT_EQ(result, WaitResult::Stopped);
    EXPECT_EQ(slow->wait(stop, 60s), WaitResult::Stopped);
}

TEST_F(Lines, FastLinesWaitForIdleChannelsAdvanceInStepAndTheClockFollowsTheDeliveredSound) {
    test::writeWav16(folder / "a.wav", 1, test::numberedSamples(9, kLineRate * 2 + 5513));  // 2.5 s and a bit
    test::writeWav16(folder / "b.wav", 2, test::numberedSamples(10, 2 * kLineRate * 2));    // 2 s
    FileLineSystem lines(folder.path(), LinePace::Fast, LocalTime{2026, 12, 31, 23, 59, 59, 0}, pending);
    FakeClock* clock = lines.clock();
    ASSERT_NE(clock, nullptr);
    auto a = lines.open(0, WaveFormat::pcm(1, kLineRate, 16), error),
         b = lines.open(1, WaveFormat::pcm(1, kLineRate, 16), error);
    ASSERT_TRUE(a && b);
    test::DeviceBuffers ba(*a, 6, 22050);  // one second per buffer
    test::DeviceBuffers bb(*b, 6, 22050);
    ASSERT_FALSE(a->start() || b->start());
    pending.add();  // a block still being processed: nothing more comes
    EXPECT_EQ(a->wait(stop, 30ms), WaitResult::TimedOut);
    pending.done();

    EXPECT_FALSE(ba.next(stop).empty());
    EXPECT_EQ(clock->elapsed(), 1000ms);
    EXPECT_EQ(clock->now(), (LocalTime{2027, 1, 1, 0, 0, 0, 0}));
    EXPECT_EQ(a->wait(stop, 30ms), WaitResult::TimedOut);  // b has not handed on its first second
    ASSERT_EQ(b->wait(stop, 5s), WaitResult::BufferDone);
    EXPECT_EQ(clock->elapsed(), 1000ms);
    EXPECT_EQ(a->wait(stop, 30ms), WaitResult::TimedOut);  // delivered is not yet handed on
    (void)bb.take();
    EXPECT_FALSE(ba.next(stop).empty());
    EXPECT_EQ(clock->elapsed(), 2000ms);
    EXPECT_EQ(a->wait(stop, 30ms), WaitResult::TimedOut);
    EXPECT_FALSE(bb.next(stop).empty());  // b's last second
    EXPECT_FALSE(lines.allLinesEnded());
    ASSERT_EQ(a->wait(stop, 5s), WaitResult::BufferDone);  // a's last half second; b has ended
    EXPECT_EQ(clock->elapsed(), 2500ms);
    EXPECT_EQ(clock->now(), (LocalTime{2027, 1, 1, 0, 0, 1, 500}));
    EXPECT_FALSE(lines.allLinesEnded());  // not handed on yet
    (void)ba.take();
    EXPECT_TRUE(lines.allLinesEnded());
    EXPECT_TRUE(lines.allLinesEndedEvent().isSet());
}

TEST_F(Lines, ARemovedOrReplacedFileLosesItsLineBeforeTheNextBufferAndAFilePutBackPlaysAgainFromItsStart) {
    const auto sound = test::numberedSamples(4, 1000);
    test::writeWav16(folder / "a.wav", 1, sound);
    test::writeWav16(folder / "b.wav", 2, test::numberedSamples(5, 1000));
    FileLineSystem lines(folder.path(), LinePace::Fast, std::nullopt, pending);
    const auto first = test::leBytes({sound.begin(), sound.begin() + 100});
    auto listed = [&] {
        std::vector<std::tuple<std::string, bool, bool>> out;  // name, mono, stereo
        for (const auto& d : lines.inputDevices()) out.emplace_back(d.productName, d.mono, d.stereo);
        return out;
    };
    // `change` done to a.wav after one buffer: the line is lost at its next wait, with the reason.
    auto playOneBufferThen = [&](const std::function<void()>& change) {
        auto in = lines.open(0, WaveFormat::pcm(1, kLineRate, 16), error);
        ASSERT_NE(in, nullptr) << error.message();
        EXPECT_FALSE(in->lostReason());
        test::DeviceBuffers buffers(*in, 6, 200);  // 100 samples
        ASSERT_FALSE(in->start());
        EXPECT_EQ(buffers.next(stop), first);  // from the file's start, every time it is opened
        change();
        EXPECT_EQ(in->wait(stop, 5s), WaitResult::DeviceLost);
        EXPECT_EQ(in->wait(stop, 5s), WaitResult::DeviceLost);  // and stays lost
        EXPECT_EQ(in->lostReason(), std::errc::no_such_file_or_directory);
        buffers.finish();
    };
    playOneBufferThen([&] { std::filesystem::rename(folder / "a.wav", folder / "a.away"); });
    // Gone: the line keeps its place with no format, and a new file joins at the end.
    test::writeWav16(folder / "0-new.wav", 1, sound);
    EXPECT_EQ(listed(),
              (decltype(listed()){{"a.wav", false, false}, {"b.wav", true, true}, {"0-new.wav", true, false}}));
    EXPECT_EQ(lines.open(0, WaveFormat::pcm(1, kLineRate, 16), error), nullptr);
    EXPECT_EQ(error, std::errc::no_such_file_or_directory);

    std::filesystem::rename(folder / "a.away", folder / "a.wav");
    EXPECT_EQ(listed(),
              (decltype(listed()){{"a.wav", true, false}, {"b.wav", true, true}, {"0-new.wav", true, false}}));
    // Another file moved over the name is not the file the line plays.
    playOneBufferThen([&] {
        test::writeWav16(folder / "other.tmp", 1, sound);
        std::filesystem::rename(folder / "other.tmp", folder / "a.wav");
    });
    playOneBufferThen([&] { std::filesystem::remove(folder / "a.wav"); });
}

// Three capture threads with their "channels": every line's sound arrives whole and in order, the
// lines stay in step, the clock never runs ahead of the delivered sound, and the end is reported.
TEST_F(Lines, CaptureThreadsUnderLoadGetEverySampleInStep) {
    struct Shape {
        int fileChannels, openChannels;
        std::int64_t frames;
    };
    const Shape shapes[] = {{2, 2, 3000}, {1, 1, 2345}, {2, 1, 3100}};
    constexpr std::int64_t kFrames = 64;  // per buffer
    std::array<std::vector<std::byte>, 3> expected, got;
    for (int i = 0; i < 3; ++i) {
        const auto s = test::numberedSamples(20 + i, std::size_t(shapes[i].frames * shapes[i].fileChannels));
        test::writeWav16(folder / ("l" + std::to_string(i) + ".wav"), shapes[i].fileChannels, s);
        std::vector<std::int16_t> side;  // the channels the line is opened with
        for (std::size_t k = 0; k < s.size(); ++k)
            if (int(k % shapes[i].fileChannels) < shapes[i].openChannels) side.push_back(s[k]);
        expected[i] = test::leBytes(side);
    }
    FileLineSystem lines(folder.path(), LinePace::Fast, std::nullopt, pending);
    FakeClock& clock = *lines.clock();
    std::mutex mutex;
    std::array<std::int64_t, 3> seen{};  // the last buffer index each line delivered
    std::deque<int> work;                // blocks waiting for the channel thread
    std::condition_variable_any workReady;

    pending.add();  // held while the lines are set up, as the program's set-up does
    std::vector<std::unique_ptr<SoundInput>> inputs;
    std::vector<std::unique_ptr<test::DeviceBuffers>> buffers;
    for (int i = 0; i < 3; ++i) {
        inputs.push_back(lines.open(i, WaveFormat::pcm(shapes[i].openChannels, kLineRate, 16), error));
        ASSERT_NE(inputs[i], nullptr);
        buffers.push_back(std::make_unique<test::DeviceBuffers>(*inputs[i], 6, kFrames * 2 * shapes[i].openChannels));
        ASSERT_FALSE(inputs[i]->start());
    }
    std::vector<std::jthread> threads;
    for (int i = 0; i < 3; ++i) {
        threads.emplace_back([&, i] {
            for (std::int64_t index = 1;; ++index) {
                WaitResult r = WaitResult::TimedOut;
                while (r == WaitResult::TimedOut) r = inputs[i]->wait(stop, 20ms);
                if (r != WaitResult::BufferDone) break;
                {
                    std::lock_guard lock(mutex);
                    for (int other = 0; other < 3; ++other)  // every other line delivered its previous buffer (or all)
                        EXPECT_GE(seen[other],
                                  std::min(other == i ? 0 : index - 1, (shapes[other].frames + kFrames - 1) / kFrames))
                            << "line " << i << " buffer " << index;
                    seen[i] = index;
                    // the clock reads the end of the sound delivered so far, but never beyond this buffer's end
                    const std::int64_t ms = clock.elapsed().count();
                    EXPECT_GE(ms, std::min(index * kFrames, shapes[i].frames) * 1000 / kLineRate);
                    EXPECT_LE(ms, index * kFrames * 1000 / kLineRate);
                    pending.add();  // before the buffer is handed on
                    const auto block = buffers[i]->take();
                    got[i].insert(got[i].end(), block.begin(), block.end());
                    work.push_back(i);
                }
                workReady.notify_all();
            }
        });
    }
    std::jthread channel([&](std::stop_token token) {
        std::unique_lock lock(mutex);
        for (; workReady.wait(lock, token, [&] { return !work.empty(); }); work.pop_front()) pending.done();
    });
    pending.done();
    ASSERT_TRUE(lines.allLinesEndedEvent().wait(60s));
    stop.set();
    threads.clear();
    channel.request_stop();
    channel.join();

    for (int i = 0; i < 3; ++i) EXPECT_EQ(got[i], expected[i]) << "line " << i;
    EXPECT_EQ(pending.count(), 0);
}

}  // namespace
}  // namespace kestavo::platform
