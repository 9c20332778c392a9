#include "platform/clock.h"

#include <charconv>
#include <ctime>

namespace kestavo::platform {

using namespace std::chrono;

std::int64_t toLocalMs(const LocalTime& t) noexcept {
    const sys_days day = year_month_day{year{t.year}, month{unsigned(t.month)}, std::chrono::day{unsigned(t.day)}};
    return day.time_since_epoch().count() * 86'400'000LL + ((t.hour * 60LL + t.minute) * 60 + t.second) * 1000 +
        t.millisecond;
}

LocalTime fromLocalMs(std::int64_t ms) noexcept {
    std::int64_t days = ms / 86'400'000LL;
    std::int64_t rest = ms % 86'400'000LL;
    if (rest < 0) {
        rest += 86'400'000LL;
        --days;
    }
    const year_month_day ymd{sys_days{std::chrono::days{days}}};
    LocalTime t;
    t.year = int(ymd.year());
    t.month = int(unsigned(ymd.month()));
    t.day = int(unsigned(ymd.day()));
    t.hour = int(rest / 3'600'000);
    t.minute = int(rest / 60'000 % 60);
    t.second = int(rest / 1000 % 60);
    t.millisecond = int(rest % 1000);
    return t;
}

std::optional<LocalTime> parseIsoLocal(std::string_view s) noexcept {
    // YYYY-MM-DDTHH:MM:SS
    if (s.size() != 19 || s[4] != '-' || s[7] != '-' || (s[10] != 'T' && s[10] != ' ') || s[13] != ':' || s[16] != ':')
        return std::nullopt;
    auto num = [&](std::size_t at, std::size_t len, int& out) {
        for (std::size_t i = at; i < at + len; ++i)
            if (s[i] < '0' || s[i] > '9') return false;  // digits only: no sign
        auto r = std::from_chars(s.data() + at, s.data() + at + len, out);
        return r.ec == std::errc{} && r.ptr == s.data() + at + len;
    };
    LocalTime t;
    if (!num(0, 4, t.year) || !num(5, 2, t.month) || !num(8, 2, t.day) || !num(11, 2, t.hour) ||
        !num(14, 2, t.minute) || !num(17, 2, t.second))
        return std::nullopt;
    if (t.month < 1 || t.month > 12 || t.day < 1 || t.hour > 23 || t.minute > 59 || t.second > 59) return std::nullopt;
    if (!year_month_day{year{t.year}, month{unsigned(t.month)}, day{unsigned(t.day)}}.ok()) return std::nullopt;
    return t;
}

std::uint32_t SystemClock::tickMs() const noexcept {
    return std::uint32_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

LocalTime SystemClock::now() const noexcept {
    const auto n = system_clock::now();
    const std::time_t secs = system_clock::to_time_t(n);
    std::tm tm{};
    localtime_r(&secs, &tm);
    LocalTime t;
    t.year = tm.tm_year + 1900;
    t.month = tm.tm_mon + 1;
    t.day = tm.tm_mday;
    t.hour = tm.tm_hour;
    t.minute = tm.tm_min;
    t.second = tm.tm_sec;
    t.millisecond = int(duration_cast<milliseconds>(n.time_since_epoch()).count() % 1000);
    return t;
}

}  // namespace kestavo::platform
