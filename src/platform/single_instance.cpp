#include "platform/single_instance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kestavo::platform {

namespace {

constexpr const char* kLockName = "kestavo.lock";
constexpr const char* kQuitRequest = "quit\n";

std::error_code lastError() { return {errno, std::generic_category()}; }

bool addressOf(const std::filesystem::path& file, sockaddr_un& addr) {
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    const std::string p = file.string();
    if (p.size() >= sizeof addr.sun_path) return false;
    std::memcpy(addr.sun_path, p.c_str(), p.size() + 1);
    return true;
}

}  // namespace

std::unique_ptr<InstanceLock> InstanceLock::acquire(const std::filesystem::path& programFolder, long& holder,
                                                    std::error_code& error) {
    holder = 0;
    std::filesystem::create_directories(programFolder, error);
    error.clear();
    const int fd = ::open((programFolder / kLockName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = lastError();
        return nullptr;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            char buf[32] = {};
            if (::pread(fd, buf, sizeof buf - 1, 0) > 0) holder = std::strtol(buf, nullptr, 10);
        } else {
            error = lastError();
        }
        ::close(fd);
        return nullptr;
    }
    // Our process id, for the message a second program gives; the lock holds without it.
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) < 0) {
        // Only the message of a second program loses the process id.
    }
    return std::unique_ptr<InstanceLock>(new InstanceLock(fd));
}

std::string AlreadyRunningMessage(const std::filesystem::path& programFolder, long holder) {
    std::string text = std::string(kAlreadyRunningText) + " (program folder " + programFolder.string();
    if (holder > 0) text += ", process " + std::to_string(holder);
    return text + ")";
}

std::filesystem::path QuitSocketPath(const std::filesystem::path& runtimeFolder,
                                     const std::filesystem::path& programFolder) {
    std::error_code ec;
    std::filesystem::path folder = std::filesystem::weakly_canonical(programFolder, ec);
    if (ec) folder = programFolder.lexically_normal();
    std::uint64_t hash = 1469598103934665603ULL;  // FNV-1a, 64 bits
    for (const unsigned char c : folder.string()) hash = (hash ^ c) * 1099511628211ULL;
    char name[40];
    std::snprintf(name, sizeof name, "kestavo-%016llx.sock", static_cast<unsigned long long>(hash));
    return runtimeFolder / name;
}

InstanceLock::~InstanceLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

std::unique_ptr<QuitListener> QuitListener::start(const std::filesystem::path& socketPath, std::function<void()> onQuit,
                                                  std::error_code& error) {
    std::unique_ptr<QuitListener> l(new QuitListener());
    std::filesystem::create_directories(socketPath.parent_path(), error);
    error.clear();
    l->path_ = socketPath;
    l->onQuit_ = std::move(onQuit);
    sockaddr_un addr{};
    if (!addressOf(l->path_, addr)) {
        error = std::make_error_code(std::errc::filename_too_long);
        return nullptr;
    }
    l->socket_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    l->wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (l->socket_ < 0 || l->wake_ < 0) {
        error = lastError();
        return nullptr;
    }
    // We hold the instance lock, so a socket file left here belongs to a program that is gone.
    ::unlink(l->path_.c_str());
    if (::bind(l->socket_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(l->socket_, 4) != 0) {
        error = lastError();
        return nullptr;
    }
    l->thread_ = std::jthread([raw = l.get()](std::stop_token st) { raw->run_(st); });
    return l;
}

QuitListener::~QuitListener() {
    if (thread_.joinable()) {
        thread_.request_stop();
        const std::uint64_t one = 1;
        (void)!::write(wake_, &one, sizeof one);
        thread_.join();
    }
    if (socket_ >= 0) {
        ::close(socket_);
        ::unlink(path_.c_str());
    }
    if (wake_ >= 0) ::close(wake_);
}

void QuitListener::run_(std::stop_token stop) {
    while (!stop.stop_requested()) {
        pollfd fds[2] = {{socket_, POLLIN, 0}, {wake_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents) return;
        const int client = ::accept4(socket_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        // A short, bounded read: the request is one line.
        pollfd in{client, POLLIN, 0};
        char buf[16] = {};
        if (::poll(&in, 1, 1000) > 0 && ::read(client, buf, sizeof buf - 1) > 0 &&
            std::strncmp(buf, kQuitRequest, std::strlen(kQuitRequest)) == 0) {
            (void)!::write(client, "ok\n", 3);
            if (onQuit_) onQuit_();
        }
        ::close(client);
    }
}

std::error_code SendQuit(const std::filesystem::path& socketPath) {
    sockaddr_un addr{};
    if (!addressOf(socketPath, addr)) return std::make_error_code(std::errc::filename_too_long);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return lastError();
    std::error_code ec;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ec = lastError();
    } else if (::write(fd, kQuitRequest, std::strlen(kQuitRequest)) < 0) {
        ec = lastError();
    } else {
        pollfd in{fd, POLLIN, 0};
        char buf[8] = {};
        if (::poll(&in, 1, 2000) <= 0 || ::read(fd, buf, sizeof buf) <= 0)
            ec = std::make_error_code(std::errc::timed_out);
    }
    ::close(fd);
    return ec;
}

}  // namespace kestavo::platform
