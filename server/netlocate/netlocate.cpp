// netlocate.so: the server access library the recorder loads from its program folder. It keeps the
// catalogue (see catalogue/catalogue.h) as the recorder's channels start recordings, detect numbers
// and stop, and tells the recorder where the server is.
//
// init_base(NAME, PORT, USER, password) chooses the catalogue from PORT:
//   "postgresql://user@host:port/db" or "host=… dbname=…"  PostgreSQL (the password, when not in
//                                                          the text, is the recorder's password)
//   "sqlite:/path/catalogue.sqlite"                        that SQLite file
//   anything else (for example "ptSingleUser")             SQLite "catalogue.sqlite" in the server folder
// The server folder (get_ust_path) is $KESTAVO_SERVER_FOLDER, else the folder the local receiving
// server wrote into its lock file, else ~/kestavo-server. The upload port (get_port) is
// $KESTAVO_UPLOAD_PORT, else the port a network search found, else 45000. NAME is only remembered
// for init (the last server used); the recorder itself takes the upload host from it.
//
// Every call returns at once: the catalogue is written by one worker thread from a queue, so a slow
// or lost database never holds up a channel. A lost connection is made again with growing pauses
// while calls wait in the queue in their order; record ids are given here, not by the database, so
// start_rec_file needs no answer from it. close() waits a bounded time for the queue to drain.
// No exception leaves an entry point.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "catalogue/catalogue.h"
#include "netlocate/search_protocol.h"

#define KESTAVO_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

namespace fs = std::filesystem;
using kestavo::server::Catalogue;

using Op = std::function<bool(Catalogue&)>;

struct State {
    std::mutex mutex;
    std::condition_variable_any changed;
    std::deque<Op> ops;
    bool busy = false;  // the worker holds an op
    std::jthread worker;
    std::string where;  // the catalogue
    std::string user;
    std::int32_t nextId = 1;
    std::string folder;
    int foundPort = 0;  // from a network search
};

State& state() {
    static State s;
    return s;
}

fs::path lastServerFile() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    fs::path base = config && *config ? fs::path(config) : fs::path(home ? home : "/tmp") / ".config";
    return base / "kestavo" / "netlocate.last";
}

fs::path serverLockFile() {
    if (const char* own = std::getenv("KESTAVO_MONSERV"); own && *own) return own;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    return fs::path(runtime && *runtime ? runtime : "/tmp") / "kestavo-MONSERV.lock";
}

std::string serverFolder() {
    if (const char* f = std::getenv("KESTAVO_SERVER_FOLDER"); f && *f) return f;
    std::ifstream lock(serverLockFile());
    std::string line;
    if (std::getline(lock, line) && !line.empty()) return line;
    const char* home = std::getenv("HOME");
    return (fs::path(home ? home : "/tmp") / "kestavo-server").string();
}

void worker(std::stop_token stop) {
    State& s = state();
    std::unique_ptr<Catalogue> catalogue;
    std::chrono::milliseconds pause(200);
    int failures = 0;
    for (;;) {
        Op op;
        {
            std::unique_lock lock(s.mutex);
            s.busy = false;
            s.changed.notify_all();
            if (!s.changed.wait(lock, stop, [&] { return !s.ops.empty(); })) return;
            op = s.ops.front();
            s.busy = true;
            if (!catalogue) catalogue = kestavo::server::MakeCatalogue(s.where);
        }
        bool ok = false;
        try {
            ok = (catalogue->connected() || catalogue->open()) && op(*catalogue);
        } catch (...) {
            ok = false;
        }
        std::unique_lock lock(s.mutex);
        if (ok || (catalogue->connected() && ++failures >= 5)) {
            if (!ok) std::fprintf(stderr, "netlocate: catalogue call dropped: %s\n", catalogue->lastError().c_str());
            s.ops.pop_front();
            failures = 0;
            pause = std::chrono::milliseconds(200);
            continue;
        }
        // The database is away (or the statement failed for the time being): the call stays first.
        s.changed.wait_for(lock, stop, pause, [] { return false; });
        if (stop.stop_requested()) return;
        pause = std::min(pause * 2, std::chrono::milliseconds(30000));
    }
}

void push(Op op) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    s.ops.push_back(std::move(op));
    s.changed.notify_all();
}

void fill(char** buffer, const std::string& text) {
    if (buffer && *buffer) std::snprintf(*buffer, 100, "%s", text.c_str());
}

int channelOfLabel(const std::string& label) {
    const auto blank = label.find_last_of(' ');
    return std::atoi(label.c_str() + (blank == std::string::npos ? 0 : blank + 1));
}

}  // namespace

KESTAVO_EXPORT void init(char** name, char** second) {
    try {
        std::ifstream in(lastServerFile());
        std::string n, p;
        std::getline(in, n);
        std::getline(in, p);
        fill(name, n);
        fill(second, p);
    } catch (...) {}
}

