#include "platform/server_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace kestavo::platform {

std::filesystem::path DefaultServerLockPath() {
    if (const char* own = std::getenv("KESTAVO_MONSERV"); own && *own) return own;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    return std::filesystem::path(runtime && *runtime ? runtime : "/tmp") / "kestavo-MONSERV.lock";
}

std::unique_ptr<ServerLock> ServerLock::acquire(const std::filesystem::path& file, std::error_code& error) {
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = {errno, std::system_category()};
        return nullptr;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = {errno, std::system_category()};
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<ServerLock>(new ServerLock(fd));
}

ServerLock::~ServerLock() { ::close(fd_); }

bool LocalServerRunning(const std::filesystem::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;  // no file: no server ever ran here
    // flock locks belong to the open file description: a second open of the same file conflicts
    // even within the process that holds the lock.
    const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return held;
}

}  // namespace kestavo::platform
