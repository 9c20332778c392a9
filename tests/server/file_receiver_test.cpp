// The receiving server: files from the recorders' upload arrive whole under their own names and
// are marked in the catalogue; what is not a proper upload is refused and leaves nothing behind.
#include <gtest/gtest.h>

#include <fstream>

#include "platform/memory_network.h"
#include "receiver/file_receiver.h"
#include "services/upload_client.h"
#include "support/temp_dir.h"

namespace kestavo::server {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string pattern(std::size_t n, int seed = 0) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = char((i * 7 + std::size_t(seed)) % 253);
    return s;
}

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<std::string> names(const fs::path& folder) {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(folder))
        if (e.path().extension() != ".sqlite" && e.path().string().find(".sqlite-") == std::string::npos)
            out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

struct Rig {
    test::TempDir dir{"kestavo-receiver"};
    platform::MemoryNetwork net;
    fs::path store = dir.path() / "store";
    fs::path outbox = dir.path() / "outbox";
    std::unique_ptr<FileReceiver> rx;
    explicit Rig(std::int64_t maxBytes = 1 << 20) {
        fs::create_directories(outbox);
        std::error_code ec;
        ReceiverOptions o;
        o.store = store;
        o.maxBytes = maxBytes;
        o.timeout = 2s;
        auto c = MakeCatalogue((dir.path() / "c.sqlite").string());
        rx = std::make_unique<FileReceiver>(o, net.listen("", 45000, ec), std::move(c));
    }
    services::UploadResult send(const std::string& name, const std::string& bytes) {
        const fs::path p = outbox / name;
        std::ofstream(p, std::ios::binary) << bytes;
        services::UploadOptions o;
        o.network = &net;
        o.timeout = 2s;
        return services::SendRecording(net, {"server", 45000, p.string()}, o);
    }
    // A raw header and `bytes` sent by hand; true when the receiver confirmed with its close.
    bool sendRaw(const std::array<std::byte, 115>& header, const std::string& bytes) {
        std::error_code ec;
        auto c = net.connect("server", 45000, 1s, ec);
        if (!c || c->sendAll(header)) return false;
        if (c->sendAll(std::as_bytes(std::span(bytes.data(), bytes.size())))) return false;
        if (c->finishSending()) return false;
        std::array<std::byte, 16> b;
        const auto r = c->receive(b, 5s);
        return !r.error && r.bytes == 0;
    }
};

TEST(AcceptableUploadName, RefusesFoldersDotDotControlCharactersAndHiddenNames) {
    const std::pair<std::string, bool> cases[] = {{"05_12_2026 16_05_09_1.wav", true},
                                                  {"a(123).mp3", true},
                                                  {"", false},
                                                  {"../x.wav", false},
                                                  {"a/b.wav", false},
                                                  {"a\\b.wav", false},
                                                  {"x..wav", false},
                                                  {"tab\there.wav", false},
                                                  {std::string("nl\n.wav"), false},
                                                  {".hidden.wav", false},
                                                  {"del\x7f.wav", false}};
    for (const auto& [name, ok] : cases) EXPECT_EQ(AcceptableUploadName(name).has_value(), ok) << name;
}

TEST(FileReceiver, FilesArriveWholeUnderTheirNamesAndAreMarkedUploaded) {
    Rig rig;
    ASSERT_TRUE(rig.rx->withCatalogue([](Catalogue* c) {
        return c->startRecording({.recordId = 1,
                                  .recorder = "d",
                                  .label = "d 1",
                                  .channel = 1,
                                  .prefix = "",
                                  .file = "one.wav",
                                  .start = "2026-12-05 10:00:00"});
    }));
    const std::size_t sizes[] = {0, 1, 8192, 10000, 300000};
    for (std::size_t i = 0; i < std::size(sizes); ++i) {
        const std::string name = i == 0 ? "one.wav" : "f" + std::to_string(i) + ".wav";
        ASSERT_EQ(rig.send(name, pattern(sizes[i], int(i))), services::UploadResult::Delivered) << name;
        EXPECT_EQ(slurp(rig.store / name), pattern(sizes[i], int(i))) << name;
    }
    EXPECT_EQ(names(rig.store), (std::vector<std::string>{"f1.wav", "f2.wav", "f3.wav", "f4.wav", "one.wav"}));
    bool ok = false;
    const auto rows = rig.rx->withCatalogue([&](Catalogue* c) { return c->search({}, ok); });
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].state, "uploaded");
}

