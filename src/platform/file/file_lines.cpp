#include "platform/file/file_lines.h"
#include "platform/line_rate.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>

namespace kestavo::platform {

namespace {

using Steady = std::chrono::steady_clock;
constexpr auto kSlice = std::chrono::milliseconds(10);           // longest wait without looking at stop
constexpr int kWaveFormatExtensible = 0xFFFE;                    // format tag: the real format follows in a sub-format
constexpr auto kPresenceCheck = std::chrono::milliseconds(100);  // how often a waiting line looks for its file

// Waits on the stop event for `d` (rounded up to whole milliseconds); true when it is set.
bool waitStop(const Event& stop, Steady::duration d) {
    return stop.wait(std::chrono::ceil<std::chrono::milliseconds>(std::max<Steady::duration>(d, {})));
}

std::uint16_t le16(const unsigned char* p) { return std::uint16_t(p[0] | p[1] << 8); }
std::uint32_t le32(const unsigned char* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

bool hasWavExtension(const std::filesystem::path& p) {
    std::string ext = p.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return ext == ".wav";
}

// Reads exactly `n` bytes at `offset`; false on error or end of file.
bool readAt(int fd, void* to, std::size_t n, std::uint64_t offset) {
    auto* p = static_cast<unsigned char*>(to);
    while (n > 0) {
        const ssize_t got = ::pread(fd, p, n, off_t(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        p += got;
        n -= std::size_t(got);
        offset += std::uint64_t(got);
    }
    return true;
}

}  // namespace

struct FileLineSystem::LineFile {
    bool present = true;  // the file is there and usable; false: gone (the line keeps its id)
    std::filesystem::path path;
    std::string name;              // the file's name: the device's product name
    int channels = 1;              // 1 or 2
    std::uint64_t dataOffset = 0;  // bytes from the file's start to the first sample
    std::int64_t frames = 0;       // sample frames in the file (a frame = one sample per channel)
};

namespace {

// Reads the header of a RIFF/WAVE file; on failure says why in `why`.
std::optional<FileLineSystem::LineFile> readLineFile(const std::filesystem::path& path, std::string& why) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        why = std::string("cannot be read: ") + std::strerror(errno);
        return std::nullopt;
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    std::error_code ec;
    const std::uint64_t size = std::filesystem::file_size(path, ec);
    unsigned char riff[12];
    if (ec || !readAt(fd, riff, sizeof riff, 0) || std::memcmp(riff, "RIFF", 4) != 0 ||
        std::memcmp(riff + 8, "WAVE", 4) != 0) {
        why = "not a WAV file";
        return std::nullopt;
    }
    bool haveFormat = false;
    int tag = 0, channels = 0, bits = 0;
    std::uint32_t rate = 0;
    std::uint64_t at = 12;
    for (;;) {
        unsigned char chunk[8];
        if (!readAt(fd, chunk, sizeof chunk, at)) {
            why = haveFormat ? "no sound data" : "no format description";
            return std::nullopt;
        }
        const std::uint32_t length = le32(chunk + 4);
        at += 8;
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            unsigned char fmt[40] = {};
            if (length < 16 || !readAt(fd, fmt, std::min<std::uint32_t>(length, sizeof fmt), at)) {
                why = "damaged format description";
                return std::nullopt;
            }
            tag = le16(fmt);
            channels = le16(fmt + 2);
            rate = le32(fmt + 4);
            bits = le16(fmt + 14);
            // An extensible format is plain PCM when its sub-format starts with the PCM tag.
            if (tag == kWaveFormatExtensible && length >= 40 && le16(fmt + 24) == kWaveFormatPcm) tag = kWaveFormatPcm;
            haveFormat = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!haveFormat) {
                why = "no format description before the sound data";
                return std::nullopt;
            }
            if (tag != kWaveFormatPcm) {
                why = "not PCM (format tag " + std::to_string(tag) + ")";
                return std::nullopt;
            }
            if (rate != std::uint32_t(kLineRate)) {
                why = std::to_string(rate) + " Hz; lines must be " + std::to_string(kLineRate) + " Hz";
                return std::nullopt;
            }
            if (bits != 16) {
                why = std::to_string(bits) + "-bit samples; lines must be 16-bit";
                return std::nullopt;
            }
            if (channels != 1 && channels != 2) {
                why = std::to_string(channels) + " channels; lines must be mono or stereo";
                return std::nullopt;
            }
            // A data length beyond the end of the file (a cut file, or a length never filled in)
            // counts as "up to the end of the file".
            const std::uint64_t present = size > at ? size - at : 0;
            const std::uint64_t bytes = std::min<std::uint64_t>(length, present);
            FileLineSystem::LineFile f;
            f.path = path;
            f.name = path.filename().string();
            f.channels = channels;
            f.dataOffset = at;
            f.frames = std::int64_t(bytes / std::uint64_t(2 * channels));
            if (f.frames == 0) {
                why = "holds no sound";
                return std::nullopt;
            }
            return f;
        }
        at += length + (length & 1);  // chunks are padded to an even length
    }
}

}  // namespace

// The part of the system its opened lines share: the pace, the time line, the clock and the
// end-of-input report. Everything below `mutex` is guarded by it.
struct FileLineSystem::Hub {
    LinePace pace;
    PendingWork* pending;
    std::unique_ptr<FakeClock> clock;  // fast pace only
    Event allEnded;

