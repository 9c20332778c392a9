#pragma once
// FileOps: the system calls the sound writers make, gathered in one table so that a test can put a
// failing call in place of the real one (a full disk, a folder that cannot be written). The default
// table calls POSIX directly. Every entry returns what its POSIX namesake returns and sets errno.
#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>

namespace kestavo::recording {

struct FileOps {
    int (*open)(const char* path, int flags, mode_t mode);
    ssize_t (*pwrite)(int fd, const void* data, std::size_t bytes, off_t offset);
    ssize_t (*pread)(int fd, void* data, std::size_t bytes, off_t offset);
    int (*fstat)(int fd, struct stat* st);
    // Makes one folder (an existing one answers -1 with errno EEXIST).
    int (*mkdir)(const char* path, mode_t mode);
    int (*close)(int fd);
    // Moves `from` to `to` unless `to` exists (then -1 with errno EEXIST); never replaces a file.
    int (*renameNoReplace)(const char* from, const char* to);
    int (*unlink)(const char* path);
};

// The real calls.
[[nodiscard]] const FileOps& SystemFileOps() noexcept;

}  // namespace kestavo::recording
