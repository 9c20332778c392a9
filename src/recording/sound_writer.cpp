#include "recording/sound_writer.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <climits>

namespace kestavo::recording {

namespace {

// Longest cleaned event text, in bytes: the channel cuts texts to 20 characters, and even 64
// bytes after a full-length base name stay under the 255-byte limit of a file name.
constexpr std::size_t kMaxEventTextBytes = 64;
// Candidates tried for a free name before giving up (base, base_2 … base_9999).
constexpr int kMaxNameTries = 9999;

std::string Candidate(const std::string& base, std::string_view ext, int n) {
    std::string path = base;
    if (n > 1) path += "_" + std::to_string(n);
    path += ext;
    return path;
}

std::size_t PcmCapacity(const WriterParams& p, int seconds) {
    const long long bytes = (long long)std::max(seconds, 0) * p.sampleRate * p.captureBits / 8;
    return std::size_t(std::max<long long>(bytes, std::max(p.minPreRecordBytes, 0)));
}

std::size_t EncodedCapacity(int bitrateKbps, int seconds) {
    return std::size_t((long long)std::max(bitrateKbps, 0) * 1000 * std::max(seconds, 0) / 8);
}

}  // namespace

Tsound_writer::Tsound_writer(const WriterParams& params)
    : params_(params),
      delayLine_(params.format == FileFormat::Wav ? PcmCapacity(params, params.predSeconds)
                                                  : EncodedCapacity(params.mp3Bitrate, params.predSeconds)),
      predSeconds_(params.predSeconds) {}

Tsound_writer::~Tsound_writer() {
    // A derived writer closes its file in its own destructor; this only guards the descriptor.
    if (fd_ >= 0) (void)ops_.close(fd_);  // destructors finalise quietly
}

void Tsound_writer::Write(std::span<const std::byte> block) {
    if (open_)
        FileWrite(block);
    else
        delayLine_.Put(block);
}

void Tsound_writer::SetPredTime(int seconds) {
    predSeconds_ = std::max(seconds, 0);
    delayLine_.resize(PcmCapacity(params_, predSeconds_));
}

std::error_code Tsound_writer::DeleteFile() {
    if (fileName_.empty()) return std::make_error_code(std::errc::no_such_file_or_directory);
    if (ops_.unlink(fileName_.c_str()) != 0) return {errno, std::generic_category()};
    return {};
}

double Tsound_writer::PreRecordSeconds() const noexcept {
    // A WAV writer's pre-record holds the blocks as captured; an MP3 writer's the encoded frames.
    const double rate =
        params_.format == FileFormat::Wav ? double(params_.sampleRate) * (params_.captureBits / 8) : BytesPerSecond();
    return rate > 0 ? double(delayLine_.filled()) / rate : 0.0;
}

std::size_t Tsound_writer::MemoryBytes() const noexcept { return delayLine_.capacity() + backlog_.capacity(); }

double Tsound_writer::LostSeconds() const noexcept {
    const double rate = BytesPerSecond();
    return rate > 0 ? double(lostBytes_) / rate : 0.0;
}

std::error_code Tsound_writer::BeginFile(const std::string& basePath, std::string_view ext) {
    basePath_ = basePath;
    ext_ = ext;
    fileName_ = Candidate(basePath, ext, 1);  // the name it will have, for reports while it waits
    fileEnd_ = 0;
    backlog_.clear();
    lostBytes_ = 0;
    fault_ = 0;
    madeFile_ = false;
    open_ = true;
    const std::error_code ec = tryCreate();
    if (ec) noteFault(ec.value());
    return ec;
}

std::error_code Tsound_writer::tryCreate() {
    if (const std::error_code ec = CreateFile(basePath_, ext_)) return ec;
    const std::span<const std::byte> head = FileHead();
    if (WriteAt(0, head) != head.size()) {
        const int err = errno != 0 ? errno : EIO;
        openError_ = "Ошибка создания файла " + fileName_ + "!";
        (void)ops_.close(fd_);
        fd_ = -1;
        (void)ops_.unlink(fileName_.c_str());  // a file without its head is of no use
        return {err, std::generic_category()};
    }
    fileEnd_ = head.size();
    madeFile_ = true;
    return {};
}

void Tsound_writer::Append(std::span<const std::byte> bytes) {
    if (!open_) return;
    if (fd_ < 0) {
        if (const std::error_code ec = tryCreate()) {
            noteFault(ec.value());
            keep(bytes);
            return;
        }
    } else {
        keepFileInPlace();
    }
    if (drainBacklog()) {
        const std::size_t written = WriteAt(fileEnd_, bytes);
        fileEnd_ += written;
        if (written < bytes.size()) {
            noteFault(errno);
            keep(bytes.subspan(written));
        } else {
            fault_ = 0;
        }
    } else {
        keep(bytes);
    }
    AfterFileGrew();
}

bool Tsound_writer::drainBacklog() {
    if (backlog_.empty()) return true;
    const std::size_t written = WriteAt(fileEnd_, backlog_);
    fileEnd_ += written;
    backlog_.erase(backlog_.begin(), backlog_.begin() + std::ptrdiff_t(written));
    if (!backlog_.empty()) {
        noteFault(errno);
        return false;
    }
    std::vector<std::byte>().swap(backlog_);  // the room is given back once the disk has caught up
    fault_ = 0;
    return true;
}

void Tsound_writer::keep(std::span<const std::byte> bytes) {
    const double limit = BytesPerSecond() * (kRetrySeconds + std::max(predSeconds_, 0));
    const std::size_t room = backlog_.size() < limit ? std::size_t(limit) - backlog_.size() : 0;
    const std::size_t kept = std::min(room, bytes.size());
    backlog_.insert(backlog_.end(), bytes.begin(), bytes.begin() + std::ptrdiff_t(kept));
    lostBytes_ += bytes.size() - kept;
}

void Tsound_writer::keepFileInPlace() {
    struct stat st {};
    if (ops_.fstat(fd_, &st) != 0 || st.st_nlink > 0) return;
    // The name is gone (its folder was deleted): make the file again and copy what it holds.
    const int old = fd_;
    const std::string oldName = fileName_;
    fd_ = -1;
    if (const std::error_code ec = CreateFile(basePath_, ext_)) {
        fd_ = old;
        fileName_ = oldName;
        noteFault(ec.value());
        return;
    }
    std::vector<std::byte> buffer(65536);
    std::uint64_t copied = 0;
    while (copied < fileEnd_) {
        const std::size_t n = std::size_t(std::min<std::uint64_t>(buffer.size(), fileEnd_ - copied));
        const ssize_t got = ops_.pread(old, buffer.data(), n, off_t(copied));
        if (got <= 0 || WriteAt(copied, std::span(buffer.data(), std::size_t(got))) != std::size_t(got)) break;
        copied += std::uint64_t(got);
    }
    if (copied < fileEnd_) {
        // Not this time: the sound stays in the old file, which lives on while it is open.
        noteFault(errno);
        (void)ops_.close(fd_);
        (void)ops_.unlink(fileName_.c_str());
        fd_ = old;
        fileName_ = oldName;
        return;
    }
    (void)ops_.close(old);
    ++filesRemade_;
}

std::string Tsound_writer::EndFile(std::string_view eventText) {
    if (!open_) return fileName_;
    if (fd_ < 0) (void)tryCreate();  // a last try
    if (fd_ >= 0) {
        keepFileInPlace();
        (void)drainBacklog();
        AfterFileGrew();
    }
    lostBytes_ += backlog_.size();
    std::vector<std::byte>().swap(backlog_);
    if (fd_ < 0) {
        open_ = false;
        return {};
    }
    return CloseAndRename(eventText, ext_);
}

void Tsound_writer::makeParentFolders(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0) return;
    for (std::size_t at = path.find('/', 1); at != std::string::npos && at <= slash; at = path.find('/', at + 1))
        (void)ops_.mkdir(path.substr(0, at).c_str(), 0755);  // an existing folder answers EEXIST
}

