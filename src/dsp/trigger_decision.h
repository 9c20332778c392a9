#pragma once
// TriggerDecision: what a recording trigger answers for one sample or level value.
//
// Tlevel_check, TVOXlevel_check and TVOX answer with it. It is an unscoped enum over int with the
// values -1, 0, 1, so a caller that keeps the answer in an int (to combine two triggers) still can.

namespace kestavo::dsp {

enum TriggerDecision : int {
    kNoDecision = -1,     // go on as before
    kStopRecording = 0,   // stop the recording now
    kStartRecording = 1,  // start a recording now
};

}  // namespace kestavo::dsp