    struct Member {
        std::int64_t deliveredEnd = 0;  // time-line sample after the last delivered buffer
        std::int64_t handedEnd = 0;     // the same, once the capture thread came back for more
        bool running = false;           // started and neither stopped nor ended
        bool started = false;           // has ever been started
        bool lastDelivered = false;     // the file's last sample has been delivered
        bool ended = false;             // ... and handed on
    };
    std::mutex mutex;
    std::condition_variable changed;  // a member handed on sound or left
    std::map<std::uint64_t, Member> members;
    std::uint64_t nextId = 0;
    std::int64_t timeline = 0;  // samples: the furthest end any line delivered
    bool anyStarted = false;

    Hub(LinePace p, PendingWork& w) : pace(p), pending(&w) {}

    // Under `mutex`.
    void updateAllEnded() {
        bool all = anyStarted;
        for (const auto& [id, m] : members)
            if (m.started && !m.ended) all = false;
        if (all)
            allEnded.set();
        else
            allEnded.reset();
    }
    // Under `mutex`: may a line deliver a buffer that begins at time-line sample `begin`?
    bool mayDeliver(std::uint64_t self, std::int64_t begin) const {
        for (const auto& [id, m] : members)
            if (id != self && m.running && m.handedEnd < begin) return false;
        return true;
    }
};

namespace {

// One opened file-backed line. Owned by one capture thread.
class FileLineInput final : public SoundInput {
public:
    FileLineInput(std::shared_ptr<FileLineSystem::Hub> hub, const FileLineSystem::LineFile& file, int fd, int channels,
                  int bits)
        : hub_(std::move(hub)), file_(file), fd_(fd), channels_(channels), bits_(bits) {
        struct stat st {};
        if (::fstat(fd_, &st) == 0) {
            fileDevice_ = st.st_dev;
            fileInode_ = st.st_ino;
        }
        std::lock_guard lock(hub_->mutex);
        id_ = hub_->nextId++;
        hub_->members.emplace(id_, FileLineSystem::Hub::Member{});
    }
    ~FileLineInput() override { close(); }

    std::error_code prepare(WaveHeader& header) override {
        if (header.data == nullptr || header.bufferLength < frameBytes())
            return std::make_error_code(std::errc::invalid_argument);
        header.prepared = true;
        header.done = false;
        return {};
    }

    std::error_code addBuffer(WaveHeader& header) override {
        if (fd_ < 0) return std::make_error_code(std::errc::bad_file_descriptor);
        if (!header.prepared || header.queued) return std::make_error_code(std::errc::invalid_argument);
        handOn();
        header.bytesRecorded = 0;
        header.done = false;
        header.queued = true;
        queue_.push_back(&header);
        return {};
    }

    std::error_code start() override {
        if (fd_ < 0) return std::make_error_code(std::errc::bad_file_descriptor);
        if (running_) return {};
        running_ = true;
        // Real time: a line started again goes on from where it stopped.
        t0_ = Steady::now() - framesToDuration(pos_);
        std::lock_guard lock(hub_->mutex);
        auto& m = hub_->members.at(id_);
        origin_ = hub_->pace == LinePace::Fast ? hub_->timeline - pos_ : 0;
        m.deliveredEnd = m.handedEnd = origin_ + pos_;
        m.started = true;
        m.running = !m.lastDelivered;
        hub_->anyStarted = true;
        hub_->updateAllEnded();
        return {};
    }

