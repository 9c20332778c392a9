// Monitoring playback: buffer order and reuse, spectrum inversion checked by DFT, formats, the
// bounded hand-over, opening with its one retry, device loss, and shutdown while blocks arrive.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <numbers>
#include <set>
#include <thread>

#include "capture/in_out_k.h"
#include "platform/file/file_output.h"

using namespace kestavo;
using namespace std::chrono_literals;
using capture::Tin_out;

namespace {

constexpr int kBlock = 16384;

// A file-backed output with a tap: notes which buffer (data area) each write plays, can refuse a
// number of opens, can hold writes at a gate, and can lose the device on a given write.
struct Tap {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<const std::byte*> written;  // data area of every buffer written, in order
    bool hold = false;                      // writes wait at the gate while set
    int waiting = 0;                        // writes waiting at the gate
    int loseOnWrite = -1;                   // 0-based write that finds the device gone (-1: never)
};

class TappedOutput final : public platform::SoundOutput {
public:
    TappedOutput(std::unique_ptr<platform::SoundOutput> inner, Tap& tap) : inner_(std::move(inner)), tap_(tap) {}
    std::error_code prepare(platform::WaveHeader& h) override { return inner_->prepare(h); }
    std::error_code write(platform::WaveHeader& h) override {
        std::unique_lock lock(tap_.mutex);
        ++tap_.waiting;
        tap_.changed.notify_all();
        tap_.changed.wait(lock, [&] { return !tap_.hold; });
        --tap_.waiting;
        if (int(tap_.written.size()) == tap_.loseOnWrite) return std::make_error_code(std::errc::no_such_device);
        tap_.written.push_back(h.data);
        return inner_->write(h);
    }
    platform::WaitResult wait(const platform::Event& stop, std::chrono::milliseconds t) override {
        return inner_->wait(stop, t);
    }
    void reset() noexcept override { inner_->reset(); }
    void unprepare(platform::WaveHeader& h) noexcept override { inner_->unprepare(h); }
    void close() noexcept override { inner_->close(); }

private:
    std::unique_ptr<platform::SoundOutput> inner_;
    Tap& tap_;
};

class TappedSystem final : public platform::SoundOutputSystem {
public:
    explicit TappedSystem(platform::OutputPace pace = platform::OutputPace::Immediate) : file(pace) {}
    platform::FileSoundOutputSystem file;
    Tap tap;
    int failOpens = 0;  // opens refused before one succeeds
    int attempts = 0;   // opens asked for

