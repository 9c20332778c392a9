#include "services/upload_client.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <fstream>
#include <limits>

#include "platform/thread_name.h"
#include "platform/thread_priority.h"

namespace kestavo::services {

namespace fs = std::filesystem;

namespace {

void putLe32(std::byte* at, std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    for (int i = 0; i < 4; ++i) at[i] = std::byte((u >> (8 * i)) & 0xFF);
}

bool fieldOk(const std::string& s) { return s.find_first_of("\t\r\n") == std::string::npos; }

}  // namespace

std::array<std::byte, kUploadHeaderBytes> UploadHeader(const std::string& fileName, std::int32_t sizeBytes) {
    std::array<std::byte, kUploadHeaderBytes> h{};
    std::memcpy(h.data(), "FILE", 4);
    putLe32(h.data() + 4, std::int32_t(kUploadHeaderBytes));
    const std::size_t n = std::min(fileName.size(), kUploadNameLimit);
    std::memcpy(h.data() + 8, fileName.data(), n);  // the rest of the 100 bytes stays zero
    putLe32(h.data() + 108, sizeBytes);
    return h;  // bytes 112..114 are zero
}

// ---------------------------------------------------------------------------------------------
// UploadQueue

UploadQueue::UploadQueue(fs::path file) : file_(std::move(file)) {
    if (file_.empty()) return;
    std::ifstream in(file_);
    std::string line;
    while (std::getline(in, line)) {
        const auto a = line.find('\t');
        const auto b = a == std::string::npos ? a : line.find('\t', a + 1);
        if (b == std::string::npos) continue;  // a damaged line: skipped
        UploadJob job;
        job.host = line.substr(0, a);
        unsigned port = 0;
        const auto r = std::from_chars(line.data() + a + 1, line.data() + b, port);
        if (r.ec != std::errc() || port == 0 || port > 65535) continue;
        job.port = std::uint16_t(port);
        job.path = line.substr(b + 1);
        if (!job.path.empty()) jobs_.push_back(std::move(job));
    }
}

void UploadQueue::save_() const {
    if (file_.empty()) return;
    const fs::path tmp = file_.string() + ".new";
    {
        std::ofstream out(tmp, std::ios::trunc);
        for (const auto& j : jobs_) out << j.host << '\t' << j.port << '\t' << j.path << '\n';
        out.flush();
        if (!out) return;  // the old file stays; the jobs are still held in memory
    }
    std::error_code ec;
    fs::rename(tmp, file_, ec);
}

bool UploadQueue::push(const UploadJob& job) {
    if (!fieldOk(job.host) || !fieldOk(job.path) || job.path.empty()) return false;
    std::lock_guard lock(mutex_);
    jobs_.push_back(job);
    save_();
    return true;
}

std::optional<UploadJob> UploadQueue::front() const {
    std::lock_guard lock(mutex_);
    if (jobs_.empty()) return std::nullopt;
    return jobs_.front();
}

void UploadQueue::remove(const UploadJob& job) {
    std::lock_guard lock(mutex_);
    const auto it = std::find(jobs_.begin(), jobs_.end(), job);
    if (it == jobs_.end()) return;
    jobs_.erase(it);
    save_();
}

void UploadQueue::toBack(const UploadJob& job) {
    std::lock_guard lock(mutex_);
    const auto it = std::find(jobs_.begin(), jobs_.end(), job);
    if (it == jobs_.end()) return;
    UploadJob moved = std::move(*it);
    jobs_.erase(it);
    jobs_.push_back(std::move(moved));
    save_();
}

std::vector<UploadJob> UploadQueue::jobs() const {
    std::lock_guard lock(mutex_);
    return jobs_;
}

std::size_t UploadQueue::size() const {
    std::lock_guard lock(mutex_);
    return jobs_.size();
}

// ---------------------------------------------------------------------------------------------
// One transfer

UploadResult SendRecording(platform::Network& network, const UploadJob& job, const UploadOptions& options,
                           std::stop_token stop) {
    std::error_code ec;
    const auto size = fs::file_size(job.path, ec);
    if (ec) return fs::exists(job.path, ec) ? UploadResult::Failed : UploadResult::Dropped;
    if (size > std::uintmax_t(std::numeric_limits<std::int32_t>::max())) return UploadResult::Dropped;
    std::ifstream file(job.path, std::ios::binary);
    if (!file) return UploadResult::Failed;

    auto connection = network.connect(job.host, job.port, options.connectTimeout, ec);
    if (!connection) return UploadResult::Failed;
    // A stop breaks off the transfer at once instead of waiting out a slow receiver.
    std::stop_callback breakOff(stop, [&connection] { connection->abort(); });
    if (stop.stop_requested()) return UploadResult::Failed;

    const auto header = UploadHeader(fs::path(job.path).filename().string(), std::int32_t(size));
    if (connection->sendAll(header)) return UploadResult::Failed;
    std::array<std::byte, kUploadBlockBytes> buffer{};
    std::uintmax_t sent = 0;
    for (;;) {
        file.read(reinterpret_cast<char*>(buffer.data()), std::streamsize(buffer.size()));
        const auto got = std::uintmax_t(file.gcount());
        if (file.bad()) return UploadResult::Failed;
        if (connection->sendAll(buffer)) return UploadResult::Failed;  // always the whole block
        sent += got;
        if (got == 0) break;
    }
    if (sent != size) return UploadResult::Failed;  // the file changed under us: send it again later
    if (connection->finishSending()) return UploadResult::Failed;
    // The receiver's close confirms the file; anything it says first is read and ignored.
    const auto deadline = std::chrono::steady_clock::now() + options.timeout;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || stop.stop_requested()) return UploadResult::Failed;
        const auto r = connection->receive(buffer, left);
        if (r.error || stop.stop_requested()) return UploadResult::Failed;
        if (r.bytes == 0) break;
    }
    file.close();
    fs::remove(job.path, ec);  // a file that cannot be deleted was still delivered
    return UploadResult::Delivered;
}