TEST(FileReceiver, NeverOverwritesADifferentFileAndConfirmsARepeatedOne) {
    Rig rig;
    ASSERT_EQ(rig.send("r.wav", pattern(5000, 1)), services::UploadResult::Delivered);
    ASSERT_EQ(rig.send("r.wav", pattern(5000, 1)), services::UploadResult::Delivered);  // the same again
    ASSERT_EQ(rig.send("r.wav", pattern(6000, 2)), services::UploadResult::Delivered);  // other bytes
    EXPECT_EQ(names(rig.store), (std::vector<std::string>{"r.1.wav", "r.wav"}));
    EXPECT_EQ(slurp(rig.store / "r.wav"), pattern(5000, 1));
    EXPECT_EQ(slurp(rig.store / "r.1.wav"), pattern(6000, 2));
    EXPECT_EQ(rig.rx->Received(), 2u);
    // A sidecar follows the name its recording was stored under.
    ASSERT_EQ(rig.send("r.wav.json", "{}"), services::UploadResult::Delivered);
    EXPECT_EQ(names(rig.store), (std::vector<std::string>{"r.1.wav", "r.1.wav.json", "r.wav"}));
}

TEST(FileReceiver, RefusesBadNamesOversizedFilesForeignHeadersAndTransfersThatBreakOff) {
    Rig rig(10000);
    const std::string body = pattern(3 * 8192);
    EXPECT_FALSE(rig.sendRaw(services::UploadHeader("../evil.wav", 100), body));
    EXPECT_FALSE(rig.sendRaw(services::UploadHeader("sub/evil.wav", 100), body));
    EXPECT_FALSE(rig.sendRaw(services::UploadHeader("bell\a.wav", 100), body));
    EXPECT_FALSE(rig.sendRaw(services::UploadHeader("big.wav", 10001), body));
    EXPECT_FALSE(rig.sendRaw(services::UploadHeader("neg.wav", -1), body));
    auto foreign = services::UploadHeader("x.wav", 10);
    foreign[0] = std::byte{'G'};
    EXPECT_FALSE(rig.sendRaw(foreign, body));
    EXPECT_FALSE(rig.sendRaw(services::UploadHeader("short.wav", 9000), pattern(4000)));  // ends early
    EXPECT_TRUE(rig.sendRaw(services::UploadHeader("limit.wav", 10000), pattern(10000)));
    EXPECT_EQ(names(rig.store), std::vector<std::string>{"limit.wav"});  // no temporary file is left
    EXPECT_EQ(rig.rx->Refused(), 7u);
}

TEST(FileReceiver, TakesManyUploadsAtOnce) {
    Rig rig;
    std::vector<std::jthread> senders;
    std::atomic<int> delivered{0};
    for (int i = 0; i < 8; ++i) {
        const fs::path p = rig.outbox / ("c" + std::to_string(i) + ".wav");
        std::ofstream(p, std::ios::binary) << pattern(40000, i);
        senders.emplace_back([&, p] {
            services::UploadOptions o;
            o.network = &rig.net;
            o.timeout = 5s;
            if (services::SendRecording(rig.net, {"s", 45000, p.string()}, o) == services::UploadResult::Delivered)
                ++delivered;
        });
    }
    senders.clear();
    EXPECT_EQ(delivered.load(), 8);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(slurp(rig.store / ("c" + std::to_string(i) + ".wav")), pattern(40000, i));
}

}  // namespace
}  // namespace kestavo::server