    std::vector<platform::OutputDeviceInfo> outputDevices() override { return file.outputDevices(); }
    std::unique_ptr<platform::SoundOutput> open(int id, const platform::WaveFormat& f, std::error_code& e) override {
        ++attempts;
        if (failOpens > 0) {
            --failOpens;
            e = std::make_error_code(std::errc::device_or_resource_busy);
            return nullptr;
        }
        auto inner = file.open(id, f, e);
        return inner ? std::make_unique<TappedOutput>(std::move(inner), tap) : nullptr;
    }
};

std::vector<std::byte> bytesOf(const std::vector<std::int16_t>& s) {
    std::vector<std::byte> b(s.size() * 2);
    for (std::size_t i = 0; i < s.size(); ++i) {  // little-endian, as the device takes it
        b[2 * i] = std::byte(std::uint16_t(s[i]) & 0xFF);
        b[2 * i + 1] = std::byte(std::uint16_t(s[i]) >> 8);
    }
    return b;
}
std::vector<std::int16_t> samplesOf(const std::vector<std::byte>& b) {
    std::vector<std::int16_t> s(b.size() / 2);
    for (std::size_t i = 0; i < s.size(); ++i)
        s[i] = std::int16_t(std::to_integer<std::uint16_t>(b[2 * i]) | (std::to_integer<std::uint16_t>(b[2 * i + 1]) << 8));
    return s;
}

// Block `k`: every sample tells the block and its position, so order and wholeness show.
std::vector<std::byte> numbered(int k) {
    std::vector<std::int16_t> s(kBlock);
    for (int i = 0; i < kBlock; ++i) s[std::size_t(i)] = std::int16_t(k * 1000 + i % 997);
    return bytesOf(s);
}

// Whole-cycle tones over one block: (bin, amplitude) pairs.
std::vector<std::int16_t> tones(std::initializer_list<std::pair<int, double>> parts) {
    std::vector<std::int16_t> s(kBlock);
    for (int n = 0; n < kBlock; ++n) {
        double v = 0.0;
        for (auto [bin, amplitude] : parts) v += amplitude * std::sin(2.0 * std::numbers::pi * bin * n / kBlock);
        s[std::size_t(n)] = std::int16_t(std::lround(v));
    }
    return s;
}

// |X[k]| of the N-point DFT.
double dftMagnitude(const std::vector<std::int16_t>& x, int k) {
    double re = 0.0, im = 0.0;
    for (std::size_t n = 0; n < x.size(); ++n) {
        const double a = 2.0 * std::numbers::pi * double(k) * double(n) / double(x.size());
        re += x[n] * std::cos(a);
        im -= x[n] * std::sin(a);
    }
    return std::hypot(re, im);
}
// Share of the block's energy held by bins k and N - k (Parseval: sum x^2 = (1/N) sum |X|^2).
double energyShare(const std::vector<std::int16_t>& x, int k) {
    double total = 0.0;
    for (auto v : x) total += double(v) * v;
    const double m = dftMagnitude(x, k);
    return 2.0 * m * m / double(x.size()) / total;
}

// Waits for something the playback thread does; a hang is caught by the test timeout.
template <class Pred>
void waitUntil(Pred pred) {
    while (!pred()) std::this_thread::sleep_for(1ms);
}

std::unique_ptr<Tin_out> open(TappedSystem& system, std::shared_ptr<capture::SpectrumInversion> inversion = nullptr,
                              std::vector<std::string>* messages = nullptr, capture::InOutParams params = {}) {
    return Tin_out::Open(
        system, params, [messages](const std::string& m) { if (messages) messages->push_back(m); }, std::move(inversion), 0ms);
}

// Puts one block and waits until it has been played (blocks arriving at the device's pace).
void play(Tin_out& out, const std::vector<std::byte>& block, int bits = 16) {
    const auto before = out.Played();
    out.PutBlock(block.data(), std::uint32_t(block.size()), bits);
    waitUntil([&] { return out.Played() > before; });
}

}  // namespace

// --- Buffers and formats ------------------------------------------------------------------------

TEST(TinOut, BlocksPlayInOrderThroughEightBuffersAndTheNinthReusesTheFirst) {
    TappedSystem system;
    auto out = open(system);
    ASSERT_NE(out, nullptr);
    const auto format = system.file.lastFormat();
    ASSERT_TRUE(format.has_value());  // mono PCM, 11025 Hz x 2 bytes = 22050 bytes per second
    EXPECT_EQ(format->formatTag, 1);
    EXPECT_EQ(format->channels, 1);
    EXPECT_EQ(format->samplesPerSec, 11025u);
    EXPECT_EQ(format->avgBytesPerSec, 22050u);
    EXPECT_EQ(format->blockAlign, 2);
    EXPECT_EQ(format->bitsPerSample, 16);

    for (int k = 0; k < 10; ++k) play(*out, numbered(k));
    const auto blocks = system.file.writtenBlocks();
    ASSERT_EQ(blocks.size(), 10u);
    for (int k = 0; k < 10; ++k) EXPECT_EQ(blocks[std::size_t(k)], numbered(k)) << "block " << k;

    std::lock_guard lock(system.tap.mutex);
    const auto& areas = system.tap.written;
    ASSERT_EQ(areas.size(), 10u);
    EXPECT_EQ(std::set<const std::byte*>(areas.begin(), areas.begin() + 8).size(), 8u);  // eight buffers
    EXPECT_EQ(areas[8], areas[0]);
    EXPECT_EQ(areas[9], areas[1]);
    EXPECT_EQ(out->Dropped(), 0u);
}

