// The server client: connecting through the access library, the upload target it derives, and the
// guard that keeps the library's failures and an unused server away from the channels.
#include <gtest/gtest.h>

#include "platform/memory_network.h"
#include "platform/server_lock.h"
#include "services/server_client.h"
#include "support/fake_server_library.h"
#include "support/temp_dir.h"

namespace kestavo::services {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

UploadOptions memoryUploads(platform::Network& net) {
    UploadOptions o;
    o.network = &net;
    o.firstPause = 5ms;
    return o;
}

TEST(ServerHost, IsTheTextAfterTheFirstAtSignOrTheWholeName) {
    const std::pair<const char*, const char*> cases[] = {
        {"archive", "archive"}, {"rec@10.0.0.7", "10.0.0.7"}, {"a@b@c", "b@c"}, {"@host", "host"}, {"x@", ""}};
    for (const auto& [name, host] : cases) EXPECT_EQ(ServerHost(name), host) << name;
}

TEST(ConnectServer, WithoutTheLibraryTheServerStaysUnusedAndNothingIsShown) {
    test::TempDir dir("kestavo-server");
    platform::MemoryNetwork net;
    TCl client(dir.path() / "netlocate.so", memoryUploads(net));
    ServerLogin login{"host", "p", "u", "pw"};
    std::vector<std::string> shown;
    EXPECT_FALSE(client.ConnectServer(true, login, [&](const std::string& t) { shown.push_back(t); }));
    EXPECT_FALSE(client.InUse());
    EXPECT_TRUE(shown.empty());
}

TEST(ConnectServer, HandsTheLoginToTheLibraryAndTakesHostFolderAndUploadPort) {
    // get_port's answer -> the upload port (a failure gives 45000)
    const std::pair<const char*, std::uint16_t> ports[] = {{nullptr, 45000}, {"45123", 45123}, {"0", 45000}};
    for (const auto& [answer, port] : ports) {
        test::TempDir dir("kestavo-server");
        test::FakeServerLibrary lib(dir.path());
        if (answer) lib.env.set("FAKE_NETLOCATE_PORT", answer);
        lib.env.set("FAKE_NETLOCATE_FOLDER", "/srv/records");
        platform::MemoryNetwork net;
        TCl client(lib.file, memoryUploads(net));
        ServerLogin login{"rec@archive.local", "base", "desk7", "secret"};
        ASSERT_TRUE(client.ConnectServer(false, login));
        EXPECT_TRUE(client.InUse());
        EXPECT_FALSE(client.OneComputer());
        EXPECT_EQ(client.Host(), "archive.local");
        EXPECT_EQ(client.ServerFolder(), "/srv/records");
        EXPECT_EQ(client.UploadPort(), port) << (answer ? answer : "failure");
        EXPECT_EQ(lib.calls("init_base"), std::vector<std::string>{"init_base rec@archive.local|base|desk7|secret"});
        EXPECT_TRUE(lib.calls("try_net").empty());
    }
}

TEST(ConnectServer, SearchTakesNameAndPortFoundOrShowsThatNoServerIsSeen) {
    test::TempDir dir("kestavo-server");
    test::FakeServerLibrary lib(dir.path());
    platform::MemoryNetwork net;
    TCl client(lib.file, memoryUploads(net));
    ServerLogin login{std::string(23, ' '), std::string(12, ' '), "u", ""};
    std::vector<std::string> shown;
    auto show = [&](const std::string& t) { shown.push_back(t); };
    EXPECT_FALSE(client.ConnectServer(true, login, show));
    EXPECT_EQ(shown, std::vector<std::string>{kNoServerFoundText});
    EXPECT_TRUE(lib.calls("init_base").empty());  // nothing found: not connected

    lib.env.set("FAKE_NETLOCATE_FOUND", "main@192.0.2.4|catalogue");
    EXPECT_TRUE(client.ConnectServer(true, login, show));
    EXPECT_EQ(std::pair(login.name, login.port), std::pair(std::string("main@192.0.2.4"), std::string("catalogue")));
    EXPECT_EQ(client.Host(), "192.0.2.4");
    EXPECT_EQ(lib.calls("init_base"), std::vector<std::string>{"init_base main@192.0.2.4|catalogue|u|"});
}

TEST(ConnectServer, LocalServerIsOneComputerModeWhereNothingIsUploaded) {
    test::TempDir dir("kestavo-server");
    test::FakeServerLibrary lib(dir.path());
    lib.env.set("FAKE_NETLOCATE_PORT", "45001");
    platform::MemoryNetwork net;
    TCl client(lib.file, memoryUploads(net));
    ServerLogin login{kLocalServerName, "ptSingleUser", "u", ""};
    ASSERT_TRUE(client.ConnectServer(false, login));
    EXPECT_TRUE(client.OneComputer());
    EXPECT_TRUE(lib.calls("get_port").empty());  // not asked outside the network case
    const fs::path file = dir.path() / "kept.wav";
    std::ofstream(file) << "RIFF";
    client.Upload(file.string());
    EXPECT_EQ(client.Uploads().Queued(), 0u);
    EXPECT_TRUE(fs::exists(file));
}

TEST(RecordServerCalls, ReachTheLibraryOnlyWhileInUseAndItsExceptionsNeverEscape) {
    test::TempDir dir("kestavo-server");
    test::FakeServerLibrary lib(dir.path());
    platform::MemoryNetwork net;
    TCl client(lib.file, memoryUploads(net));
    EXPECT_EQ(client.start_rec_file("/t/a.wav", "p", "1"), 0);  // not connected: nothing called
    ServerLogin login{"h", "", "u", ""};
    ASSERT_TRUE(client.ConnectServer(false, login));
    const std::int32_t id = client.start_rec_file("/t/a.wav", "p", "host 1");
    EXPECT_EQ(id, 100);  // the library's first id
    client.add_aon(id, "4951234567");
    client.add_nabor(id, "123");
    client.stop_rec_file(id, "0:00:07", "a.wav");
    lib.env.set("FAKE_NETLOCATE_THROW", "1");
    EXPECT_EQ(client.start_rec_file("/t/b.wav", "p", "host 1"), 0);
    client.stop_rec_file(7, "0:00:01", "b.wav");
    client.DisconnectServer();
    client.del_rec(id);  // after the disconnect: not called
    EXPECT_EQ(lib.log(),
              (std::vector<std::string>{"init_base h||u|", "get_ust_path", "get_port",
                                        "start_rec_file 100 /t/a.wav|p|host 1", "add_aon 100 4951234567",
                                        "add_nabor 100 123", "stop_rec_file 100 0:00:07|a.wav", "close"}));
}

TEST(WaitForLocalServer, ReturnsAtOnceWhileTheServerHoldsItsLockAndGivesUpAfterTheLimit) {
    test::TempDir dir("kestavo-server");
    const fs::path lockFile = dir.path() / "MONSERV.lock";
    auto running = [&] { return platform::LocalServerRunning(lockFile); };
    EXPECT_FALSE(WaitForLocalServer(running, 30ms, 5ms));  // no server: the start-up goes on
    std::error_code ec;
    auto held = platform::ServerLock::acquire(lockFile, ec);
    ASSERT_TRUE(held) << ec.message();
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_TRUE(WaitForLocalServer(running, 30s));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 5s);
    held.reset();
    EXPECT_FALSE(running());  // the lock goes with its holder
}

}  // namespace
}  // namespace kestavo::services
