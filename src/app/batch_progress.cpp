#include "app/batch_progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "app/event_log.h"

namespace kestavo::app {

double BatchProgress::LongestLineSeconds(const std::filesystem::path& folder) {
    double longest = 0.0;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        if (entry.path().extension() != ".wav" && entry.path().extension() != ".WAV") continue;
        if (const auto s = WavSeconds(entry.path())) longest = std::max(longest, *s);
    }
    return longest;
}

std::string BatchProgress::Line(double soundSeconds, double wallSeconds) const {
    const double done = total_ > 0 ? std::clamp(soundSeconds / total_, 0.0, 1.0) : 1.0;
    const double speed = wallSeconds > 0 ? soundSeconds / wallSeconds : 0.0;
    char buf[96];
    if (speed <= 0) {
        std::snprintf(buf, sizeof buf, "%3d%% done", int(done * 100));
        return buf;
    }
    const long left = std::lround(std::max(0.0, total_ - soundSeconds) / speed);
    std::snprintf(buf, sizeof buf, "%3d%% done, %.1fx real time, %ld:%02ld:%02ld left", int(done * 100), speed,
                  left / 3600, left / 60 % 60, left % 60);
    return buf;
}

void BatchProgress::Count(const Activity& a) {
    const capture::ChannelReport& r = a.report;
    if (r.kind == capture::ChannelReport::Kind::Detected) ++numbers_;
    if (r.kind == capture::ChannelReport::Kind::Stopped && r.outcome == capture::RecordOutcome::Kept) {
        ++recordings_;
        if (const auto s = WavSeconds(r.file)) recordedSeconds_ += *s;
    }
}

std::string BatchProgress::Summary() const {
    char buf[128];
    std::snprintf(buf, sizeof buf, "%d recording(s) made, %.1f s recorded, %d number(s) detected", recordings_,
                  recordedSeconds_, numbers_);
    return buf;
}

}  // namespace kestavo::app
