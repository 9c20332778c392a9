#pragma once
// ChannelReport: what a channel tells the main thread — a recording began or ended, or a number
// was detected. Reports are typed values carrying the channel, the file and the cause; a front
// end makes a text of one only where it shows it, and no decision anywhere compares a text.
//
// Threads: a channel builds its reports under its own lock and posts them, in order, to the main
// thread through the dispatcher once the lock is released; the ReportSink runs on the main thread.
#include <functional>
#include <string>

namespace kestavo::capture {

// Why a recording began or ended.
enum class RecordCause {
    Operator,    // the record button, a command, an operator action replayed by a tool
    Level,       // the level trigger: its start window or its stop delay
    Voice,       // the voice detector, alone or gated by level
    Identifier,  // a plug-in's identifier and the action it reported
    Schedule,    // a recording period of the schedule began or ended
    MaxTime,     // the recording reached the channel's maximum length
    Shutdown,    // the program ended while recording: the file is completed as it stands
    DeviceLost,  // the channel's sound device vanished or stopped delivering: the file holds all it gave
    DeviceBack,  // the device returned and the recording its loss ended goes on in a new file
};

// What became of a recording's file when it ended.
enum class RecordOutcome {
    Kept,      // complete under the report's file (sent to the server when one records)
    TooShort,  // shorter than the minimum time: deleted, or withdrawn from the server
    NoFile,    // the file could not be created, so nothing of this recording was written
};

// Which detector reported a number.
enum class DetectionKind { CallerId, Dtmf, Pulse, Plugin };

struct ChannelReport {
    enum class Kind { Started, Stopped, Detected };

    Kind kind = Kind::Started;
    int channel = 0;                                    // 1-based channel number
    RecordCause cause = RecordCause::Operator;          // Started and Stopped
    RecordOutcome outcome = RecordOutcome::Kept;        // Stopped
    DetectionKind detection = DetectionKind::CallerId;  // Detected
    // Started: the file just opened (empty when it could not be); Stopped: the file as it ended,
    // with the event text in its name (empty unless the outcome is Kept); Detected: the recording
    // in progress, if any.
    std::string file;
    // Detected: the number or identifier; Stopped: the event text added to the file name.
    std::string text;
};

// Runs on the main thread, once per report.
using ReportSink = std::function<void(const ChannelReport&)>;

}  // namespace kestavo::capture
