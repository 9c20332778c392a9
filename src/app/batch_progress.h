#pragma once
// BatchProgress: how far a batch run over file-backed lines has come, and what it made.
//
// The batch ends when the longest line has been processed, so the share done is the sound time
// reached over that line's length; the speed is sound seconds per wall-clock second (a multiple of
// real time), and the time left is the sound still to come at that speed. The tally counts the
// recordings kept, their seconds of sound and the numbers detected, from the same reports the
// event log writes. Main thread.
#include <filesystem>
#include <string>

#include "app/app_core.h"

namespace kestavo::app {

class BatchProgress {
public:
    explicit BatchProgress(double totalSeconds) : total_(totalSeconds) {}

    // The longest WAV line in `folder`, in seconds (0 when there is none).
    [[nodiscard]] static double LongestLineSeconds(const std::filesystem::path& folder);

    // "  42% done, 35.2x real time, 0:01:12 left" after `soundSeconds` of sound in `wallSeconds`.
    [[nodiscard]] std::string Line(double soundSeconds, double wallSeconds) const;

    void Count(const Activity& activity);
    // "3 recording(s) made, 61.4 s recorded, 2 number(s) detected"
    [[nodiscard]] std::string Summary() const;

private:
    double total_;
    int recordings_ = 0, numbers_ = 0;
    double recordedSeconds_ = 0.0;
};

}  // namespace kestavo::app