KESTAVO_EXPORT bool try_net(char** name, char** second) {
    try {
        const auto found = kestavo::server::SearchNetwork(std::chrono::milliseconds(1500));
        if (!found) return false;
        fill(name, found->name);
        fill(second, found->second);
        std::lock_guard lock(state().mutex);
        state().foundPort = found->uploadPort;
        return true;
    } catch (...) {
        return false;
    }
}

KESTAVO_EXPORT void init_base(const char* name, const char* port, const char* user, const char* password) {
    try {
        State& s = state();
        const std::string n = name ? name : "", p = port ? port : "", pw = password ? password : "";
        std::lock_guard lock(s.mutex);
        s.user = user ? user : "";
        s.folder = serverFolder();
        if (kestavo::server::IsPostgres(p)) {
            s.where = p;
            if (!pw.empty() && p.find("password") == std::string::npos)
                s.where += p.find("://") != std::string::npos
                    ? (p.find('?') == std::string::npos ? "?" : "&") + std::string("password=") + pw
                    : " password='" + pw + "'";
        } else if (p.rfind("sqlite:", 0) == 0) {
            s.where = p;
        } else {
            std::error_code ec;
            fs::create_directories(s.folder, ec);
            s.where = "sqlite:" + (fs::path(s.folder) / "catalogue.sqlite").string();
        }
        s.nextId = std::int32_t((std::uint32_t(std::time(nullptr)) & 0x3FFFFFFF) | 1);
        if (!s.worker.joinable()) s.worker = std::jthread(worker);
        std::error_code ec;
        fs::create_directories(lastServerFile().parent_path(), ec);
        std::ofstream(lastServerFile()) << n << '\n' << p << '\n';
    } catch (...) {}
}

KESTAVO_EXPORT const char* get_ust_path() {
    static std::string folder;
    try {
        std::lock_guard lock(state().mutex);
        folder = state().folder.empty() ? serverFolder() : state().folder;
    } catch (...) {}
    return folder.c_str();
}

KESTAVO_EXPORT std::int32_t get_port() {
    if (const char* p = std::getenv("KESTAVO_UPLOAD_PORT"); p && std::atoi(p) > 0) return std::atoi(p);
    std::lock_guard lock(state().mutex);
    return state().foundPort > 0 ? state().foundPort : 45000;
}

KESTAVO_EXPORT std::int32_t start_rec_file(const char* path, const char* prefix, const char* label) {
    try {
        kestavo::server::RecordingRow row;
        {
            std::lock_guard lock(state().mutex);
            row.recordId = state().nextId++;
            if (state().nextId <= 0) state().nextId = 1;
            row.recorder = state().user;
        }
        row.label = label ? label : "";
        row.channel = channelOfLabel(row.label);
        row.prefix = prefix ? prefix : "";
        row.file = fs::path(path ? path : "").filename().string();
        row.start = kestavo::server::CatalogueTimeNow();
        push([row](Catalogue& c) { return c.startRecording(row); });
        return row.recordId;
    } catch (...) {
        return 0;
    }
}

namespace {
void addIdentifier(std::int32_t id, const char* kind, const char* text) {
    try {
        std::string user;
        {
            std::lock_guard lock(state().mutex);
            user = state().user;
        }
        kestavo::server::IdentifierRow row{kind, text ? text : "", kestavo::server::CatalogueTimeNow()};
        push([user, id, row](Catalogue& c) { return c.addIdentifier(user, id, row); });
    } catch (...) {}
}
}  // namespace

KESTAVO_EXPORT void add_aon(std::int32_t id, const char* text) { addIdentifier(id, "aon", text); }
KESTAVO_EXPORT void add_nabor(std::int32_t id, const char* text) { addIdentifier(id, "digits", text); }

KESTAVO_EXPORT void stop_rec_file(std::int32_t id, const char* duration, const char* fileName) {
    try {
        std::string user;
        {
            std::lock_guard lock(state().mutex);
            user = state().user;
        }
        const std::string d = duration ? duration : "", f = fileName ? fileName : "";
        push([user, id, d, f](Catalogue& c) { return c.stopRecording(user, id, d, f); });
    } catch (...) {}
}

KESTAVO_EXPORT void del_rec(std::int32_t id) {
    try {
        std::string user;
        {
            std::lock_guard lock(state().mutex);
            user = state().user;
        }
        push([user, id](Catalogue& c) { return c.deleteRecording(user, id); });
    } catch (...) {}
}

// The C library declares its own close(); this one is exported under that name all the same.
KESTAVO_EXPORT void netlocateClose() __asm__("close");
KESTAVO_EXPORT void netlocateClose() {
    try {
        State& s = state();
        {
            std::unique_lock lock(s.mutex);
            s.changed.wait_for(lock, std::chrono::seconds(10), [&] { return s.ops.empty() && !s.busy; });
        }
        s.worker.request_stop();
        if (s.worker.joinable()) s.worker.join();
        s.worker = std::jthread();
    } catch (...) {}
}
