#include "services/server_client.h"

#include <thread>

namespace kestavo::services {

std::string ServerHost(const std::string& name) {
    const auto at = name.find('@');
    return at == std::string::npos ? name : name.substr(at + 1);
}

TCl::TCl(std::filesystem::path library, UploadOptions upload)
    : libraryFile_(std::move(library)), uploads_(std::move(upload)) {}

TCl::~TCl() { DisconnectServer(); }

bool TCl::ConnectServer(bool search, ServerLogin& login, const std::function<void(const std::string&)>& message) {
    inUse_.store(false, std::memory_order_release);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(libraryFile_, ec)) return false;  // no library: no server, no message
    std::lock_guard lock(mutex_);
    try {
        if (!library_) library_ = NetlocateLibrary::load(libraryFile_);
        if (!library_) return false;
        if (search) {
            std::string name, port;
            if (!library_->try_net(name, port)) {
                if (message) message(kNoServerFoundText);
                return false;
            }
            login.name = name;
            login.port = port;
        }
        library_->init_base(login.name, login.port, login.user, login.password);
        oneComputer_ = login.name == kLocalServerName;
        host_ = ServerHost(login.name);
        folder_ = library_->get_ust_path();
        port_ = kDefaultUploadPort;
        if (!oneComputer_) {
            const std::int32_t p = library_->get_port();
            if (p > 0 && p <= 65535) port_ = std::uint16_t(p);
        }
    } catch (...) {
        // Whatever went wrong inside the library, the recorder goes on without the server.
        return false;
    }
    inUse_.store(true, std::memory_order_release);
    return true;
}

void TCl::DisconnectServer() {
    inUse_.store(false, std::memory_order_release);
    std::lock_guard lock(mutex_);
    if (!library_) return;
    try {
        library_->close();
    } catch (...) {
        // A failing close leaves nothing to undo.
    }
}

void TCl::Upload(const std::string& path) {
    UploadJob job;
    {
        std::lock_guard lock(mutex_);
        if (!InUse() || oneComputer_) return;
        job = UploadJob{host_, port_, path};
    }
    uploads_.Upload(job);
}

template <typename Call>
void TCl::guarded_(Call&& call) {
    std::lock_guard lock(mutex_);
    if (!InUse() || !library_) return;
    try {
        call(*library_);
    } catch (...) {
        // An error inside the library is ignored: recording goes on without the server's entry.
    }
}

std::int32_t TCl::start_rec_file(const std::string& path, const std::string& prefix, const std::string& label) {
    std::int32_t id = 0;
    guarded_([&](NetlocateLibrary& l) { id = l.start_rec_file(path, prefix, label); });
    return id;
}
void TCl::add_aon(std::int32_t id, const std::string& text) {
    guarded_([&](NetlocateLibrary& l) { l.add_aon(id, text); });
}
void TCl::add_nabor(std::int32_t id, const std::string& text) {
    guarded_([&](NetlocateLibrary& l) { l.add_nabor(id, text); });
}
void TCl::stop_rec_file(std::int32_t id, const std::string& duration, const std::string& fileName) {
    guarded_([&](NetlocateLibrary& l) { l.stop_rec_file(id, duration, fileName); });
}
void TCl::del_rec(std::int32_t id) {
    guarded_([&](NetlocateLibrary& l) { l.del_rec(id); });
}

bool WaitForLocalServer(const std::function<bool()>& serverRunning, std::chrono::milliseconds limit,
                        std::chrono::milliseconds poll) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (serverRunning()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(poll);  // a bounded start-up wait; nothing else runs yet
    }
}

}  // namespace kestavo::services
