#pragma once
// RecordingSidecars: the JSON file written beside each recording when MAIN/SIDECAR is on, for
// integrators who file recordings by what happened in them. The sidecar of "X.wav" is "X.wav.json"
// (the recording's whole name with ".json" added, so a WAV and an MP3 of the same name never
// share one). It is written once, when the recording ends, under the recording's final name (the
// name that carries the detected number), and holds:
//   channel, label (as the recording server gets it), prefix, file (the recording's name without
//   folder), start and stop (local times of the trigger and the end), trigger and stop_cause
//   ("level", "operator", ...), outcome ("kept", "no file"), detections (each with its detector
//   "caller id", "dtmf", "pulse" or "plugin", its text and its offset: seconds from the start of
//   the file, which begins with the pre-recorded sound), fault (the last write error of the
//   recording, or null) and lost_seconds.
// A recording too short to keep is deleted and gets none. A recording whose file could never be
// made gets one under the name the file would have had, when its folder takes it.
//
// The sidecar is written whole under a hidden temporary name in the same folder and renamed, so a
// reader never sees half of one; a failed write leaves nothing behind and is returned for the
// caller to report. The recording is never touched.
//
// Threads: Take on the main thread, in the order the reports happened; HandedToUpload from the
// channel threads (a mutex guards the names it keeps).
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "capture/channel_report.h"
#include "platform/clock.h"
#include "recording/file_ops.h"

namespace kestavo::app {

// The sidecar's name for a recording's file.
[[nodiscard]] std::filesystem::path SidecarPath(const std::filesystem::path& recording);

// Replaces `path` with `text` through a hidden temporary file in the same folder and a rename,
// using `ops`' calls; on failure no temporary file is left and `path` is as it was.
[[nodiscard]] std::error_code WriteSidecarFile(const std::filesystem::path& path, std::string_view text,
                                               const recording::FileOps& ops);

// One sidecar written (or not) at the end of a recording.
struct SidecarWrite {
    std::filesystem::path path;  // the sidecar
    std::error_code error;       // why it could not be written; 0 when it was
    bool upload = false;         // its recording went to the upload: the sidecar must follow it
};

class RecordingSidecars {
public:
    // `ops`: the calls the files are written with; null: the real ones.
    explicit RecordingSidecars(const recording::FileOps* ops = nullptr);

    // Main thread: one report of a channel (numbered as the report says), stamped with the program's
    // clock. `label` and `prefix` are the channel's, taken when a recording starts. At the end of a
    // recording that has a file, or should have had one, the sidecar is written when `enabled`;
    // the answer says how that went (nothing when no sidecar was due).
    std::optional<SidecarWrite> Take(const capture::ChannelReport& report, const platform::LocalTime& time,
                                     std::string_view label, std::string_view prefix, bool enabled);

    // Any thread: `recording` has been handed to the upload (before its end is reported).
    void HandedToUpload(const std::string& recording);

private:
    struct Detection {
        capture::DetectionKind kind;
        std::string text;
        double offsetSeconds;
    };
    // A recording in progress.
    struct Open {
        std::string label, prefix;
        std::string file;  // the name the recording started under
        platform::LocalTime start;
        capture::RecordCause trigger = capture::RecordCause::Operator;
        std::vector<Detection> detections;
        std::string fault;  // the last write error, empty when none
    };

    [[nodiscard]] std::string json_(const Open& open, const capture::ChannelReport& stop,
                                    const platform::LocalTime& time, const std::string& file) const;

    const recording::FileOps* ops_;
    std::map<int, Open> open_;  // by channel
    std::mutex handedMutex_;
    std::set<std::string> handed_;  // recordings handed to the upload whose end is not yet taken
};

}  // namespace kestavo::app
