// A server access library for the tests, written from the entry-point table alone: it keeps no
// catalogue, it writes one line per call into the file named by $FAKE_NETLOCATE_LOG and answers
// from the environment:
//   FAKE_NETLOCATE_INIT    "name|port": what init gives (unset: "Local server|ptSingleUser")
//   FAKE_NETLOCATE_FOUND   "name|port": try_net finds this server (unset: it finds none)
//   FAKE_NETLOCATE_FOLDER  what get_ust_path gives (unset: "/tmp")
//   FAKE_NETLOCATE_PORT    what get_port gives (unset: -1, a failure)
//   FAKE_NETLOCATE_THROW   start_rec_file and stop_rec_file throw
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string>

namespace {

std::mutex logLock;
std::int32_t nextId = 100;

void log(const std::string& line) {
    std::lock_guard lock(logLock);
    const char* file = std::getenv("FAKE_NETLOCATE_LOG");
    if (!file) return;
    if (FILE* f = std::fopen(file, "a")) {
        std::fprintf(f, "%s\n", line.c_str());
        std::fclose(f);
    }
}

void fill(char** buffer, const std::string& text) { std::snprintf(*buffer, 100, "%s", text.c_str()); }

// Fills the two buffers from "name|port".
void answer(char** name, char** second, const std::string& s) {
    const auto bar = s.find('|');
    fill(name, s.substr(0, bar));
    fill(second, bar == std::string::npos ? std::string() : s.substr(bar + 1));
}

void maybeThrow() {
    if (std::getenv("FAKE_NETLOCATE_THROW")) throw std::runtime_error("catalogue down");
}

}  // namespace

extern "C" {

void init(char** name, char** second) {
    log("init");
    const char* given = std::getenv("FAKE_NETLOCATE_INIT");
    answer(name, second, given ? given : "Local server|ptSingleUser");
}

bool try_net(char** name, char** second) {
    log("try_net");
    const char* found = std::getenv("FAKE_NETLOCATE_FOUND");
    if (!found) return false;
    answer(name, second, found);
    return true;
}

void init_base(const char* name, const char* port, const char* user, const char* password) {
    log(std::string("init_base ") + name + "|" + port + "|" + user + "|" + password);
}

const char* get_ust_path() {
    log("get_ust_path");
    const char* folder = std::getenv("FAKE_NETLOCATE_FOLDER");
    return folder ? folder : "/tmp";
}

std::int32_t get_port() {
    log("get_port");
    const char* port = std::getenv("FAKE_NETLOCATE_PORT");
    return port ? std::atoi(port) : -1;
}

std::int32_t start_rec_file(const char* path, const char* prefix, const char* label) {
    maybeThrow();
    std::int32_t id;
    {
        std::lock_guard lock(logLock);
        id = nextId++;
    }
    log("start_rec_file " + std::to_string(id) + " " + path + "|" + prefix + "|" + label);
    return id;
}

void add_aon(std::int32_t id, const char* text) { log("add_aon " + std::to_string(id) + " " + text); }
void add_nabor(std::int32_t id, const char* text) { log("add_nabor " + std::to_string(id) + " " + text); }

void stop_rec_file(std::int32_t id, const char* duration, const char* fileName) {
    maybeThrow();
    log("stop_rec_file " + std::to_string(id) + " " + duration + "|" + fileName);
}

void del_rec(std::int32_t id) { log("del_rec " + std::to_string(id)); }

void close() { log("close"); }
}
