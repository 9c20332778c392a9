#include "app/channel_row.h"
#include "platform/line_rate.h"

#include <cmath>

namespace kestavo::app {

namespace {

constexpr int kStopMinHits = 1;

capture::ChannelParams paramsFor(const RowPlan& plan) {
    capture::ChannelParams p;
    p.format = recording::FileFormatOfCompressMode(plan.compressMode);
    p.inputIndex = plan.sideNumber;
    p.channelNumber = plan.channelNumber;
    p.deviceId = plan.deviceId;
    p.sampleRate = kLineRate;
    p.mp3Bitrate = plan.bitrate;
    p.mp3Quality = plan.quality;
    p.mp3SampleRate = plan.sampleRate;
    return p;
}

}  // namespace

Tkanal::Tkanal(const RowPlan& plan, capture::ChannelEnv env, capture::ChannelGlobals globals)
    : bar(BarRect{0, 0, kLevelColumnWidth, kUpperRowHeight}, BarOrientation::Horizontal, 50),
      number_(plan.channelNumber), name_(plan.name), deviceId_(plan.deviceId), sideNumber_(plan.sideNumber),
      setup_(plan) {
    // The row's values at creation; the configuration replaces them right after the build.
    settings_.device = plan.name;
    settings_.compressMode = plan.compressMode;
    settings_.mp3Bitrate = plan.bitrate;
    settings_.mp3Quality = plan.quality;
    settings_.mp3SampleRate = plan.sampleRate;
    settings_.threshold = 0.0;
    settings_.k1 = 1.8;
    settings_.k2 = 7.6;
    settings_.startDelaySeconds = 1.0;
    settings_.stopDelaySeconds = 10.0;
    settings_.preRecordSeconds = 5;
    settings_.maxTimeMinutes = 15;
    bar.SetRange(60.0);
    channel_ = std::make_unique<capture::Tchannel>(paramsFor(plan), std::move(env), std::move(globals));
    channel_->SetThreshold(settings_.threshold);
    channel_->SetDelays(kStopMinHits, settings_.startDelaySeconds, settings_.stopDelaySeconds);
    channel_->SetK1(settings_.k1);
    channel_->SetK2(settings_.k2);
    channel_->SetPredTime(settings_.preRecordSeconds);
    bar.SetThreshold(settings_.threshold);
}

Tkanal::~Tkanal() { ReleaseChannel(); }

void Tkanal::ReleaseChannel() {
    if (!channel_) return;
    channel_->Shutdown();
    channel_.reset();
}

void Tkanal::ApplySettings(const config::ChannelSettings& loaded) {
    settings_ = loaded;
    settings_.device = name_;
    // The MP3 parameters are the set-up's: read from the same keys for a configured channel,
    // 32 kbit/s voice quality for one made of every input.
    settings_.mp3Bitrate = setup_.bitrate;
    settings_.mp3Quality = setup_.quality;
    settings_.mp3SampleRate = setup_.sampleRate;
    const config::ChannelSettings& s = settings_;
    if (!channel_) return;
    auto& c = *channel_;
    c.SetFilebits(s.fileBits);
    c.SetRecordMode(capture::RecordMode(s.recordMode >= 0 && s.recordMode <= 3 ? s.recordMode : 0));
    c.SetMinTime(s.minTimeSeconds);
    c.SetPrefix(s.filePrefix);
    c.SetAon(s.callerId);
    c.SetPulse(s.pulseDetector);
    c.SetRecordDir(s.recordDir);
    c.SetCompressor(s.compressor);
    c.SetAutoRecord(s.autoRecord);
    c.SetPredTime(s.preRecordSeconds);
    c.SetDetectOnlyWhileRecording(s.detectOnlyWhileRecording);
    c.SetDtmf(s.dtmf);
    c.SetAgc(s.agc);
    c.SetPulseThreshold(s.pulseThreshold);
    c.SetThreshold(s.threshold);
    c.SetK1(s.k1);
    c.SetK2(s.k2);
    c.SetDelays(kStopMinHits, s.startDelaySeconds, s.stopDelaySeconds);
    c.SetCombined(s.combined);
    // The MP3 parameters first, so that a writer replaced by SetFormat is made with them.
    c.SetMp3Params(s.mp3Bitrate, s.mp3Quality, s.mp3SampleRate);
    if (c.Format() != recording::FileFormatOfCompressMode(s.compressMode))
        c.SetFormat(recording::FileFormatOfCompressMode(s.compressMode));
    bar.SetThreshold(s.threshold);
}

config::ChannelSettings Tkanal::Settings() const {
    config::ChannelSettings s = settings_;
    s.device = name_;
    return s;
}

void Tkanal::KeepSettings(const config::ChannelSettings& settings) {
    settings_ = settings;
    settings_.device = name_;
}

void Tkanal::SetRecordDir(const std::string& folder) {
    settings_.recordDir = folder;
    if (channel_) channel_->SetRecordDir(folder);
}

void Tkanal::SetAuto(bool on) {
    settings_.autoRecord = on;
    if (channel_) channel_->SetAutoRecord(on);
}

void Tkanal::SetThreshold(double dB) {
    settings_.threshold = dB;
    if (channel_) channel_->SetThreshold(dB);
    bar.SetThreshold(dB);
}

void Tkanal::SetPulseThreshold(double threshold) {
    settings_.pulseThreshold = threshold;
    if (channel_) channel_->SetPulseThreshold(threshold);
}

void Tkanal::SetDelays(double startSeconds, double stopSeconds) {
    settings_.startDelaySeconds = startSeconds;
    settings_.stopDelaySeconds = stopSeconds;
    if (channel_) channel_->SetDelays(kStopMinHits, startSeconds, stopSeconds);
}

void Tkanal::MarkRecording(const platform::LocalTime& start) {
    recording_ = true;
    recordStart_ = start;
    recordButton = RecordButtonAction::Stop;
}

void Tkanal::MarkIdle() {
    recording_ = false;
    recordStart_ = {};
    recordButton = RecordButtonAction::Start;
    durationText.clear();
}

void Tkanal::SetNumber(int number) {
    number_ = number;
    if (channel_) channel_->SetChannelNumber(number);
}

}  // namespace kestavo::app
