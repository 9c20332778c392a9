// kestavo-server as a program: its command line, the network search it answers through the
// server library's try_net, and the one-computer lock a recorder waits for.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "platform/server_lock.h"
#include "services/server_api.h"
#include "services/server_client.h"
#include "support/temp_dir.h"

namespace kestavo::server {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Runs a shell command; its exit status and output.
std::pair<int, std::string> run(const std::string& command) {
    std::string out;
    FILE* p = ::popen((command + " 2>&1").c_str(), "r");
    char buf[512];
    while (p && std::fgets(buf, sizeof buf, p)) out += buf;
    const int status = p ? ::pclose(p) : -1;
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

// A free UDP port on this computer.
int freeUdpPort() {
    const auto [rc, out] =
        run("python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind((\"\",0)); "
            "print(s.getsockname()[1])'");
    return rc == 0 ? std::atoi(out.c_str()) : 0;
}

// The server started in the background; stopped with SIGTERM at the end.
struct ServerProcess {
    pid_t pid = -1;
    fs::path log;
    ServerProcess(const std::vector<std::string>& args, const fs::path& logFile) : log(logFile) {
        pid = ::fork();
        if (pid == 0) {
            std::FILE* f = std::freopen(log.c_str(), "w", stdout);
            (void)f;
            std::vector<char*> argv{const_cast<char*>(KESTAVO_SERVER_PROGRAM)};
            for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(KESTAVO_SERVER_PROGRAM, argv.data());
            ::_exit(127);
        }
    }
    // Waits until the server has printed its ports.
    bool ready() const {
        return services::WaitForLocalServer(
            [&] {
                std::ifstream in(log);
                std::string s((std::istreambuf_iterator<char>(in)), {});
                return s.find("uploads on port") != std::string::npos;
            },
            10s, 10ms);
    }
    ~ServerProcess() {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            int status = 0;
            ::waitpid(pid, &status, 0);
        }
    }
};

TEST(ServerProgram, HelpAndVersionAnswerAndAMissingStoreIsAnError) {
    const auto help = run(std::string(KESTAVO_SERVER_PROGRAM) + " --help");
    EXPECT_EQ(help.first, 0);
    for (const char* option : {"--listen", "--store", "--catalogue", "--http", "--local"})
        EXPECT_NE(help.second.find(option), std::string::npos) << option;
    const auto version = run(std::string(KESTAVO_SERVER_PROGRAM) + " --version");
    EXPECT_EQ(version.first, 0);
    EXPECT_EQ(version.second.rfind("kestavo-server ", 0), 0u) << version.second;
    EXPECT_NE(run(std::string(KESTAVO_SERVER_PROGRAM) + " --listen 0").first, 0);
    EXPECT_NE(run(std::string(KESTAVO_SERVER_PROGRAM) + " --listen x:y --store /tmp/k").first, 0);
}

TEST(ServerProgram, AnswersTheNetworkSearchAndHoldsTheLocalLockWithItsFolder) {
    test::TempDir dir("kestavo-server-program");
    const int searchPort = freeUdpPort();
    ASSERT_GT(searchPort, 0);
    test::ScopedEnv env("KESTAVO_SEARCH_PORT", std::to_string(searchPort));
    env.set("KESTAVO_MONSERV", (dir.path() / "MONSERV.lock").string());
    env.set("XDG_CONFIG_HOME", (dir.path() / "config").string());
    env.unset("KESTAVO_UPLOAD_PORT");
    env.unset("KESTAVO_SERVER_FOLDER");
    EXPECT_FALSE(platform::LocalServerRunning(dir.path() / "MONSERV.lock"));
    ServerProcess server({"--listen", "127.0.0.1:0", "--store", (dir.path() / "store").string(), "--local",
                          "--search-port", std::to_string(searchPort)},
                         dir.path() / "server.log");
    ASSERT_TRUE(server.ready());
    std::ifstream in(server.log);
    std::string line;
    std::getline(in, line);
    const int uploadPort = std::atoi(line.substr(line.find("port ") + 5).c_str());
    ASSERT_GT(uploadPort, 0) << line;

    // The recorder's start-up wait sees the lock at once.
    EXPECT_TRUE(services::WaitForLocalServer([&] { return platform::LocalServerRunning(dir.path() / "MONSERV.lock"); },
                                             5s, 10ms));
    fs::copy_file(KESTAVO_NETLOCATE, dir.path() / "netlocate.so");
    auto lib = services::NetlocateLibrary::load(dir.path() / "netlocate.so");
    ASSERT_TRUE(lib);
    std::string name, second;
    ASSERT_TRUE(lib->try_net(name, second));
    // The answer's sender: this computer, by whichever of its addresses the broadcast reached.
    EXPECT_EQ(name.rfind("kestavo@", 0), 0u) << name;
    EXPECT_GT(name.size(), 8u) << name;
    EXPECT_EQ(second, "ptSingleUser");
    lib->init_base(name, second, "desk", "");
    EXPECT_EQ(lib->get_port(), uploadPort);
    EXPECT_EQ(fs::path(lib->get_ust_path()), fs::absolute(dir.path() / "store"));  // from the lock file
    lib->close();
}

}  // namespace
}  // namespace kestavo::server
