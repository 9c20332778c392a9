// The upload of finished recordings: the bytes on the wire, the confirmation by the receiver's
// close, and the persistent queue that keeps every file until a receiver has taken it.
#include <gtest/gtest.h>

#include <fstream>

#include "platform/memory_network.h"
#include "services/upload_client.h"
#include "support/file_text.h"
#include "support/temp_dir.h"
#include "support/upload_receiver.h"

namespace kestavo::services {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A file of `n` bytes counting 0, 1, 2 … modulo 251 (a prime, so no block repeats another).
std::vector<std::byte> pattern(std::size_t n) {
    std::vector<std::byte> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = std::byte(i % 251);
    return v;
}

void writeFile(const fs::path& p, const std::vector<std::byte>& bytes) {
    test::writeText(p, {reinterpret_cast<const char*>(bytes.data()), bytes.size()});
}

std::vector<std::byte> readFile(const fs::path& p) {
    const std::string text = test::readText(p);
    const auto* b = reinterpret_cast<const std::byte*>(text.data());
    return {b, b + text.size()};
}

UploadOptions fastOptions(platform::Network& net, const fs::path& queue = {}) {
    UploadOptions o;
    o.network = &net;
    o.queueFile = queue;
    o.firstPause = 5ms;
    o.longestPause = 40ms;
    return o;
}

TEST(UploadHeader, HoldsFileLengthNameSizeAndThreeZeroBytesLittleEndianWithTheNameCutTo99) {
    const auto h = UploadHeader("a.wav", 10000);
    std::array<std::uint8_t, 115> expected{};
    const std::uint8_t start[] = {'F', 'I', 'L', 'E', 115, 0, 0, 0, 'a', '.', 'w', 'a', 'v'};
    std::memcpy(expected.data(), start, sizeof start);
    expected[108] = 0x10;  // 10000 = 0x2710
    expected[109] = 0x27;
    for (std::size_t i = 0; i < 115; ++i) ASSERT_EQ(std::uint8_t(h[i]), expected[i]) << "byte " << i;
    const auto cut = UploadHeader(std::string(150, 'x'), 1);
    EXPECT_EQ(std::pair(std::uint8_t(cut[8 + 98]), std::uint8_t(cut[8 + 99])),
              std::pair(std::uint8_t('x'), std::uint8_t(0)));
}

TEST(SendRecording, EveryReadIncludingTheEmptyLastOneSendsOneWholeBlockWithWhatTheBufferLastHeld) {
    // file size -> blocks: the reads of up to 8192 bytes until one finds nothing
    const std::pair<std::size_t, std::size_t> cases[] = {{0, 1},    {1, 2},     {8191, 2}, {8192, 2},
                                                         {8193, 3}, {10000, 3}, {16384, 3}};
    for (const auto& [size, blocks] : cases) {
        test::TempDir dir("kestavo-upload");
        platform::MemoryNetwork net;
        test::UploadReceiver rx(net);
        const fs::path file = dir.path() / "rec.wav";
        const auto data = pattern(size);
        writeFile(file, data);
        ASSERT_EQ(SendRecording(net, {"h", rx.port(), file.string()}, fastOptions(net)), UploadResult::Delivered);
        const auto got = rx.waitFor(1);
        ASSERT_EQ(got.size(), 1u);
        const auto& raw = got[0].raw;
        ASSERT_EQ(raw.size(), 115 + blocks * 8192) << size;
        EXPECT_EQ(std::pair(got[0].name, got[0].size), std::pair(std::string("rec.wav"), std::int32_t(size)));
        EXPECT_EQ(got[0].content(), data) << size;
        EXPECT_FALSE(fs::exists(file));  // delivered: the local copy is gone
        if (size != 10000) continue;
        // Block 1: the first 8192 bytes. Block 2: the last 1808 bytes, then what block 1 left in the
        // buffer. Block 3, after the read that found nothing: the buffer as block 2 left it.
        std::vector<std::byte> block2(data.begin() + 8192, data.end());
        block2.insert(block2.end(), data.begin() + 1808, data.begin() + 8192);
        EXPECT_EQ(std::vector(raw.begin() + 115 + 8192, raw.begin() + 115 + 2 * 8192), block2);
        EXPECT_EQ(std::vector(raw.begin() + 115 + 2 * 8192, raw.end()), block2);
    }
}

TEST(SendRecording, OverTcpTheReceiverGetsTheSameBytes) {
    test::TempDir dir("kestavo-upload");
    auto& net = platform::systemNetwork();
    test::UploadReceiver rx(net);
    ASSERT_TRUE(rx.listening());
    const fs::path file = dir.path() / "tcp.wav";
    writeFile(file, pattern(100000));
    ASSERT_EQ(SendRecording(net, {"127.0.0.1", rx.port(), file.string()}, fastOptions(net)), UploadResult::Delivered);
    const auto got = rx.waitFor(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].content(), pattern(100000));
    EXPECT_EQ(got[0].raw.size(), 115u + (100000 / 8192 + 2) * 8192u);
    EXPECT_FALSE(fs::exists(file));
}

