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

std::size_t Tsound_writer::MemoryBytes() const noexcept { return delayLine_.capacity(); }

std::error_code Tsound_writer::CreateFile(const std::string& basePath, std::string_view ext) {
    std::string path;
    int err = 0;
    for (int n = 1; n <= kMaxNameTries; ++n) {
        path = Candidate(basePath, ext, n);
        // O_EXCL claims the name atomically: no recording ever replaces another.
        const int fd = ops_.open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
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
        if (n <= 0) break;  // full disk or a failing device: keep what is written, drop the rest
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
