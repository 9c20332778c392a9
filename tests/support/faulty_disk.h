#pragma once
// FaultyDisk: a FileOps table for the writers whose calls fail with real system errors at chosen
// points — a folder that refuses new files, a disk that fills after so many bytes of a file, a
// device that fails every write — and otherwise pass through to the real calls.
// One disk at a time (the table holds plain function pointers): each test makes its own and the
// destructor puts everything back.
#include <fcntl.h>

#include <cerrno>
#include <cstdint>
#include <limits>

#include "recording/file_ops.h"

namespace kestavo::test {

class FaultyDisk {
public:
    FaultyDisk() { state() = {}; }
    ~FaultyDisk() { state() = {}; }
    FaultyDisk(const FaultyDisk&) = delete;
    FaultyDisk& operator=(const FaultyDisk&) = delete;

    // Every new file is refused with `err` (EROFS, EACCES, ENOSPC …); 0 lets them be made again.
    void refuseNewFiles(int err) { state().openError = err; }
    // Writes past `bytes` of a file fail with `err` (ENOSPC, EIO …), short writes first.
    void failWritesBeyond(std::uint64_t bytes, int err) {
        state().room = bytes;
        state().writeError = err;
    }
    // Every write succeeds again.
    void heal() {
        state().openError = 0;
        state().room = kNoLimit;
    }
    [[nodiscard]] int failedWrites() const { return state().failedWrites; }

    [[nodiscard]] static recording::FileOps ops() {
        recording::FileOps o = recording::SystemFileOps();
        o.open = [](const char* path, int flags, mode_t mode) {
            if (state().openError != 0 && (flags & O_CREAT)) return errno = state().openError, -1;
            return recording::SystemFileOps().open(path, flags, mode);
        };
        o.pwrite = [](int fd, const void* data, std::size_t bytes, off_t offset) -> ssize_t {
            const std::uint64_t room = state().room;
            if (std::uint64_t(offset) + bytes > room) {
                ++state().failedWrites;
                if (std::uint64_t(offset) >= room) return errno = state().writeError, -1;
                bytes = std::size_t(room - std::uint64_t(offset));  // what fits goes in first
            }
            return recording::SystemFileOps().pwrite(fd, data, bytes, offset);
        };
        return o;
    }

private:
    static constexpr std::uint64_t kNoLimit = std::numeric_limits<std::uint64_t>::max();
    struct State {
        int openError = 0;
        int writeError = ENOSPC;
        std::uint64_t room = kNoLimit;
        int failedWrites = 0;
    };
    static State& state() {
        static State s;
        return s;
    }
};

}  // namespace kestavo::test
