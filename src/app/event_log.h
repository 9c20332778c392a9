#pragma once
// EventLog: the machine-readable record of what the recorder did, one JSON object per line, for
// integrators (`kestavo --events FILE`). Every line has the local time of the program's clock
// ("time", ISO 8601 with milliseconds), the "event" and its fields:
//   started   channel, cause, path (null when the file could not be created)
//   stopped   channel, cause, outcome ("kept", "too short", "no file"), path (null unless kept),
//             duration (seconds of sound in the file; for a file that is not WAV, or none, the time
//             between start and stop), text (what the stop added to the file name)
//   detected  channel, kind ("caller id", "dtmf", "pulse", "plugin"), text, path (the recording
//             in progress, null when none)
//   fault     text (a message the program showed)
// Each line is flushed as it is written, so a reader following the file sees every event at once.
//
// Also the level words of the program's log lines on stderr, with the priority prefix the
// journal reads when stderr is connected to it. Main thread.
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/app_core.h"

namespace kestavo::app {

// A JSON string literal of `text` (quotes, backslashes and control characters escaped).
[[nodiscard]] std::string JsonString(std::string_view text);
// Why a recording began or ended, in the words of the log and the headless output ("level", "maximum time").
[[nodiscard]] const char* CauseName(capture::RecordCause cause);
// What became of a recording's file ("kept", "too short", "no file") and which detector reported a
// number ("caller id", "dtmf", "pulse", "plugin"), in the words of the events.
[[nodiscard]] const char* OutcomeName(capture::RecordOutcome outcome);
[[nodiscard]] const char* DetectionName(capture::DetectionKind kind);
// "YYYY-MM-DDTHH:MM:SS.mmm"
[[nodiscard]] std::string IsoTime(const platform::LocalTime& t);
// Seconds of sound in a PCM WAV file, from its format and data chunks; nothing when the file is
// not a readable WAV file.
[[nodiscard]] std::optional<double> WavSeconds(const std::filesystem::path& path);

class EventLog {
public:
    // Writes to `out` (not owned, never closed).
    explicit EventLog(std::FILE* out) : out_(out) {}
    ~EventLog();
    EventLog(const EventLog&) = delete;
    EventLog& operator=(const EventLog&) = delete;
    // "-" is standard output; any other target a file, created or appended to. Null with `error`
    // set when the file cannot be opened.
    static std::unique_ptr<EventLog> Open(const std::string& target, std::string& error);

    void Record(const Activity& activity);
    void Fault(const platform::LocalTime& time, std::string_view text);

private:
    void write_(const std::string& line);

    std::FILE* out_;
    bool owned_ = false;
    std::map<int, platform::LocalTime> started_;  // by channel: when its recording began
};

enum class LogLevel { Error, Warning, Info };

// "error: text", "warning: text", "info: text"; with `journal` the sd-daemon priority first
// ("<3>", "<4>", "<6>").
[[nodiscard]] std::string LogLine(LogLevel level, std::string_view text, bool journal);
// Whether stderr is the journal's stream (JOURNAL_STREAM names stderr's device and inode).
[[nodiscard]] bool StderrIsJournal();
// One line on stderr, flushed.
void Log(LogLevel level, std::string_view text);

}  // namespace kestavo::app
