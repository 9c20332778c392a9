#include "config/text_file.h"

#include <fcntl.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <fstream>
#include <string>

namespace kestavo::config {

namespace {

std::error_code lastError() { return {errno, std::generic_category()}; }

// A name for the temporary file that no other writer in this or another process uses.
std::filesystem::path temporaryBeside(const std::filesystem::path& file) {
    static std::atomic<unsigned> counter{0};
    std::filesystem::path tmp = file;
    tmp += ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter.fetch_add(1));
    return tmp;
}

// The file a write must replace: a symbolic link is followed so that the link stays a link.
std::filesystem::path writeTarget(const std::filesystem::path& file) {
    std::error_code ec;
    if (std::filesystem::is_symlink(file, ec)) {
        auto target = std::filesystem::weakly_canonical(file, ec);
        if (!ec) return target;
    }
    return file;
}

// fsync of a file or folder (a folder entry reaches the disk only through its folder).
std::error_code syncPath(const std::filesystem::path& p) {
    const int fd = ::open(p.empty() ? "." : p.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return lastError();
    std::error_code ec;
    if (::fsync(fd) != 0 && errno != EINVAL) ec = lastError();  // EINVAL: cannot be synced, nothing to wait for
    ::close(fd);
    return ec;
}

}  // namespace

FileText readWholeFile(const std::filesystem::path& file) {
    FileText out;
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            out.missing = true;
        else
            out.error = lastError();
        return out;
    }
    char buf[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buf, sizeof buf);
        if (got > 0) {
            out.bytes.append(buf, std::size_t(got));
            continue;
        }
        if (got == 0) break;
        if (errno == EINTR) continue;
        out.error = lastError();
        out.bytes.clear();
        break;
    }
    ::close(fd);
    return out;
}

std::error_code writeFileAtomically(const std::filesystem::path& file, std::string_view bytes, Durability durability) {
    const auto target = writeTarget(file);
    const auto tmp = temporaryBeside(target);
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno == ENOENT) {  // first write into a folder that does not exist yet
        std::error_code made;
        std::filesystem::create_directories(target.parent_path(), made);
        if (!made)
            fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        else
            errno = made.value();
    }
    if (fd < 0) return lastError();
    std::error_code ec;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (put < 0) {
            if (errno == EINTR) continue;
            ec = lastError();
            break;
        }
        done += std::size_t(put);
    }
    // The data reaches the disk before the rename makes it the file, so a power loss leaves the
    // old or the new file, never an empty one.
    if (!ec && durability == Durability::Flushed && ::fdatasync(fd) != 0) ec = lastError();
    if (::close(fd) != 0 && !ec) ec = lastError();
    if (!ec && ::rename(tmp.c_str(), target.c_str()) != 0) ec = lastError();
    if (ec) ::unlink(tmp.c_str());
    if (!ec && durability == Durability::Flushed) ec = syncPath(target.parent_path());
    return ec;
}

std::error_code flushFile(const std::filesystem::path& file) {
    if (auto ec = syncPath(file)) return ec;
    return syncPath(file.parent_path());
}

std::error_code copyFileAtomically(const std::filesystem::path& from, const std::filesystem::path& to) {
    const FileText text = readWholeFile(from);
    if (text.missing) return std::make_error_code(std::errc::no_such_file_or_directory);
    if (text.error) return text.error;
    return writeFileAtomically(to, text.bytes);
}

std::vector<std::string_view> splitLines(std::string_view text) {
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\n' && c != '\r') continue;
        lines.push_back(text.substr(start, i - start));
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

std::string_view trimBlanks(std::string_view text) noexcept {
    const auto b = text.find_first_not_of(" \t");
    if (b == std::string_view::npos) return {};
    return text.substr(b, text.find_last_not_of(" \t") - b + 1);
}

std::optional<int> parseInteger(std::string_view text) noexcept {
    text = trimBlanks(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty() || text.front() == '-' || text.front() == '+') return std::nullopt;
    long long magnitude = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    const long long value = negative ? -magnitude : magnitude;
    if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
    return int(value);
}

}  // namespace kestavo::config
