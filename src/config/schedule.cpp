#include "config/schedule.h"

#include "config/text_file.h"

#include <charconv>
#include <cmath>

namespace kestavo::config {

namespace {

constexpr double kSecondsPerDay = 86400.0;
constexpr double kDeleteTolerance = 0.00001;  // day, a little under one second

// One or two decimal digits, the whole text.
std::optional<int> twoDigits(std::string_view t) noexcept {
    if (t.empty() || t.size() > 2) return std::nullopt;
    int v = 0;
    for (char c : t) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
    }
    return v;
}

// Distance between two times of day on the 24-hour circle, in days.
double circularDistance(double a, double b) noexcept {
    double d = std::fmod(std::fabs(a - b), 1.0);
    return std::min(d, 1.0 - d);
}

std::string oneLine(std::string text) {
    for (char& c : text)
        if (c == '\r' || c == '\n') c = ' ';
    return text;
}

}  // namespace

std::string FormatTimeOfDay(double dayFraction) {
    if (!std::isfinite(dayFraction) || dayFraction < 0.0) dayFraction = 0.0;
    const long long total = std::llrint(std::min(dayFraction, 1000.0) * kSecondsPerDay);  // halves to even
    const long long h = total / 3600, m = total / 60 % 60, s = total % 60;
    std::string out = std::to_string(h) + ":";
    if (m < 10) out += '0';
    out += std::to_string(m) + ":";
    if (s < 10) out += '0';
    out += std::to_string(s);
    return out;
}

std::optional<double> ParseTimeOfDay(std::string_view text) noexcept {
    text = trimBlanks(text);
    const auto c1 = text.find(':');
    if (c1 == std::string_view::npos) return std::nullopt;
    const auto c2 = text.find(':', c1 + 1);
    const auto h = twoDigits(text.substr(0, c1));
    const auto m = twoDigits(text.substr(c1 + 1, c2 == std::string_view::npos ? std::string_view::npos : c2 - c1 - 1));
    const auto s = c2 == std::string_view::npos ? std::optional<int>(0) : twoDigits(text.substr(c2 + 1));
    if (!h || !m || !s || *h > 47 || *m > 59 || *s > 59) return std::nullopt;
    return (*h * 3600 + *m * 60 + *s) / kSecondsPerDay;
}

double TimeOfDay(const platform::LocalTime& t) noexcept {
    return (t.hour * 3600.0 + t.minute * 60.0 + t.second + t.millisecond / 1000.0) / kSecondsPerDay;
}

Tperiods::Tperiods(int channelNumber, const std::filesystem::path& programFolder)
    : file_(programFolder / ("time" + std::to_string(channelNumber) + ".tim")) {
    loadError_ = Load();
}

std::error_code Tperiods::Load() {
    periods_.clear();
    const FileText text = readWholeFile(file_);
    if (text.missing) return {};
    if (text.error) return text.error;
    for (std::string_view line : splitLines(text.bytes)) {
        const auto tab1 = line.find('\t');
        if (tab1 == std::string_view::npos) continue;  // no stop time: unreadable, skipped
        const auto tab2 = line.find('\t', tab1 + 1);
        const auto start = ParseTimeOfDay(line.substr(0, tab1));
        const auto stop = ParseTimeOfDay(
            line.substr(tab1 + 1, tab2 == std::string_view::npos ? std::string_view::npos : tab2 - tab1 - 1));
        if (!start || !stop) continue;  // unreadable times: the line is skipped, the rest kept
        periods_.push_back(
            {*start, *stop, tab2 == std::string_view::npos ? std::string() : std::string(line.substr(tab2 + 1))});
    }
    return {};
}

std::error_code Tperiods::Save() const {
    std::string out;
    for (const SchedulePeriod& p : periods_)
        out += FormatTimeOfDay(p.start) + "\t" + FormatTimeOfDay(p.stop) + "\t" + oneLine(p.text) + "\r\n";
    return writeFileAtomically(file_, out);
}

std::error_code Tperiods::AddPeriod(std::string text, bool save, double start, double stop) {
    periods_.push_back({start, stop, std::move(text)});
    return save ? Save() : std::error_code();
}

std::error_code Tperiods::DeletePeriod(double start, double stop) {
    for (auto it = periods_.begin(); it != periods_.end(); ++it) {
        if (circularDistance(it->start, start) < kDeleteTolerance &&
            circularDistance(it->stop, stop) < kDeleteTolerance) {
            periods_.erase(it);
            break;
        }
    }
    return Save();
}

std::error_code Tperiods::CutIntoPeriods(int minutes) {
    if (minutes <= 0) return {};  // a negative step would never reach the end of the day
    periods_.clear();
    const double step = minutes / 1440.0;
    for (double t = 0.0; t < 0.999; t += step) periods_.push_back({t, t + step, {}});
    return Save();
}

int Tperiods::CheckTime(double now) {
    const double t = std::fabs(now - std::trunc(now));
    int result = -1;
    for (int i = 0; i < int(periods_.size()); ++i) {
        const SchedulePeriod& p = periods_[std::size_t(i)];
        if (!(p.start <= t && p.stop >= t)) continue;
        if (i != current_) {
            current_ = i;
            return -1;
        }
        result = 1;
    }
    return result;
}

std::vector<std::pair<std::string, std::string>> Tperiods::FillList() const {
    std::vector<std::pair<std::string, std::string>> rows;
    for (const SchedulePeriod& p : periods_) rows.emplace_back(FormatTimeOfDay(p.start), FormatTimeOfDay(p.stop));
    return rows;
}

}  // namespace kestavo::config
