#pragma once
// CpuLoad: the processors' load, sampled from the kernel's counters in /proc/stat.
//
// /proc/stat begins with the machine's line "cpu", then one line per processor ("cpu0", "cpu1",
// ...). Each counts, in clock ticks since boot, the time spent in user, nice, system, idle,
// iowait, irq, softirq and steal; the guest fields after them are already inside user and nice,
// so they are not added again. The load over an interval is the share of the time not spent idle
// or waiting for I/O between two readings:
//     load = 1 - (change of idle + iowait) / (change of the eight fields together)
// The first reading is compared with boot (every counter zero), so it gives the average since
// boot. A processor taken offline has no line; the first line listed counts as the first
// processor.
//
// ParseProcStat and LoadBetween are pure (tests feed them text); CpuLoad reads the file through
// a reader a test can replace. Threads: a CpuLoad belongs to one thread (the main thread's timer).
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestavo::platform {

// One line's counters, in clock ticks since boot.
struct CpuTimes {
    std::uint64_t idle = 0;   // idle + iowait
    std::uint64_t total = 0;  // user + nice + system + idle + iowait + irq + softirq + steal
    friend bool operator==(const CpuTimes&, const CpuTimes&) = default;
};

struct CpuStat {
    CpuTimes machine;                  // the "cpu" line: every processor together
    std::vector<CpuTimes> processors;  // "cpu0", "cpu1", ... in the file's order
};

// The counters of a /proc/stat text; nullopt when it has no "cpu" line. A processor line with
// fewer than the four fields up to idle is left out.
[[nodiscard]] std::optional<CpuStat> ParseProcStat(std::string_view text);

// The share of the time between two readings spent working, 0..1; 0 when no time passed or the
// counters went back (a reading taken across a restart of the counters).
[[nodiscard]] double LoadBetween(const CpuTimes& earlier, const CpuTimes& later) noexcept;

struct CpuLoadReading {
    int processors = 0;           // processor lines reported; 0: no load is known
    double machine = 0.0;         // every processor together, 0..1
    double firstProcessor = 0.0;  // the first processor listed, 0..1
};

class CpuLoad {
public:
    // The text of /proc/stat, or nullopt when it cannot be read.
    using StatReader = std::function<std::optional<std::string>()>;

    explicit CpuLoad(StatReader read = {});  // null: the real /proc/stat

    // The load since the previous Sample (since boot at the first). processors is 0 when the
    // file cannot be read or lists no processor; the previous reading is then kept.
    [[nodiscard]] CpuLoadReading Sample();
    // Forgets the previous reading: the next Sample compares with boot again.
    void Reset() noexcept { last_.reset(); }

private:
    StatReader read_;
    std::optional<CpuStat> last_;  // the previous reading
};

// The text of /proc/stat; nullopt when it cannot be read.
[[nodiscard]] std::optional<std::string> ReadProcStat();

}  // namespace kestavo::platform