    WaitResult wait(const Event& stop, std::chrono::milliseconds timeout) override {
        if (fd_ < 0 || lost_) return WaitResult::DeviceLost;
        handOn();
        const auto deadline = Steady::now() + timeout;
        for (;;) {
            if (stop.isSet()) return WaitResult::Stopped;
            const auto now = Steady::now();
            if (now >= nextPresenceCheck_) {
                nextPresenceCheck_ = now + kPresenceCheck;
                if (!fileStillThere()) return WaitResult::DeviceLost;
            }
            if (!running_ || queue_.empty() || pos_ >= file_.frames) {
                // Nothing can come before the caller acts again: silence until stop or timeout.
                return waitStop(stop, deadline - now) ? WaitResult::Stopped : WaitResult::TimedOut;
            }
            const std::int64_t capacity = queue_.front()->bufferLength / frameBytes();
            const std::int64_t frames = std::min(capacity, file_.frames - pos_);
            if (hub_->pace == LinePace::RealTime) {
                const auto due = t0_ + framesToDuration(pos_ + frames);
                if (now < due) {
                    if (now >= deadline) return WaitResult::TimedOut;
                    if (waitStop(stop, std::min(due, deadline) - now)) return WaitResult::Stopped;
                    continue;
                }
            } else {
                // In step with the other lines, and the channels done with the earlier blocks.
                const auto slice = std::min<Steady::duration>(kSlice, std::max<Steady::duration>(deadline - now, {}));
                if (!inStep(slice) ||
                    !hub_->pending->waitIdle(std::stop_token{}, std::chrono::ceil<std::chrono::milliseconds>(slice))) {
                    if (Steady::now() >= deadline) return WaitResult::TimedOut;
                    continue;
                }
            }
            return deliver(frames) ? WaitResult::BufferDone : WaitResult::DeviceLost;
        }
    }

    void reset() noexcept override {
        for (WaveHeader* h : queue_) {
            h->done = true;
            h->queued = false;
        }
        queue_.clear();
        leave();
    }

    void stop() noexcept override { leave(); }

    void unprepare(WaveHeader& header) noexcept override {
        if (!header.queued) header.prepared = false;
    }

    [[nodiscard]] std::error_code lostReason() const noexcept override { return lostReason_; }

    void close() noexcept override {
        if (fd_ < 0) return;
        ::close(fd_);
        fd_ = -1;
        running_ = false;
        for (WaveHeader* h : queue_) {
            h->done = true;
            h->queued = false;
        }
        queue_.clear();
        {
            std::lock_guard lock(hub_->mutex);
            hub_->members.erase(id_);
            hub_->updateAllEnded();
        }
        hub_->changed.notify_all();
    }

private:
    [[nodiscard]] std::uint32_t frameBytes() const noexcept { return std::uint32_t(channels_ * bits_ / 8); }
    static Steady::duration framesToDuration(std::int64_t frames) {
        return std::chrono::duration_cast<Steady::duration>(std::chrono::duration<double>(double(frames) / kLineRate));
    }

    // Fast pace: may the next buffer go out? Waits at most `slice` for the other lines.
    bool inStep(Steady::duration slice) {
        std::unique_lock lock(hub_->mutex);
        return hub_->changed.wait_for(lock, slice, [&] { return hub_->mayDeliver(id_, origin_ + pos_); });
    }

    // The capture thread came back: what it was given has been handed on to the channels.
    void handOn() noexcept {
        if (fd_ < 0) return;
        bool changed = false;
        {
            std::lock_guard lock(hub_->mutex);
            auto& m = hub_->members.at(id_);
            if (m.handedEnd != m.deliveredEnd || (m.lastDelivered && !m.ended)) {
                m.handedEnd = m.deliveredEnd;
                if (m.lastDelivered) {
                    m.ended = true;
                    m.running = false;
                    hub_->updateAllEnded();
                }
                changed = true;
            }
        }
        if (changed) hub_->changed.notify_all();
    }

    void leave() noexcept {
        if (fd_ < 0) return;
        handOn();
        running_ = false;
        {
            std::lock_guard lock(hub_->mutex);
            hub_->members.at(id_).running = false;
            hub_->updateAllEnded();
        }
        hub_->changed.notify_all();
    }

