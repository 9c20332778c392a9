#pragma once
// InstanceLock, QuitListener: one running recorder per user, and the way to ask it to close from
// outside.
//
// InstanceLock holds an advisory lock (flock) on "kestavo.lock" in the runtime folder for the life
// of the program; a second program finds it held and stops with "One instance of programm is
// already working". The lock goes with the process, so a crash never leaves it behind.
//
// QuitListener listens on the local socket "kestavo.sock" beside the lock; `kestavo --quit`
// connects, sends "quit", and the running program closes without asking (the old quit message).
// The listener's thread waits in poll() together with an eventfd, so stopping it never waits out
// a connection.
//
// Threads: the callback runs on the listener's thread and must only schedule the close.
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <system_error>
#include <thread>

namespace kestavo::platform {

inline constexpr const char* kAlreadyRunningText = "One instance of programm is already working";

class InstanceLock {
public:
    // Null when another process holds the lock; `error` tells a failure to create the file.
    [[nodiscard]] static std::unique_ptr<InstanceLock> acquire(const std::filesystem::path& folder,
                                                               std::error_code& error);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

private:
    explicit InstanceLock(int fd) : fd_(fd) {}
    int fd_;
};

class QuitListener {
public:
    // Listens on <folder>/kestavo.sock (a stale socket file is replaced). Null on failure.
    [[nodiscard]] static std::unique_ptr<QuitListener> start(const std::filesystem::path& folder,
                                                             std::function<void()> onQuit, std::error_code& error);
    ~QuitListener();  // stops the thread and removes the socket file
    QuitListener(const QuitListener&) = delete;
    QuitListener& operator=(const QuitListener&) = delete;

private:
    QuitListener() = default;
    void run_(std::stop_token stop);

    int socket_ = -1;
    int wake_ = -1;  // eventfd: readable once the listener must end
    std::filesystem::path path_;
    std::function<void()> onQuit_;
    std::jthread thread_;
};

// `kestavo --quit`: asks the program running for this user to close. Empty on success.
[[nodiscard]] std::error_code SendQuit(const std::filesystem::path& folder);

}  // namespace kestavo::platform
