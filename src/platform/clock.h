#pragma once
// Clock, SystemClock, FakeClock: where every component reads the time, and a clock a test can move.
//
// The program's clock: a 32-bit millisecond tick count (wraps after about 49.7 days, like the
// system's tick) and the local wall time. Every component reads time through a Clock so that
// tests and fast-paced file-backed lines can feed time instead of sleeping. Thread-safe.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace kestavo::platform {

// A broken-down local time. Fields as on a calendar: month 1..12, day 1..31.
struct LocalTime {
    int year = 2000, month = 1, day = 1, hour = 0, minute = 0, second = 0, millisecond = 0;
    friend bool operator==(const LocalTime&, const LocalTime&) = default;
};

// Local time as milliseconds on a plain (zone-free) time line, and back; used for arithmetic.
[[nodiscard]] std::int64_t toLocalMs(const LocalTime& t) noexcept;
[[nodiscard]] LocalTime fromLocalMs(std::int64_t ms) noexcept;
// "YYYY-MM-DDTHH:MM:SS"; nullopt when the text is not such a time.
[[nodiscard]] std::optional<LocalTime> parseIsoLocal(std::string_view text) noexcept;

class Clock {
public:
    virtual ~Clock() = default;
    [[nodiscard]] virtual std::uint32_t tickMs() const noexcept = 0;
    [[nodiscard]] virtual LocalTime now() const noexcept = 0;
};

// The operating system's monotonic tick and local time zone.
class SystemClock final : public Clock {
public:
    [[nodiscard]] std::uint32_t tickMs() const noexcept override;
    [[nodiscard]] LocalTime now() const noexcept override;
};

// A clock that moves only when told to; tick and local time advance together.
class FakeClock final : public Clock {
public:
    explicit FakeClock(LocalTime start = LocalTime{2026, 12, 5, 16, 5, 9, 0}, std::uint32_t startTick = 1000)
        : startLocalMs_(toLocalMs(start)), startTick_(startTick) {}
    [[nodiscard]] std::uint32_t tickMs() const noexcept override {
        return startTick_ + std::uint32_t(elapsedMs_.load(std::memory_order_acquire));
    }
    [[nodiscard]] LocalTime now() const noexcept override {
        return fromLocalMs(startLocalMs_ + elapsedMs_.load(std::memory_order_acquire));
    }
    void advance(std::chrono::milliseconds d) noexcept { elapsedMs_.fetch_add(d.count(), std::memory_order_acq_rel); }
    // Moves the clock to `ms` after its start; never backwards.
    void advanceTo(std::chrono::milliseconds sinceStart) noexcept {
        std::int64_t cur = elapsedMs_.load(std::memory_order_acquire);
        while (cur < sinceStart.count() && !elapsedMs_.compare_exchange_weak(cur, sinceStart.count())) {}
    }
    [[nodiscard]] std::chrono::milliseconds elapsed() const noexcept {
        return std::chrono::milliseconds(elapsedMs_.load(std::memory_order_acquire));
    }

private:
    std::int64_t startLocalMs_;
    std::uint32_t startTick_;
    std::atomic<std::int64_t> elapsedMs_{0};
};

}  // namespace kestavo::platform