// ---------------------------------------------------------------------------------------------
// The thread

TClient::TClient(UploadOptions options)
    : options_(std::move(options)), queue_(options_.queueFile), thread_([this](std::stop_token s) { run_(s); }) {}

TClient::~TClient() {
    thread_.request_stop();
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void TClient::Upload(const UploadJob& job) {
    if (!queue_.push(job)) return;  // cannot be kept: the file stays where it is
    {
        std::lock_guard lock(mutex_);
        ++added_;
    }
    changed_.notify_all();
}

std::uint64_t TClient::Delivered() const {
    std::lock_guard lock(mutex_);
    return delivered_;
}

std::uint64_t TClient::Failures() const {
    std::lock_guard lock(mutex_);
    return failures_;
}

bool TClient::WaitEmpty(std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return queue_.size() == 0; });
}

bool TClient::WaitDelivered(std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    const std::uint64_t failed = failures_;
    changed_.wait_for(lock, limit, [&] { return queue_.size() == 0 || failures_ != failed; });
    return queue_.size() == 0;
}

void TClient::run_(std::stop_token stop) {
    platform::nameThisThread("upload");
    platform::lowerThisThreadPriority();
    platform::Network& network = options_.network ? *options_.network : platform::systemNetwork();
    auto pause = options_.firstPause;
    std::uint64_t seen = 0;
    while (!stop.stop_requested()) {
        const auto job = queue_.front();
        if (!job) {
            std::unique_lock lock(mutex_);
            changed_.notify_all();  // WaitEmpty
            changed_.wait(lock, stop, [&] { return added_ != seen; });
            seen = added_;
            continue;
        }
        const UploadResult result = SendRecording(network, *job, options_, stop);
        if (result != UploadResult::Failed) {
            queue_.remove(*job);
            pause = options_.firstPause;
            std::lock_guard lock(mutex_);
            if (result == UploadResult::Delivered) ++delivered_;
            changed_.notify_all();
            continue;
        }
        if (stop.stop_requested()) break;  // the job stays queued for the next run
        queue_.toBack(*job);
        // A recording's JSON sidecar is queued after it and stays after it.
        queue_.toBack(UploadJob{job->host, job->port, job->path + ".json"});
        std::unique_lock lock(mutex_);
        ++failures_;
        changed_.notify_all();
        changed_.wait_for(lock, stop, pause, [] { return false; });
        pause = std::min(pause * 2, options_.longestPause);
    }
}

}  // namespace kestavo::services