    // Whether the file's name still leads to the file this line opened; when not, the line is lost.
    bool fileStillThere() noexcept {
        struct stat st {};
        if (::stat(file_.path.c_str(), &st) == 0 && st.st_dev == fileDevice_ && st.st_ino == fileInode_) return true;
        lost_ = true;
        lostReason_ = std::make_error_code(std::errc::no_such_file_or_directory);
        return false;
    }

    // Fills the oldest queued buffer with the next `frames` frames of the file; false (the line
    // is lost) when the file is gone or cannot be read.
    bool deliver(std::int64_t frames) {
        if (!fileStillThere()) return false;
        WaveHeader& h = *queue_.front();
        const int inChannels = file_.channels;
        scratch_.resize(std::size_t(frames) * std::size_t(inChannels) * 2);
        if (!readAt(fd_, scratch_.data(), scratch_.size(),
                    file_.dataOffset + std::uint64_t(pos_) * std::uint64_t(2 * inChannels))) {
            lost_ = true;
            lostReason_ = std::make_error_code(std::errc::io_error);
            return false;
        }
        auto* out = reinterpret_cast<unsigned char*>(h.data);
        const unsigned char* in = scratch_.data();
        for (std::int64_t f = 0; f < frames; ++f, in += 2 * inChannels) {
            for (int c = 0; c < channels_; ++c) {
                const unsigned char* s = in + 2 * c;
                if (bits_ == 16) {
                    *out++ = s[0];
                    *out++ = s[1];
                } else {
                    *out++ = std::uint8_t(s[1] ^ 0x80);  // high byte of the sample, offset by 128
                }
            }
        }
        h.bytesRecorded = std::uint32_t(frames) * frameBytes();
        h.done = true;
        h.queued = false;
        queue_.pop_front();
        pos_ += frames;
        const bool last = pos_ >= file_.frames;
        std::lock_guard lock(hub_->mutex);
        auto& m = hub_->members.at(id_);
        m.deliveredEnd = origin_ + pos_;
        m.lastDelivered = last;
        if (hub_->pace == LinePace::Fast) {
            hub_->timeline = std::max(hub_->timeline, m.deliveredEnd);
            hub_->clock->advanceTo(std::chrono::milliseconds(hub_->timeline * 1000 / kLineRate));
        }
        return true;
    }

