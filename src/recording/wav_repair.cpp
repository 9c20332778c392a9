#include "recording/wav_repair.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

namespace kestavo::recording {

namespace {

constexpr std::uint64_t kHeaderBytes = 44;
constexpr std::uint32_t kRiffOverhead = 36;        // header bytes after the RIFF size field, besides the data
constexpr std::uint32_t kNeverCompletedRiff = 34;  // what an unfinished file says at offset 4
constexpr std::uint64_t kMaxDataBytes = 0xFFFFFFFFull - kRiffOverhead;

std::uint32_t Get32(const unsigned char* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}
std::uint16_t Get16(const unsigned char* p) { return std::uint16_t(p[0] | p[1] << 8); }
void Put32(unsigned char* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

bool IsWavName(const std::filesystem::path& p) {
    std::string ext = p.extension().string();
    std::ranges::transform(ext, ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return ext == ".wav";
}

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    [[nodiscard]] int get() const { return fd_; }

private:
    int fd_;
};

}  // namespace

bool RepairWavFile(const std::filesystem::path& path) {
    Fd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW));
    if (fd.get() < 0) return false;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || std::uint64_t(st.st_size) < kHeaderBytes) return false;
    unsigned char h[kHeaderBytes];
    if (::pread(fd.get(), h, sizeof h, 0) != ssize_t(sizeof h)) return false;
    if (std::memcmp(h, "RIFF", 4) != 0 || std::memcmp(h + 8, "WAVE", 4) != 0 || std::memcmp(h + 12, "fmt ", 4) != 0 ||
        Get32(h + 16) != 16 || Get16(h + 20) != 1 || std::memcmp(h + 36, "data", 4) != 0)
        return false;
    const unsigned channels = Get16(h + 22);
    const unsigned bits = Get16(h + 34);
    const unsigned frameBytes = Get16(h + 32);
    if (channels == 0 || bits == 0 || bits % 8 != 0 || frameBytes != channels * bits / 8) return false;

    const std::uint32_t riffField = Get32(h + 4);
    const std::uint32_t dataField = Get32(h + 40);
    const bool neverCompleted = riffField == kNeverCompletedRiff && dataField == 0;
    const bool consistentPair = std::uint64_t(riffField) == std::uint64_t(dataField) + kRiffOverhead;
    if (!neverCompleted && !consistentPair) return false;  // another layout: extra chunks, not ours

    std::uint64_t data = std::min<std::uint64_t>(std::uint64_t(st.st_size) - kHeaderBytes, kMaxDataBytes);
    data -= data % frameBytes;
    if (!neverCompleted && data == dataField) return false;  // already right

    unsigned char field[4];
    Put32(field, std::uint32_t(data) + kRiffOverhead);
    if (::pwrite(fd.get(), field, 4, 4) != 4) return false;
    Put32(field, std::uint32_t(data));
    if (::pwrite(fd.get(), field, 4, 40) != 4) return false;
    return true;
}

std::vector<std::filesystem::path> RepairWavFiles(const std::vector<std::filesystem::path>& folders,
                                                  const RecordingNameFilter& isRecording) {
    namespace fs = std::filesystem;
    // Each folder with its real path, so that the same folder named twice (or a channel folder
    // inside another one) is scanned once; the scan itself goes through the path as given.
    std::vector<std::pair<fs::path, fs::path>> roots;  // real path, path as given
    for (const fs::path& folder : folders) {
        std::error_code ec;
        const fs::path real = fs::weakly_canonical(folder, ec);
        roots.emplace_back(ec ? folder.lexically_normal() : real, folder);
    }
    std::ranges::sort(roots);
    const auto inside = [](const fs::path& child, const fs::path& parent) {
        const auto [end, _] = std::mismatch(parent.begin(), parent.end(), child.begin(), child.end());
        return end == parent.end();
    };
    std::vector<fs::path> repaired;
    for (std::size_t i = 0; i < roots.size(); ++i) {
        if (std::any_of(roots.begin(), roots.begin() + std::ptrdiff_t(i),
                        [&](const auto& earlier) { return inside(roots[i].first, earlier.first); }))
            continue;  // scanned with the folder it lies in (or the same folder named again)
        std::error_code ec;
        fs::recursive_directory_iterator it(roots[i].second, fs::directory_options::skip_permission_denied, ec);
        // Unreadable entries end nothing but themselves: increment with an error code and go on.
        for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            std::error_code typeError;
            if (!it->is_regular_file(typeError) || !IsWavName(it->path())) continue;
            if (!isRecording || !isRecording(it->path())) continue;
            if (RepairWavFile(it->path())) repaired.push_back(it->path());
        }
    }
    return repaired;
}

}  // namespace kestavo::recording
