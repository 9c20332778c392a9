#include "platform/cpu_load.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <iterator>

namespace kestavo::platform {

namespace {

constexpr std::size_t kIdleField = 3;      // user, nice, system, idle
constexpr std::size_t kIowaitField = 4;    // counted as idle: the processor waits, it does not work
constexpr std::size_t kCountedFields = 8;  // up to steal; guest time is inside user and nice

// The numbers after a line's name, at most kCountedFields of them.
std::vector<std::uint64_t> fields(std::string_view rest) {
    std::vector<std::uint64_t> out;
    const char* p = rest.data();
    const char* end = rest.data() + rest.size();
    while (out.size() < kCountedFields) {
        while (p < end && *p == ' ') ++p;
        std::uint64_t v = 0;
        const auto [next, ec] = std::from_chars(p, end, v);
        if (ec != std::errc()) break;
        out.push_back(v);
        p = next;
    }
    return out;
}

}  // namespace

std::optional<CpuStat> ParseProcStat(std::string_view text) {
    CpuStat stat;
    bool machine = false;
    while (!text.empty()) {
        const std::size_t eol = text.find('\n');
        const std::string_view line = text.substr(0, eol);
        text = eol == std::string_view::npos ? std::string_view() : text.substr(eol + 1);
        if (!line.starts_with("cpu")) continue;
        const std::size_t blank = line.find(' ');
        if (blank == std::string_view::npos) continue;
        const std::string_view name = line.substr(3, blank - 3);
        if (!std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; })) continue;
        const auto f = fields(line.substr(blank));
        if (f.size() <= kIdleField) continue;
        CpuTimes t;
        t.idle = f[kIdleField] + (f.size() > kIowaitField ? f[kIowaitField] : 0);
        for (std::uint64_t v : f) t.total += v;
        if (name.empty()) {
            stat.machine = t;
            machine = true;
        } else {
            stat.processors.push_back(t);
        }
    }
    if (!machine) return std::nullopt;
    return stat;
}

double LoadBetween(const CpuTimes& earlier, const CpuTimes& later) noexcept {
    if (later.total <= earlier.total) return 0.0;
    const double total = double(later.total - earlier.total);
    // The kernel's per-processor iowait may step back a little: the share is kept within 0..1.
    const double idle = double(later.idle) - double(earlier.idle);
    return std::clamp(1.0 - idle / total, 0.0, 1.0);
}

CpuLoad::CpuLoad(StatReader read) : read_(read ? std::move(read) : StatReader(ReadProcStat)) {}

CpuLoadReading CpuLoad::Sample() {
    CpuLoadReading reading;
    const auto text = read_();
    if (!text) return reading;
    auto now = ParseProcStat(*text);
    if (!now || now->processors.empty()) return reading;
    const CpuStat before = last_.value_or(CpuStat{});
    reading.processors = int(now->processors.size());
    reading.machine = LoadBetween(before.machine, now->machine);
    reading.firstProcessor =
        LoadBetween(before.processors.empty() ? CpuTimes{} : before.processors.front(), now->processors.front());
    last_ = std::move(now);
    return reading;
}

std::optional<std::string> ReadProcStat() {
    std::ifstream in("/proc/stat", std::ios::binary);
    if (!in) return std::nullopt;
    std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) return std::nullopt;
    return text;
}

}  // namespace kestavo::platform