    std::shared_ptr<FileLineSystem::Hub> hub_;
    FileLineSystem::LineFile file_;
    int fd_;                              // the open WAV file; -1 once closed
    int channels_;                        // channels delivered: 1 or 2
    int bits_;                            // bits per delivered sample: 8 or 16
    std::uint64_t id_ = 0;                // this line in the hub
    std::deque<WaveHeader*> queue_;       // queued buffers, oldest first
    std::int64_t pos_ = 0;                // frames of the file delivered so far
    std::int64_t origin_ = 0;             // time-line sample at which the file's first frame sits
    bool running_ = false;                // between start() and stop()/reset()
    Steady::time_point t0_{};             // real time: when the file's first frame was "recorded"
    std::vector<unsigned char> scratch_;  // file bytes of one buffer
    dev_t fileDevice_ = 0;                // the opened file's identity, to notice a removal
    ino_t fileInode_ = 0;
    Steady::time_point nextPresenceCheck_{};  // when wait() looks at the file's name again
    bool lost_ = false;                       // the file is gone: every wait answers DeviceLost
    std::error_code lostReason_;
};

}  // namespace

LinesSettings LinesSettings::fromEnvironment(const std::filesystem::path& programFolder) {
    LinesSettings s;
    const char* folder = std::getenv("KESTAVO_LINES");
    s.folder = (folder && *folder) ? std::filesystem::path(folder) : programFolder / "LINES";
    if (folder && *folder && !std::filesystem::is_directory(s.folder))
        s.problems.push_back("KESTAVO_LINES: folder " + s.folder.string() + " does not exist");
    if (const char* pace = std::getenv("KESTAVO_LINES_PACE"); pace && *pace) {
        const std::string_view p(pace);
        if (p == "fast")
            s.pace = LinePace::Fast;
        else if (p != "realtime" && p != "real")
            s.problems.push_back("KESTAVO_LINES_PACE: \"" + std::string(p) +
                                 "\" is neither fast nor realtime; real time is used");
    }
    if (const char* start = std::getenv("KESTAVO_LINES_START"); start && *start) {
        s.start = parseIsoLocal(start);
        if (!s.start)
            s.problems.push_back("KESTAVO_LINES_START: \"" + std::string(start) +
                                 "\" is not a local time YYYY-MM-DDTHH:MM:SS; the clock starts now");
    }
    return s;
}

FileLineSystem::FileLineSystem(std::filesystem::path folder, LinePace pace, std::optional<LocalTime> start,
                               PendingWork& pending)
    : folder_(std::move(folder)), pace_(pace), hub_(std::make_shared<Hub>(pace, pending)) {
    if (pace == LinePace::Fast) {
        const SystemClock system;
        hub_->clock = std::make_unique<FakeClock>(start.value_or(system.now()), system.tickMs());
    }
    std::lock_guard lock(mutex_);
    scan(&problems_);
}

void FileLineSystem::scan(std::vector<std::string>* problems) {
    for (auto& f : files_) f.present = false;
    std::error_code ec;
    if (!std::filesystem::is_directory(folder_, ec)) return;  // no lines: nothing to report
    std::vector<std::filesystem::path> candidates;
    for (std::filesystem::directory_iterator it(folder_, ec), end; !ec && it != end; it.increment(ec)) {
        const auto& p = it->path();
        if (p.filename().string().starts_with('.') || !hasWavExtension(p)) continue;
        std::error_code typeError;
        if (!it->is_regular_file(typeError)) continue;
        candidates.push_back(p);
    }
    if (ec && problems) problems->push_back(folder_.string() + ": cannot be read: " + ec.message());
    std::sort(candidates.begin(), candidates.end(),
              [](const auto& a, const auto& b) { return a.filename().string() < b.filename().string(); });
    for (const auto& p : candidates) {
        std::string why;
        auto f = readLineFile(p, why);
        const auto known = std::find_if(files_.begin(), files_.end(),
                                        [&](const LineFile& l) { return l.name == p.filename().string(); });
        if (f && known != files_.end())
            *known = std::move(*f);  // back, perhaps changed: its place stays
        else if (f)
            files_.push_back(std::move(*f));
        else if (problems)
            problems->push_back(p.filename().string() + ": " + why + "; the file is not used as a line");
    }
}

FileLineSystem::~FileLineSystem() = default;

std::unique_ptr<FileLineSystem> FileLineSystem::fromEnvironment(const std::filesystem::path& programFolder,
                                                                PendingWork& pending) {
    LinesSettings s = LinesSettings::fromEnvironment(programFolder);
    auto system = std::make_unique<FileLineSystem>(s.folder, s.pace, s.start, pending);
    system->problems_.insert(system->problems_.begin(), s.problems.begin(), s.problems.end());
    return system;
}

std::vector<InputDeviceInfo> FileLineSystem::inputDevices() {
    std::lock_guard lock(mutex_);
    scan(nullptr);
    std::vector<InputDeviceInfo> list;
    for (const auto& f : files_) list.push_back(InputDeviceInfo{f.name, f.present, f.present && f.channels == 2});
    return list;
}

std::unique_ptr<SoundInput> FileLineSystem::open(int deviceId, const WaveFormat& format, std::error_code& error) {
    std::unique_lock lock(mutex_);
    if (deviceId < 0 || std::size_t(deviceId) >= files_.size()) {
        error = std::make_error_code(std::errc::no_such_device);
        return nullptr;
    }
    const LineFile f = files_[std::size_t(deviceId)];
    lock.unlock();
    if (!f.present) {
        error = std::make_error_code(std::errc::no_such_file_or_directory);
        return nullptr;
    }
    const bool formatOk = format.formatTag == kWaveFormatPcm && format.samplesPerSec == std::uint32_t(kLineRate) &&
        (format.bitsPerSample == 8 || format.bitsPerSample == 16) && format.channels >= 1 &&
        format.channels <= f.channels && format.blockAlign == format.bitsPerSample / 8 * format.channels;
    if (!formatOk) {
        error = std::make_error_code(std::errc::invalid_argument);
        return nullptr;
    }
    const int fd = ::open(f.path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = std::error_code(errno, std::generic_category());
        return nullptr;
    }
    error.clear();
    return std::make_unique<FileLineInput>(hub_, f, fd, format.channels, format.bitsPerSample);
}

FakeClock* FileLineSystem::clock() noexcept { return hub_->clock.get(); }

bool FileLineSystem::allLinesEnded() const noexcept { return hub_->allEnded.isSet(); }

const Event& FileLineSystem::allLinesEndedEvent() const noexcept { return hub_->allEnded; }

}  // namespace kestavo::platform
