#pragma once
// Tperiods: one channel's daily recording schedule and its file time<n>.tim.
//
// A schedule is a list of periods, each a start and a stop time of day (fraction of a day, 0.5 =
// 12:00:00), kept in insertion order and never sorted. A channel in time mode records while the
// time of day lies inside a period. CheckTime answers 1 ("record") or -1 ("stop"):
//   - the periods are scanned in list order; a period contains t when start <= t <= stop;
//   - the first containing period whose index differs from the remembered one becomes the
//     remembered one and the answer is -1 at once (so a recording crossing from one period into the
//     next is stopped once and restarted as a new file on the following check);
//   - a containing period equal to the remembered one makes the answer 1, and the scan goes on;
//   - the remembered index is never reset, so re-entering the same period the next day answers 1.
// Two overlapping periods that both contain t flip the remembered index on every check and so
// always answer -1; a period whose start is after its stop contains nothing.
//
// CutIntoPeriods fills the day with back-to-back periods of a fixed length; a length that does not
// divide the day leaves a last period whose stop is past midnight (above 1.0), which matches until
// midnight only.
//
// File: one period per line, "start<TAB>stop<TAB>text", CR LF line ends, times as H:mm:ss (a stop
// past midnight as 24:02:00, so it reads back unchanged); readers also accept H:mm. A line whose
// times cannot be read is skipped; the rest are kept. Owned by one channel; used on the main
// thread only.
#include "platform/clock.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

namespace kestavo::config {

struct SchedulePeriod {
    double start = 0.0;  // time of day, fraction of a day
    double stop = 0.0;   // time of day; above 1.0 only for the last period of a cut
    std::string text;    // free text; the system stores an empty one
    friend bool operator==(const SchedulePeriod&, const SchedulePeriod&) = default;
};

// H:mm:ss of a time of day rounded to the second; hours go on past 23 for values of 1.0 and above.
[[nodiscard]] std::string FormatTimeOfDay(double dayFraction);
// "H:mm:ss" or "H:mm" (one or two digits each, blanks around allowed; hours 0..47, minutes and
// seconds 0..59) as a fraction of a day; nullopt when unreadable.
[[nodiscard]] std::optional<double> ParseTimeOfDay(std::string_view text) noexcept;
// The time of day of a local time, as a fraction of a day.
[[nodiscard]] double TimeOfDay(const platform::LocalTime& t) noexcept;

class Tperiods {
public:
    // Channel n's schedule in <programFolder>/time<n>.tim, loaded at once (see loadError()).
    Tperiods(int channelNumber, const std::filesystem::path& programFolder);

    // Clears the list and reads the file; a missing file gives an empty schedule and no error.
    [[nodiscard]] std::error_code Load();
    // Rewrites the whole file from the list.
    [[nodiscard]] std::error_code Save() const;

    // Appends a period; saves when `save` is set.
    [[nodiscard]] std::error_code AddPeriod(std::string text, bool save, double start, double stop);
    // Removes the first period whose start and stop each lie within 0.00001 day (under a second)
    // of the given times of day (whole days ignored on both sides, so "24:00:00" finds a stop of
    // 1.0 and "0:02:00" a stop of 1442/1440); then saves, also when nothing matched.
    [[nodiscard]] std::error_code DeletePeriod(double start, double stop);
    // Replaces the schedule by back-to-back periods of `minutes` and saves; 0 or less does nothing.
    [[nodiscard]] std::error_code CutIntoPeriods(int minutes);

    // 1 when `now` (a date-time or a time of day; the date part is dropped) lies in the remembered
    // period, -1 otherwise; see the header comment. Updates the remembered index.
    [[nodiscard]] int CheckTime(double now);
    [[nodiscard]] int CheckTime(const platform::LocalTime& now) { return CheckTime(TimeOfDay(now)); }

    void Clear() { periods_.clear(); }

    // What the schedule list shows: one row per period, start and stop as H:mm:ss.
    [[nodiscard]] std::vector<std::pair<std::string, std::string>> FillList() const;

    [[nodiscard]] const std::vector<SchedulePeriod>& periods() const noexcept { return periods_; }
    [[nodiscard]] int currentIndex() const noexcept { return current_; }
    [[nodiscard]] const std::filesystem::path& fileName() const noexcept { return file_; }
    // The error of the load done by the constructor, if any.
    [[nodiscard]] std::error_code loadError() const noexcept { return loadError_; }

private:
    int current_ = -1;                     // remembered period index, -1 before the first match
    std::vector<SchedulePeriod> periods_;  // in insertion order
    std::filesystem::path file_;           // <program folder>/time<n>.tim
    std::error_code loadError_;
};

}  // namespace kestavo::config
