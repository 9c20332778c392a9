// The server library against a real PostgreSQL that goes away in the middle: the calls made while
// it is down wait in their order and reach it once it is back. The test cluster runs as the
// postgres user (the server refuses root) on a private socket folder and port, and is removed.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "services/server_api.h"
#include "services/server_client.h"
#include "support/temp_dir.h"

namespace kestavo::server {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string output(const std::string& command) {
    std::string out;
    FILE* p = ::popen(command.c_str(), "r");
    char buf[512];
    while (p && std::fgets(buf, sizeof buf, p)) out += buf;
    if (p) ::pclose(p);
    return out;
}

class PostgresCluster {
public:
    explicit PostgresCluster(const fs::path& root) : data_(root / "pgdata"), socket_(root / "pgsock") {
        bin_ = output("ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1");
        while (!bin_.empty() && bin_.back() == '\n') bin_.pop_back();
        port_ = std::atoi(output("python3 -c 'import socket; s=socket.socket(); s.bind((\"127.0.0.1\",0)); "
                                 "print(s.getsockname()[1])'")
                              .c_str());
        fs::create_directories(data_);
        fs::create_directories(socket_);
        ::chmod(root.c_str(), 0755);
        ok_ = !bin_.empty() && port_ > 0 && sh("chown postgres '" + data_.string() + "' '" + socket_.string() + "'") &&
            asPostgres("initdb -D '" + data_.string() + "' -A trust -U kestavo") && start() &&
            asPostgres("createdb -h '" + socket_.string() + "' -p " + std::to_string(port_) + " -U kestavo t");
    }
    ~PostgresCluster() {
        if (!bin_.empty()) asPostgres("pg_ctl -D '" + data_.string() + "' -m immediate stop");
    }
    [[nodiscard]] bool ok() const { return ok_; }
    bool start() {
        return asPostgres("pg_ctl -D '" + data_.string() + "' -l '" + (socket_ / "log").string() + "' -w -o \"-k " +
                          socket_.string() + " -p " + std::to_string(port_) + " -c listen_addresses=''\" start");
    }
    bool stop() { return asPostgres("pg_ctl -D '" + data_.string() + "' -m fast -w stop"); }
    [[nodiscard]] std::string conninfo() const {
        return "host=" + socket_.string() + " port=" + std::to_string(port_) + " user=kestavo dbname=t";
    }
    std::string query(const std::string& sql) const {
        return output("runuser -u postgres -- psql -h '" + socket_.string() + "' -p " + std::to_string(port_) +
                      " -U kestavo -d t -At -F'|' -c \"" + sql + "\" 2>/dev/null");
    }

private:
    static bool sh(const std::string& c) { return std::system((c + " >/dev/null 2>&1").c_str()) == 0; }
    bool asPostgres(const std::string& c) const { return sh("runuser -u postgres -- " + bin_ + "/" + c); }
    fs::path data_, socket_;
    std::string bin_;
    int port_ = 0;
    bool ok_ = false;
};

TEST(NetlocateOnPostgres, CallsMadeWhileTheDatabaseIsDownArriveInOrderWhenItIsBack) {
    if (::geteuid() != 0 || output("id -u postgres 2>/dev/null").empty())
        GTEST_SKIP() << "a PostgreSQL cluster needs root and the postgres user";
    test::TempDir dir("kestavo-pg");
    PostgresCluster pg(dir.path());
    ASSERT_TRUE(pg.ok());
    test::ScopedEnv env("XDG_CONFIG_HOME", (dir.path() / "config").string());
    fs::copy_file(KESTAVO_NETLOCATE, dir.path() / "netlocate.so");
    auto lib = services::NetlocateLibrary::load(dir.path() / "netlocate.so");
    ASSERT_TRUE(lib);
    lib->init_base("site@127.0.0.1", pg.conninfo(), "deskP", "");
    const std::int32_t first = lib->start_rec_file("/x/TEMP/p1.wav", "", "deskP 2");
    lib->add_aon(first, "4951112233");
    ASSERT_TRUE(
        services::WaitForLocalServer([&] { return pg.query("SELECT count(*) FROM identifiers") == "1\n"; }, 20s, 50ms));

    ASSERT_TRUE(pg.stop());  // the connection is lost
    lib->stop_rec_file(first, "0:00:09", "p1.wav");
    const std::int32_t second = lib->start_rec_file("/x/TEMP/p2.wav", "", "deskP 2");
    lib->add_nabor(second, "777");
    lib->del_rec(second);
    ASSERT_TRUE(pg.start());
    lib->close();  // waits for the queue
    EXPECT_EQ(pg.query("SELECT file, channel, duration, state FROM recordings ORDER BY key"),
              "p1.wav|2|0:00:09|closed\np2.wav|2||deleted\n");
    EXPECT_EQ(pg.query("SELECT kind, text FROM identifiers ORDER BY key"), "aon|4951112233\ndigits|777\n");
}

}  // namespace
}  // namespace kestavo::server
