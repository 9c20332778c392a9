#pragma once
// ServerLock: the sign that a local recording server runs. The server holds an advisory lock
// (flock) on a lock file for as long as it runs; a recorder on the same computer asks whether
// someone holds it (LocalServerRunning) before it connects in one-computer mode. The lock goes
// with the process, so a crashed server never leaves it behind.
//
// The file is "kestavo-MONSERV.lock" in $XDG_RUNTIME_DIR (else /tmp); $KESTAVO_MONSERV names another.
// Threads: any.
#include <filesystem>
#include <memory>
#include <system_error>

namespace kestavo::platform {

[[nodiscard]] std::filesystem::path DefaultServerLockPath();

class ServerLock {
public:
    // Null with `error` set when the file cannot be made or another process holds the lock.
    [[nodiscard]] static std::unique_ptr<ServerLock> acquire(const std::filesystem::path& file, std::error_code& error);
    ~ServerLock();
    ServerLock(const ServerLock&) = delete;
    ServerLock& operator=(const ServerLock&) = delete;

private:
    explicit ServerLock(int fd) : fd_(fd) {}
    int fd_;
};

// True while a process (this one included) holds the lock on `file`.
[[nodiscard]] bool LocalServerRunning(const std::filesystem::path& file);

}  // namespace kestavo::platform