TEST(TinOut, ShortAndEightBitBlocksFillTheWholeBufferWithSilenceAfterThem) {
    TappedSystem system;
    auto out = open(system);
    ASSERT_NE(out, nullptr);
    play(*out, numbered(3));                              // leaves sound in the first buffers
    for (int k = 0; k < 7; ++k) play(*out, numbered(4));  // ... all eight of them
    // Three 16-bit samples: played, then silence rather than the sound left in the buffer.
    play(*out, bytesOf({-2, 7, 32767}));
    // Unsigned 8-bit samples 0, 128, 255 are -128, 0, 127 steps of 1/128 full scale: -32768, 0, 32512.
    const std::vector<std::byte> eight{std::byte(0), std::byte(128), std::byte(255)};
    play(*out, eight, 8);

    const auto blocks = system.file.writtenBlocks();
    ASSERT_EQ(blocks.size(), 10u);
    auto expectedShort = std::vector<std::int16_t>(kBlock, 0);
    expectedShort[0] = -2, expectedShort[1] = 7, expectedShort[2] = 32767;
    EXPECT_EQ(samplesOf(blocks[8]), expectedShort);
    auto expectedEight = std::vector<std::int16_t>(kBlock, 0);
    expectedEight[0] = -32768, expectedEight[1] = 0, expectedEight[2] = 32512;
    EXPECT_EQ(samplesOf(blocks[9]), expectedEight);
}

// --- Spectrum inversion -------------------------------------------------------------------------

TEST(TinOut, InversionMirrorsTonesAboutThePivot) {
    // Pivot 2000 Hz = 16384 x 2000 / 11025 = 2972.2 bins, taken as 2972: the band of bins 0 ... 2971
    // is turned upside down, bin k going to 2971 - k. Tones at bins 600 (8000) and 1600 (4000)
    // come out at bins 2371 and 1371 with the same amplitudes, |X| = A x N / 2.
    TappedSystem system;
    auto inversion = std::make_shared<capture::SpectrumInversion>();
    inversion->on = true;
    inversion->hertz = 2000;
    auto out = open(system, inversion);
    ASSERT_NE(out, nullptr);
    const auto in = tones({{600, 8000.0}, {1600, 4000.0}});
    play(*out, bytesOf(in));

    const auto played = samplesOf(system.file.writtenBlocks().at(0));
    EXPECT_NEAR(dftMagnitude(played, 2371), 8000.0 * kBlock / 2, 0.01 * 8000.0 * kBlock / 2);
    EXPECT_NEAR(dftMagnitude(played, 1371), 4000.0 * kBlock / 2, 0.01 * 4000.0 * kBlock / 2);
    EXPECT_GT(energyShare(played, 2371) + energyShare(played, 1371), 0.99);
    EXPECT_LT(dftMagnitude(played, 600), 0.001 * 8000.0 * kBlock / 2);
    EXPECT_LT(dftMagnitude(played, 1600), 0.001 * 8000.0 * kBlock / 2);
}

TEST(TinOut, InversionSwitchedWhilePlayingActsFromTheNextBlockAndOffPlaysBlocksUnchanged) {
    TappedSystem system;
    auto out = open(system);
    ASSERT_NE(out, nullptr);
    const auto tone = bytesOf(tones({{1000, 10000.0}}));  // 672.9 Hz
    play(*out, tone);
    out->SetInversionFrequency(1000);  // 1486 bins: bin 1000 goes to 485
    out->SetInversion(true);
    play(*out, tone);
    out->SetInversion(false);
    play(*out, tone);

    const auto blocks = system.file.writtenBlocks();
    ASSERT_EQ(blocks.size(), 3u);
    EXPECT_EQ(blocks[0], tone);  // bit for bit
    EXPECT_GT(energyShare(samplesOf(blocks[1]), 485), 0.99);
    EXPECT_EQ(blocks[2], tone);
}

// --- Hand-over ----------------------------------------------------------------------------------

TEST(TinOut, ABlockThatFindsTheQueueFullIsDroppedAndCountedWhileTheQueuedOnesPlayInOrder) {
    TappedSystem system;
    auto out = open(system);
    ASSERT_NE(out, nullptr);
    {
        std::unique_lock lock(system.tap.mutex);
        system.tap.hold = true;
    }
    const auto first = numbered(0);
    out->PutBlock(first.data(), std::uint32_t(first.size()), 16);
    {   // the playback thread has taken block 0 and is held writing it
        std::unique_lock lock(system.tap.mutex);
        system.tap.changed.wait(lock, [&] { return system.tap.waiting == 1; });
    }
    for (int k = 1; k <= Tin_out::kQueueSlots + 2; ++k) {  // the queue takes kQueueSlots of these
        const auto b = numbered(k);
        out->PutBlock(b.data(), std::uint32_t(b.size()), 16);  // never waits for the held thread
    }
    EXPECT_EQ(out->Dropped(), 2u);
    {
        std::lock_guard lock(system.tap.mutex);
        system.tap.hold = false;
    }
    system.tap.changed.notify_all();
    waitUntil([&] { return out->Played() == 1u + Tin_out::kQueueSlots; });
    const auto blocks = system.file.writtenBlocks();
    ASSERT_EQ(blocks.size(), 1u + Tin_out::kQueueSlots);
    for (int k = 0; k <= Tin_out::kQueueSlots; ++k) EXPECT_EQ(blocks[std::size_t(k)], numbered(k)) << "block " << k;
}