TEST(SendRecording, FileIsKeptWhenNoReceiverListensOrItBreaksOffOrNeverConfirms) {
    test::TempDir dir("kestavo-upload");
    platform::MemoryNetwork net;
    const fs::path file = dir.path() / "k.wav";
    writeFile(file, pattern(30000));
    auto o = fastOptions(net);
    o.timeout = 100ms;
    EXPECT_EQ(SendRecording(net, {"h", 45000, file.string()}, o), UploadResult::Failed);  // nobody listens
    {
        test::UploadReceiver killed(net, 45000, 5000);
        EXPECT_EQ(SendRecording(net, {"h", 45000, file.string()}, o), UploadResult::Failed);
    }
    {
        test::UploadReceiver silent(net, 45000, SIZE_MAX, true);  // reads everything, never closes
        EXPECT_EQ(SendRecording(net, {"h", 45000, file.string()}, o), UploadResult::Failed);
    }
    EXPECT_EQ(readFile(file), pattern(30000));
    EXPECT_EQ(SendRecording(net, {"h", 45000, (dir.path() / "gone.wav").string()}, o), UploadResult::Dropped);
}

TEST(TClient, ReceiverDownKeepsTheFileQueuedUntilItComesBack) {
    test::TempDir dir("kestavo-upload");
    platform::MemoryNetwork net;
    const fs::path file = dir.path() / "wait.wav";
    writeFile(file, pattern(20000));
    TClient client(fastOptions(net, dir.path() / "upload.queue"));
    client.Upload({"h", 45001, file.string()});
    ASSERT_FALSE(client.WaitDelivered(10s));  // returns at the first failure: nobody listens
    EXPECT_GE(client.Failures(), 1u);
    EXPECT_EQ(readFile(file), pattern(20000));
    test::UploadReceiver rx(net, 45001);
    ASSERT_TRUE(client.WaitEmpty(10s));
    const auto got = rx.waitFor(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].content(), pattern(20000));
    EXPECT_FALSE(fs::exists(file));
    EXPECT_EQ(client.Delivered(), 1u);
}

TEST(TClient, ARecordingBrokenOffArrivesWholeLaterAndItsSidecarQueuedAfterItStaysAfterIt) {
    test::TempDir dir("kestavo-upload");
    platform::MemoryNetwork net;
    const fs::path wav = dir.path() / "call.wav", sidecar = dir.path() / "call.wav.json";
    writeFile(wav, pattern(50000));
    writeFile(sidecar, pattern(300));
    std::ofstream(dir.path() / "upload.queue")
        << "h\t45003\t" << wav.string() << "\nh\t45003\t" << sidecar.string() << "\n";
    auto killed = std::make_unique<test::UploadReceiver>(net, 45003, 20000);  // breaks the recording off
    auto options = fastOptions(net, dir.path() / "upload.queue");
    options.firstPause = 300ms;  // the receiver is back before the next attempt
    TClient client(options);
    ASSERT_EQ(killed->waitFor(1).size(), 1u);
    killed.reset();
    EXPECT_TRUE(fs::exists(wav));
    test::UploadReceiver rx(net, 45003);
    ASSERT_TRUE(client.WaitEmpty(10s));
    const auto got = rx.waitFor(2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(std::pair(got[0].name, got[1].name), std::pair(std::string("call.wav"), std::string("call.wav.json")));
    EXPECT_EQ(got[0].content(), pattern(50000));
}

TEST(TClient, QueueOutlivesTheProgramAndATransferInFlightAtShutdownStaysQueued) {
    test::TempDir dir("kestavo-upload");
    platform::MemoryNetwork net;
    const fs::path queue = dir.path() / "upload.queue";
    const fs::path a = dir.path() / "a.wav", b = dir.path() / "b.wav";
    writeFile(a, pattern(9000));
    writeFile(b, pattern(7000));
    {
        test::UploadReceiver stuck(net, 45003, SIZE_MAX, true);  // takes everything, never confirms
        TClient client(fastOptions(net, queue));
        client.Upload({"h", 45003, a.string()});
        client.Upload({"h", 45003, b.string()});
        ASSERT_TRUE(stuck.waitForBytesInFlight(115));
    }  // shut down in the middle of a transfer: it must not wait out the 60 s
    EXPECT_TRUE(fs::exists(a));
    EXPECT_TRUE(fs::exists(b));
    EXPECT_EQ(UploadQueue(queue).size(), 2u);

    test::UploadReceiver rx(net, 45003);
    TClient next(fastOptions(net, queue));  // the next run resumes both
    ASSERT_TRUE(next.WaitEmpty(10s));
    auto got = rx.waitFor(2);
    ASSERT_EQ(got.size(), 2u);
    std::sort(got.begin(), got.end(), [](auto& x, auto& y) { return x.name < y.name; });
    EXPECT_EQ(got[0].content(), pattern(9000));
    EXPECT_EQ(got[1].content(), pattern(7000));
    EXPECT_FALSE(fs::exists(a) || fs::exists(b));
    EXPECT_EQ(UploadQueue(queue).size(), 0u);
}

TEST(UploadQueue, KeepsJobsInOrderAcrossReadingAndRefusesFieldsWithLineBreaksOrTabs) {
    test::TempDir dir("kestavo-upload");
    const fs::path file = dir.path() / "q";
    {
        UploadQueue q(file);
        EXPECT_TRUE(q.push({"h1", 1, "/x/one.wav"}));
        EXPECT_TRUE(q.push({"h2", 65535, "/x/two words.wav"}));
        EXPECT_FALSE(q.push({"h", 1, "/x/bad\nname.wav"}));
        EXPECT_FALSE(q.push({"h\t", 1, "/x/a.wav"}));
        q.toBack({"h1", 1, "/x/one.wav"});
    }
    const auto jobs = UploadQueue(file).jobs();
    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_EQ(jobs[0], (UploadJob{"h2", 65535, "/x/two words.wav"}));
    EXPECT_EQ(jobs[1], (UploadJob{"h1", 1, "/x/one.wav"}));
}

}  // namespace
}  // namespace kestavo::services
