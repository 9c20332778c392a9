#pragma once
// InstanceLock, QuitListener: one running recorder per program folder, and the way to ask it to
// close from outside.
//
// InstanceLock holds an advisory lock (flock) on "kestavo.lock" in the program folder for the life
// of the program and writes its process id into that file; a second program for the same folder
// finds the lock held — whoever started it, a service or a desktop session — and stops with "One
// instance of programm is already working", the folder and the other process. The lock goes with
// the process, so a crash never leaves it behind.
//
// QuitListener listens on a local socket in the runtime folder whose name is made from the program
// folder (QuitSocketPath); `kestavo --quit` connects, sends "quit", and the running program closes
// without asking. The listener's thread waits in poll() together with an eventfd, so stopping it
// never waits out a connection.
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
    // Locks <programFolder>/kestavo.lock (the folder is created). Null when another process holds
    // the lock, with `holder` set to its process id (0 when unknown), or when the file cannot be
    // made, with `error` set.
    [[nodiscard]] static std::unique_ptr<InstanceLock> acquire(const std::filesystem::path& programFolder, long& holder,
                                                               std::error_code& error);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

private:
    explicit InstanceLock(int fd) : fd_(fd) {}
    int fd_;
};

// The refusal of a second program: the fixed text, the program folder and the process holding it.
[[nodiscard]] std::string AlreadyRunningMessage(const std::filesystem::path& programFolder, long holder);

// The quit socket of the recorder of `programFolder`: "kestavo-<hash of the folder>.sock" in
// `runtimeFolder`, so recorders of different folders never share one.
[[nodiscard]] std::filesystem::path QuitSocketPath(const std::filesystem::path& runtimeFolder,
                                                   const std::filesystem::path& programFolder);

class QuitListener {
public:
    // Listens on `socketPath` (a stale socket file is replaced). Null on failure.
    [[nodiscard]] static std::unique_ptr<QuitListener> start(const std::filesystem::path& socketPath,
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

// `kestavo --quit`: asks the program listening on `socketPath` to close. Empty on success.
[[nodiscard]] std::error_code SendQuit(const std::filesystem::path& socketPath);

}  // namespace kestavo::platform
