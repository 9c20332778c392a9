#include "recording/file_ops.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace kestavo::recording {

namespace {

int openFile(const char* path, int flags, mode_t mode) {
    int fd;
    do fd = ::open(path, flags, mode);
    while (fd < 0 && errno == EINTR);
    return fd;
}

ssize_t pwriteFile(int fd, const void* data, std::size_t bytes, off_t offset) {
    ssize_t done;
    do done = ::pwrite(fd, data, bytes, offset);
    while (done < 0 && errno == EINTR);
    return done;
}

ssize_t preadFile(int fd, void* data, std::size_t bytes, off_t offset) {
    ssize_t done;
    do done = ::pread(fd, data, bytes, offset);
    while (done < 0 && errno == EINTR);
    return done;
}

int fstatFile(int fd, struct stat* st) { return ::fstat(fd, st); }

int makeFolder(const char* path, mode_t mode) { return ::mkdir(path, mode); }

// The file is gone after close whatever it answers, so EINTR is not retried.
int closeFile(int fd) { return ::close(fd); }

int renameNoReplace(const char* from, const char* to) {
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return -1;
    // A file system without the no-replace flag: a hard link cannot replace either.
    if (::link(from, to) == 0) return ::unlink(from);
    if (errno == EEXIST) return -1;
    // No hard links either (some network and FAT mounts): check, then move; the window between
    // the two is accepted there.
    struct stat st {};
    if (::lstat(to, &st) == 0) {
        errno = EEXIST;
        return -1;
    }
    return ::rename(from, to);
}

int unlinkFile(const char* path) { return ::unlink(path); }

constexpr FileOps kSystem{openFile,   pwriteFile, preadFile,       fstatFile,
                          makeFolder, closeFile,  renameNoReplace, unlinkFile};

}  // namespace

const FileOps& SystemFileOps() noexcept { return kSystem; }

}  // namespace kestavo::recording