std::error_code Tsound_writer::CreateFile(const std::string& basePath, std::string_view ext) {
    // O_EXCL claims the name atomically: no recording ever replaces another. Read access too, so a
    // file whose name is removed while it is written can be copied to a new one.
    const auto claim = [&](const std::string& path) {
        return ops_.open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    };
    std::string path;
    int err = 0;
    for (int n = 1; n <= kMaxNameTries; ++n) {
        path = Candidate(basePath, ext, n);
        int fd = claim(path);
        if (fd < 0 && errno == ENOENT && n == 1) {
            makeParentFolders(path);  // the folder is gone (deleted while the recorder ran)
            fd = claim(path);
        }
        if (fd >= 0) {
            fd_ = fd;
            fileName_ = path;
            openError_.clear();
            return {};
        }
        err = errno;
        if (err != EEXIST) break;
    }
    openError_ = "Ошибка создания файла " + path + "!";
    return {err != 0 ? err : EEXIST, std::generic_category()};
}

std::size_t Tsound_writer::WriteAt(std::uint64_t offset, std::span<const std::byte> bytes) noexcept {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ops_.pwrite(fd_, bytes.data() + done, bytes.size() - done, off_t(offset + done));
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;  // a write that takes nothing is a full disk
            break;
        }
        done += std::size_t(n);
    }
    return done;
}

std::string Tsound_writer::CloseAndRename(std::string_view eventText, std::string_view ext) {
    std::string finalPath = fileName_;
    if (fd_ >= 0) (void)ops_.close(fd_);  // the data is written; a late close error changes nothing
    fd_ = -1;
    open_ = false;

    const std::string text = CleanEventText(eventText);
    if (text.empty()) return finalPath;
    const std::size_t slash = fileName_.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = fileName_.find('.', nameStart);
    const std::string base = fileName_.substr(0, dot == std::string::npos ? fileName_.size() : dot) + "(" + text + ")";
    for (int n = 1; n <= kMaxNameTries; ++n) {
        const std::string target = Candidate(base, ext, n);
        if (ops_.renameNoReplace(fileName_.c_str(), target.c_str()) == 0) {
            fileName_ = target;  // so that DeleteFile finds a too-short recording under its new name
            return target;
        }
        if (errno != EEXIST) break;  // the file keeps its first name
    }
    return finalPath;
}

std::string CleanEventText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) continue;
        switch (c) {
            case '/':
            case '\\':
            case '<':
            case '>':
            case ':':
            case '"':
            case '|':
            case '?':
            case '*': continue;
            default: out.push_back(c);
        }
    }
    const auto first = out.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    out = out.substr(first, out.find_last_not_of(' ') - first + 1);
    if (out.size() > kMaxEventTextBytes) {
        std::size_t cut = kMaxEventTextBytes;
        // Never cut inside a UTF-8 sequence: back up over continuation bytes.
        while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
        out.resize(cut);
    }
    return out;
}

}  // namespace kestavo::recording
