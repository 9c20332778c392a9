#pragma once
// TClient: the upload thread that sends finished recordings to the receiving server and deletes
// each local copy once the receiver has all of it.
//
// One transfer: connect to the server host on the upload port, send the 115-byte header (see
// UploadHeader), then the file in blocks of exactly 8192 bytes: every read of up to 8192 bytes,
// including the last one that finds nothing more, is followed by one whole block of the transfer
// buffer, so the tail of the last data block and one extra block carry stale bytes and the
// receiver finds the end from the size in the header. After the last block this side half-closes
// and waits, within the 60 s time-out, for the receiver to close its side too: that close is the
// receiver's word that it has the whole file, and only then is the file deleted.
//
// A transfer that cannot connect, breaks off, is reset or times out leaves the file where it is
// and the job in an UploadQueue, a file in the program folder that outlives the program. Failed
// jobs go to the back of the queue and the thread pauses, twice as long after each further
// failure (up to a limit), before it tries again; a delivery resets the pause. A recording's JSON
// sidecar ("X.wav.json", queued after "X.wav") goes to the back with it, so it always follows it. Jobs left by an
// earlier run are resumed at start. Stopping breaks off a transfer in progress; its job stays
// queued. A job whose file has vanished, or is too large for the header, is dropped and its file
// (if any) left alone: nothing is ever deleted unsent.
//
// Threads: Upload() from any thread (channel threads); the transfers run on the "upload" thread
// at lower priority, which never waits for any other thread except on its own queue's lock.
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/stream_socket.h"

namespace kestavo::services {

inline constexpr std::size_t kUploadHeaderBytes = 115;
inline constexpr std::size_t kUploadBlockBytes = 8192;
inline constexpr std::uint16_t kDefaultUploadPort = 45000;
inline constexpr std::size_t kUploadNameLimit = 99;  // characters of the file name the header holds

// The header that opens a transfer: "FILE", its own length (115), the file name without folder
// zero-terminated in 100 bytes (cut to 99), the file size, then three zero bytes; little-endian.
[[nodiscard]] std::array<std::byte, kUploadHeaderBytes> UploadHeader(const std::string& fileName,
                                                                     std::int32_t sizeBytes);

struct UploadJob {
    std::string host;
    std::uint16_t port = kDefaultUploadPort;
    std::string path;  // the local file
    friend bool operator==(const UploadJob&, const UploadJob&) = default;
};

// The jobs not yet delivered, kept in a text file (one job a line: host, port and path separated
// by tabs) that is rewritten under a temporary name and renamed at every change. Thread-safe.
class UploadQueue {
public:
    // Reads the jobs an earlier run left in `file` (a missing file is an empty queue).
    explicit UploadQueue(std::filesystem::path file);
    // False when the job cannot be kept (a tab or line break in a field).
    bool push(const UploadJob& job);
    [[nodiscard]] std::optional<UploadJob> front() const;
    void remove(const UploadJob& job);  // the first equal job
    void toBack(const UploadJob& job);  // the first equal job moves to the end
    [[nodiscard]] std::vector<UploadJob> jobs() const;
    [[nodiscard]] std::size_t size() const;

private:
    void save_() const;  // with mutex_ held; a failure leaves the previous file (the jobs stay in memory)

    std::filesystem::path file_;
    mutable std::mutex mutex_;
    std::vector<UploadJob> jobs_;
};

// How a transfer ended.
enum class UploadResult {
    Delivered,  // the receiver has the whole file; the local file is deleted
    Failed,     // kept; try again later
    Dropped,    // the file is gone or cannot be described by the header; nothing to retry
};

struct UploadOptions {
    platform::Network* network = nullptr;            // null: TCP
    std::filesystem::path queueFile;                 // empty: the queue lives in memory only
    std::chrono::milliseconds timeout{60000};        // every send and the wait for the receiver's close
    std::chrono::milliseconds connectTimeout{5000};  // bounds a stop during a connect, too
    std::chrono::milliseconds firstPause{2000};      // after the first failure
    std::chrono::milliseconds longestPause{std::chrono::minutes(5)};
};

// One transfer of `job`; `stop` breaks it off (Failed). Deletes the file when Delivered.
[[nodiscard]] UploadResult SendRecording(platform::Network& network, const UploadJob& job, const UploadOptions& options,
                                         std::stop_token stop = {});

class TClient {
public:
    explicit TClient(UploadOptions options);
    // Stops the thread; a transfer in progress is broken off and stays queued.
    ~TClient();
    TClient(const TClient&) = delete;
    TClient& operator=(const TClient&) = delete;

    // Any thread: queues `job` (persistently) and wakes the upload thread.
    void Upload(const UploadJob& job);
    [[nodiscard]] std::size_t Queued() const { return queue_.size(); }
    [[nodiscard]] std::vector<UploadJob> QueuedJobs() const { return queue_.jobs(); }
    [[nodiscard]] std::uint64_t Delivered() const;
    [[nodiscard]] std::uint64_t Failures() const;
    // Waits until the queue is empty; false after `limit`.
    [[nodiscard]] bool WaitEmpty(std::chrono::milliseconds limit) const;
    // Waits until the queue is empty, or until a transfer fails (the receiver is away: no use
    // waiting on); false when something is still queued. For a short grace at program exit.
    bool WaitDelivered(std::chrono::milliseconds limit) const;

private:
    void run_(std::stop_token stop);

    UploadOptions options_;
    UploadQueue queue_;
    mutable std::mutex mutex_;  // guards the counters and the wake-up
    mutable std::condition_variable_any changed_;
    std::uint64_t delivered_ = 0;
    std::uint64_t failures_ = 0;
    std::uint64_t added_ = 0;  // jobs handed in, so a wait never misses one
    std::jthread thread_;      // last: started after everything it uses
};

}  // namespace kestavo::services
