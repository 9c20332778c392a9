#pragma once
// ChannelReport: what a channel tells the main thread — a recording began or ended, a number was
// detected, or its file could not be written (and later could again). Reports are typed values carrying the channel, the file and the cause; a front
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
    NoFile,    // the file could never be created, so nothing of this recording was written
};

// Which detector reported a number.
enum class DetectionKind { CallerId, Dtmf, Pulse, Plugin };

struct ChannelReport {
    // Fault: the recording's file cannot be created or written (error set; the sound waits in
    // memory), or can be again (error 0: everything that waited has reached the file).
    // PluginRefused: a plug-in failed its trial and was not attached (file: the plug-in, text: why).
    enum class Kind { Started, Stopped, Detected, Fault, PluginRefused };

    Kind kind = Kind::Started;
    int channel = 0;                                    // 1-based channel number
    RecordCause cause = RecordCause::Operator;          // Started and Stopped
    RecordOutcome outcome = RecordOutcome::Kept;        // Stopped
    DetectionKind detection = DetectionKind::CallerId;  // Detected
    // Started: the file just opened, or the name it waits to be created under (empty when the
    // channel writes no files); Stopped: the file as it ended, with the event text in its name
    // (empty unless the outcome is Kept); Detected: the recording in progress, if any; Fault: the
    // file that cannot be written.
    std::string file;
    // Detected: the number or identifier; Stopped: the event text added to the file name.
    std::string text;
    // Fault: the system's error (errno), 0 when the file is written again.
    int error = 0;
    // Fault: the file's name was removed with its folder while it was written; it was made
    // again, with all its sound (error is 0 when that worked).
    bool fileRemade = false;
    // Stopped and Fault: seconds of this recording's sound that could not be kept.
    double lostSeconds = 0;
    // Detected: seconds from the start of the recording's file to the sample on which the number
    // was reported (the file begins with the pre-recorded sound); negative when no file records.
    double offsetSeconds = -1;
};

// Runs on the main thread, once per report.
using ReportSink = std::function<void(const ChannelReport&)>;

}  // namespace kestavo::capture