// --- Opening and failures -----------------------------------------------------------------------

TEST(TinOut, OutputRefusedOnceIsOpenedOnTheRetryWithoutAMessage) {
    TappedSystem system;
    system.failOpens = 1;
    std::vector<std::string> messages;
    auto out = open(system, nullptr, &messages);
    EXPECT_NE(out, nullptr);
    EXPECT_EQ(system.attempts, 2);
    EXPECT_TRUE(messages.empty());
}

TEST(TinOut, OutputRefusedTwiceGivesDeviceBusyAfterOneRetryAndNoMonitor) {
    TappedSystem system;
    system.failOpens = 5;
    std::vector<std::string> messages;
    auto out = open(system, nullptr, &messages);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(system.attempts, 2);
    EXPECT_EQ(messages, std::vector<std::string>{"Устройство занято"});
}

TEST(TinOut, UnknownOutputDeviceIsReportedBusyToo) {
    TappedSystem system;
    std::vector<std::string> messages;
    capture::InOutParams params;
    params.outputDevice = 7;  // the file-backed system lists one device
    EXPECT_EQ(open(system, nullptr, &messages, params), nullptr);
    EXPECT_EQ(messages, std::vector<std::string>{"Устройство занято"});
}

TEST(TinOut, LostDeviceEndsPlayingAndLaterBlocksAreIgnored) {
    TappedSystem system;
    system.tap.loseOnWrite = 2;
    auto out = open(system);
    ASSERT_NE(out, nullptr);
    play(*out, numbered(0));
    play(*out, numbered(1));
    const auto b = numbered(2);
    out->PutBlock(b.data(), std::uint32_t(b.size()), 16);
    waitUntil([&] { return out->DeviceLost(); });
    for (int k = 3; k < 10; ++k) {
        const auto more = numbered(k);
        out->PutBlock(more.data(), std::uint32_t(more.size()), 16);
    }
    EXPECT_EQ(out->Played(), 2u);
    EXPECT_EQ(out->Dropped(), 0u);  // ignored, not queued
    EXPECT_EQ(system.file.writtenBlocks().size(), 2u);
}

// --- Shutdown -----------------------------------------------------------------------------------

TEST(TinOut, ClosingWhileTwoChannelsFeedBlocksEndsAndLaterBlocksAreIgnored) {
    // Two feeding threads, as while the monitor moves from one channel to another; the playback
    // paces itself at real time, so it is waiting for the device when it is told to stop.
    for (int round = 0; round < 3; ++round) {
        TappedSystem system(platform::OutputPace::RealTime);
        auto out = open(system);
        ASSERT_NE(out, nullptr);
        std::atomic<bool> feeding{true};
        std::vector<std::jthread> feeders;
        for (int f = 0; f < 2; ++f)
            feeders.emplace_back([&, f] {
                const auto b = numbered(f);
                while (feeding.load()) out->PutBlock(b.data(), std::uint32_t(b.size()), 16);
            });
        waitUntil([&] { return out->Played() >= Tin_out::kHeaders; });  // every buffer queued on the device
        out->Close();
        const auto played = out->Played();
        feeding = false;
        feeders.clear();
        EXPECT_EQ(out->Played(), played);  // nothing played after Close
        EXPECT_GT(out->Dropped(), 0u);
        out.reset();  // device reset and released
        const auto blocks = system.file.writtenBlocks();
        ASSERT_EQ(blocks.size(), played);
        for (const auto& block : blocks) EXPECT_TRUE(block == numbered(0) || block == numbered(1));
    }
}

TEST(TinOut, DestroyingAMonitorThatNeverGotABlockEndsAtOnce) {
    TappedSystem system(platform::OutputPace::RealTime);
    auto out = open(system);
    ASSERT_NE(out, nullptr);
    out.reset();
    EXPECT_TRUE(system.file.writtenBlocks().empty());
}
