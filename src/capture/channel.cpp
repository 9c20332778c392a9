#include "capture/channel.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <utility>

#include "capture/recording_name.h"
#include "platform/thread_name.h"
#include "recording/mp3_writer.h"
#include "recording/wav_writer.h"

namespace kestavo::capture {

namespace fs = std::filesystem;

Tchannel::Tchannel(const ChannelParams& params, ChannelEnv env, ChannelGlobals globals)
    : params_(params), env_(std::move(env)),
      queue_(kQueueSlots, std::size_t(params.samplesPerBlock) * std::size_t(params.bits / 8)),
      channelNumber_(params.channelNumber), globals_(std::move(globals)), format_(params.format),
      threshold_(params.threshold), predSeconds_(params.predSeconds), mp3Bitrate_(params.mp3Bitrate),
      mp3Quality_(params.mp3Quality), mp3SampleRate_(params.mp3SampleRate), meter_(params.sampleRate),
      levelCheck_(params.threshold), voxLevelCheck_(params.threshold),
      schedule_(params.channelNumber, globals_.programFolder), control_(params.channelNumber, globals_.programFolder),
      showLevel_(params.samplesPerBlock, params.sampleRate) {
    history_.fill(-60.0);
    (void)schedule_.Load();  // a missing or unreadable schedule file leaves the schedule empty
    recordDir_ = globals_.programFolder.string();
    if (env_.writeFiles) writer_ = makeWriter(format_, params_.samplesPerBlock * (params_.bits / 8));
    if (env_.writeFiles) loadPluginList();  // an analysis-only channel attaches what it is told to
    thread_ = std::jthread([this](std::stop_token st) { run(st); });
}

Tchannel::~Tchannel() { Shutdown(); }

void Tchannel::Shutdown() {
    stopping_.store(true, std::memory_order_release);
    if (thread_.joinable()) {
        thread_.request_stop();
        thread_.join();
    }
}

std::unique_ptr<recording::Tsound_writer> Tchannel::makeWriter(recording::FileFormat format,
                                                               int minPreRecordBytes) const {
    recording::WriterParams p;
    p.format = format;
    p.sampleRate = params_.sampleRate;
    p.captureBits = params_.bits;
    p.predSeconds = predSeconds_;
    p.minPreRecordBytes = minPreRecordBytes;
    p.mp3Bitrate = mp3Bitrate_;
    p.mp3Quality = mp3Quality_;
    p.mp3SampleRate = mp3SampleRate_;
    std::unique_ptr<recording::Tsound_writer> w;
    if (format == recording::FileFormat::Mp3) {
        auto mp3 = std::make_unique<recording::Tmp3_writer>(p);
        // Without a working encoder the channel records WAV rather than nothing.
        if (mp3->Ready()) w = std::move(mp3);
    }
    if (!w) {
        p.format = recording::FileFormat::Wav;
        w = std::make_unique<recording::Twav_writer>(p);
    }
    w->SetFilebits(fileBits_);
    if (env_.fileOps) w->SetFileOps(*env_.fileOps);
    return w;
}

// ---------------------------------------------------------------------------------------------
// Hand-over

void Tchannel::PutData(const std::byte* block, std::uint32_t length) {
    if (!block || stopping_.load(std::memory_order_acquire)) return;
    // Counted before the block can be taken, so a fast-paced line never sees the channel idle
    // while a block of its is still on the way.
    if (env_.pending) env_.pending->add();
    if (queue_.put(block, length) != BlockQueue::PutResult::Queued && env_.pending) env_.pending->done();
}

void Tchannel::run(std::stop_token stop) {
    platform::nameThisThread("channel " + std::to_string(ChannelNumber()));
    // The slot stays taken while in work: PutData writes only into free slots.
    while (const auto block = queue_.waitOldest(stop)) {
        {
            std::unique_lock lock(mutex_);
            processBlock(block->data, block->length);
            unlockAndPost(lock);
        }
        queue_.pop();
        blocks_.fetch_add(1, std::memory_order_relaxed);
        if (env_.pending) env_.pending->done();
    }
    finishThread();
}

void Tchannel::finishThread() {
    stopping_.store(true, std::memory_order_release);
    const std::size_t neverProcessed = queue_.close();
    if (env_.pending && neverProcessed > 0) env_.pending->done(std::int64_t(neverProcessed));
    std::lock_guard lock(mutex_);
    if (recording_ && fileOpened_ && writer_) {
        // The recording ends with the program: its file is completed as it stands.
        ChannelReport report;
        report.kind = ChannelReport::Kind::Stopped;
        report.channel = params_.channelNumber;
        report.cause = RecordCause::Shutdown;
        report.file = writer_->Close({});
        report.outcome = writer_->FileMade() ? RecordOutcome::Kept : RecordOutcome::NoFile;
        report.lostSeconds = writer_->LostSeconds();
        shutdownReport_ = std::move(report);
    }
    writer_.reset();  // completes an open file
    try {
        if (env_.writeFiles) savePluginList();  // an analysis-only channel leaves the list file alone
    } catch (...) {
        // The plug-in list is a convenience; failing to save it must not disturb the shutdown.
    }
    plugins_.clear();
}

void Tchannel::ProcessBlockNow(std::byte* block, std::uint32_t length) {
    std::unique_lock lock(mutex_);
    processBlock(block, length);
    unlockAndPost(lock);
}

void Tchannel::unlockAndPost(std::unique_lock<std::mutex>& lock) {
    const std::uint64_t upTo = std::exchange(flushUpTo_, 0);
    lock.unlock();
    if (upTo != 0) env_.dispatcher->post([box = outbox_, upTo] { box->runUpTo(upTo); });
}

void Tchannel::ReportOutbox::runUpTo(std::uint64_t upTo) {
    for (;;) {
        std::function<void()> call;
        {
            std::lock_guard lock(mutex);
            if (calls.empty() || calls.front().first > upTo) return;
            call = std::move(calls.front().second);
            calls.pop_front();
        }
        call();  // outside the lock: the report's handler may call the channel again
    }
}

// ---------------------------------------------------------------------------------------------
// Processing one block, sample by sample

void Tchannel::processBlock(std::byte* block, std::uint32_t length) {
    blockInWork_ = block;
    blockLength_ = length;
    blockLevel_ = dsp::kNoLevel;
    const bool eightBit = params_.bits == 8;
    const std::uint32_t count = eightBit ? length : length / 2;
    // Without compressor and gain control a sample comes back exactly as it went in (the scaling
    // by 1/32768 or 1/128 is exact), so the write-back is skipped.
    const bool modifies = compressorOn_ || agcOn_;
    auto* s16 = reinterpret_cast<std::int16_t*>(block);
    auto* u8 = reinterpret_cast<std::uint8_t*>(block);
    double level = dsp::kNoLevel;

    for (std::uint32_t i = 0; i < count; ++i) {
        if (stopping_.load(std::memory_order_relaxed)) break;
        if (samplesSeen_ + i == nextActionAt_) runOperatorActions(samplesSeen_ + i);
        // 1. Normalise.
        double x;
        if (eightBit)
            x = (double(u8[i]) - 128.0) * (1.0 / 128.0);
        else {
            std::int16_t v;
            std::memcpy(&v, s16 + i, 2);
            x = double(v) * (1.0 / 32768.0);
        }
        // 2. Level and the level trigger.
        level = meter_.Process(x);
        if (level != dsp::kNoLevel) {
            blockLevel_ = level;
            {
                std::lock_guard lock(levelMutex_);
                showLevel_.Push(level);
            }
            currentLevel_.store(level, std::memory_order_relaxed);
            if (env_.observeLevels) notifyLevel(samplesSeen_ + i, level);
            if (autoRecord_ && mode_ == RecordMode::Level) {
                const int r = levelCheck_.Check(recording_, level);
                if (r == 1)
                    startRecordLocked(makeFileNameLocked(), samplesSeen_ + i, RecordCause::Level);
                else if (r == 0)
                    stopRecordLocked(samplesSeen_ + i, RecordCause::Level);
            }
        }

        // 3. Voice. The detector runs in voice mode whether or not the channel records by itself.
        if (mode_ == RecordMode::Voice) {
            int r = vox_.Process(x);
            if (autoRecord_) {
                if (combined_) {
                    // Gated by level: nothing before the block's first level value; at or above
                    // the threshold only the voice detector may start; below it the level decides.
                    if (blockLevel_ == dsp::kNoLevel)
                        r = -1;
                    else if (blockLevel_ >= threshold_)
                        r = r == 1 ? 1 : -1;
                    else
                        r = voxLevelCheck_.Check(recording_, blockLevel_);
                }
                if (r == 1)
                    startRecordLocked(makeFileNameLocked(), samplesSeen_ + i, RecordCause::Voice);
                else if (r == 0 && recording_)
                    stopRecordLocked(samplesSeen_ + i, RecordCause::Voice);
            }
        }

        // 4. Caller ID.
        const bool detect = recording_ || !detectOnlyWhileRecording_;
        if (aonOn_ && detect) {
            const std::string_view text = aon_.Process(x);
            if (!text.empty()) {
                lastAon_.assign(text);
                takeNumber(text, ChannelEvent::Kind::Aon, samplesSeen_ + i);
            }
        }
        // 5. DTMF: a single digit is taken for noise on the line.
        if (dtmfOn_ && detect) {
            const std::string_view text = dtmf_.Process(x);
            if (text.size() >= 2) {
                lastDtmf_.assign(text);
                takeNumber(text, ChannelEvent::Kind::Dtmf, samplesSeen_ + i);
            }
        }
        // 6. Plug-ins, in list order; a result counts unless combined triggering holds it back
        // because the block's level is known and below the threshold.
        for (const auto& plugin : plugins_) {
            pluginRecord_.extra[0] = 0;
            if (plugin->Process(pluginRecord_, x) &&
                !(combined_ && blockLevel_ != dsp::kNoLevel && blockLevel_ < threshold_))
                takePluginResult(samplesSeen_ + i);
        }
        // 7. Pulse dialling, from each start or stop until the next number is reported.
        if (pulseOn_ && detect && pulseArmed_) {
            const std::string_view text = pulse_.Process(x);
            if (text.size() >= 2) takeNumber(text, ChannelEvent::Kind::Pulse, samplesSeen_ + i);
        }
        // 8. Compressor: K1 (1 - e^(-K2 x)), applied unchanged to negative samples; an overflow
        // leaves the sample as it was.
        if (compressorOn_) {
            const double y = k1_ * (1.0 - std::exp(-k2_ * x));
            if (std::isfinite(y)) x = y;
        }
        // 9. Gain control.
        if (agcOn_) x = agc_.Process(x);

        // 10, 11. Clip and write back.
        if (modifies) {
            x = std::clamp(x, -1.0, 1.0);
            if (eightBit)
                u8[i] = std::uint8_t(std::clamp(std::nearbyint(x * 128.0 + 128.0), 0.0, 255.0));
            else {
                const auto v = std::int16_t(std::clamp(std::nearbyint(x * 32768.0), -32768.0, 32767.0));
                std::memcpy(s16 + i, &v, 2);
            }
        }
    }
    samplesSeen_ += count;

    // The processed block goes to the monitor and the writer.
    if (monitor_) {
        try {
            monitor_->PutBlock(block, length, params_.bits);
        } catch (...) {
            // A failing monitor must not disturb recording.
        }
    }
    if (writer_ && !writer_->Busy()) {
        writer_->Write(std::span<const std::byte>(block, length));
        reportWriteFaultLocked();
    }
    blockInWork_ = nullptr;
    startedInBlock_ = false;
}

void Tchannel::reportWriteFaultLocked() {
    if (const int remade = writer_->FilesRemade(); remade != reportedRemade_) {
        reportedRemade_ = remade;
        ChannelReport report;
        report.kind = ChannelReport::Kind::Fault;
        report.file = writer_->FileName();
        report.fileRemade = true;
        post(std::move(report));
    }
    const int fault = recording_ && fileOpened_ ? writer_->Fault() : 0;
    if (fault == reportedFault_) return;
    reportedFault_ = fault;
    ChannelReport report;
    report.kind = ChannelReport::Kind::Fault;
    report.file = writer_->FileName();
    report.error = fault;
    report.text = fault != 0 ? std::generic_category().message(fault) : std::string();
    report.lostSeconds = writer_->LostSeconds();
    post(std::move(report));
}

// ---------------------------------------------------------------------------------------------
// Recording

bool Tchannel::startRecordLocked(std::string basePath, std::uint64_t sample, RecordCause cause) {
    if (recording_) return false;
    bool ok = false;
    try {
        pulseArmed_ = true;
        const bool server = globals_.serverEnabled && env_.server;
        if (server && globals_.inOne) basePath = recordDir_ + "/" + FileNamePart(basePath);
        // The file begins with the pre-recorded sound, then the block in work (or, from the main
        // thread, the next block).
        fileStartSeconds_ =
            double(samplesSeen_) / double(params_.sampleRate) - (writer_ ? writer_->PreRecordSeconds() : 0.0);
        // A file that cannot be created yet still records: the writer keeps the sound until it can.
        if (writer_) (void)writer_->Open(basePath);
        ok = writer_ && writer_->IsOpen();
        fileOpened_ = ok;
        startTick_ = env_.clock->tickMs();
        serverRecord_ = server;
        if (server) {
            const std::string path = basePath + (format_ == recording::FileFormat::Wav ? ".wav" : ".mp3");
            const std::string label = globals_.noName
                ? Utf8Prefix(globals_.computerName, 15) + " " + std::to_string(params_.channelNumber)
                : std::to_string(params_.channelNumber);
            recordId_ = env_.server->start_rec_file(path, prefix_, label);
        }
    } catch (...) {
        // A recording that cannot be opened or registered still counts as started: the writer
        // keeps collecting pre-record sound and the operator sees the channel recording.
    }
    recording_ = true;
    startedInBlock_ = blockInWork_ != nullptr;
    recordingFlag_.store(true, std::memory_order_release);
    notify(ChannelEvent::Kind::Start, sample, {});
    ChannelReport report;
    report.kind = ChannelReport::Kind::Started;
    report.cause = cause;
    if (ok) report.file = writer_->FileName();
    post(std::move(report));
    if (ok) reportWriteFaultLocked();
    return ok;
}

void Tchannel::stopRecordLocked(std::uint64_t sample, RecordCause cause) {
    if (!recording_) return;
    std::string kept;
    ChannelReport report;
    report.kind = ChannelReport::Kind::Stopped;
    report.cause = cause;
    report.outcome = fileOpened_ ? RecordOutcome::Kept : RecordOutcome::NoFile;
    try {
        // The server switched on or off meanwhile: the recording ends the way it began.
        const bool server = serverRecord_ && env_.server;
        eventText_ = Utf8Prefix(eventText_, kEventTextKept);
        if (server) eventText_.clear();
        kept = eventText_;
        // A recording that began in the block in work gets that block before it ends (as it
        // stands: samples after this one are not yet through the compressor and gain control);
        // else its file would hold only the sound from before the trigger.
        if (startedInBlock_ && fileOpened_ && writer_)
            writer_->Write(std::span<const std::byte>(blockInWork_, blockLength_));
        std::string finalPath = writer_ ? writer_->Close(eventText_) : std::string();
        // A recording whose file could never be made wrote nothing: it is neither kept nor short.
        if (fileOpened_ && !writer_->FileMade()) fileOpened_ = false;
        if (!fileOpened_) finalPath.clear();  // the last recording's file is not this one's
        report.outcome = fileOpened_ ? RecordOutcome::Kept : RecordOutcome::NoFile;
        report.lostSeconds = writer_ ? writer_->LostSeconds() : 0.0;
        const std::uint32_t duration = (env_.clock->tickMs() - startTick_) / 1000;
        if (duration < std::uint32_t(std::max(0, minTime_))) {
            if (fileOpened_) report.outcome = RecordOutcome::TooShort;
            if (server)
                env_.server->del_rec(recordId_);
            else if (fileOpened_ && writer_)
                (void)writer_->DeleteFile();
        } else if (server) {
            if (!globals_.inOne && !finalPath.empty() && env_.upload) env_.upload(finalPath);
            try {
                env_.server->stop_rec_file(recordId_, durationText_, FileNamePart(finalPath));
            } catch (...) {
                // The server's bookkeeping failing must not keep the channel recording.
            }
        }
        if (report.outcome == RecordOutcome::Kept) report.file = finalPath;
        eventText_.clear();
    } catch (...) {
        // Errors while closing, renaming, deleting or reporting are swallowed; the state below
        // changes regardless.
    }
    fileOpened_ = false;
    reportedFault_ = 0;  // the stop report tells how the recording ended
    pulseArmed_ = true;
    recording_ = false;
    recordingFlag_.store(false, std::memory_order_release);
    levelCheck_.Reset();
    voxLevelCheck_.Reset();
    notify(ChannelEvent::Kind::Stop, sample, kept);
    report.text = std::move(kept);
    post(std::move(report));
}

void Tchannel::StartIfIdle(RecordCause cause) {
    std::unique_lock lock(mutex_);
    if (!recording_) startRecordLocked(makeFileNameLocked(), samplesSeen_, cause);
    unlockAndPost(lock);
}

bool Tchannel::RecordNow() {
    std::unique_lock lock(mutex_);
    const bool ok = startRecordLocked(makeFileNameLocked(), samplesSeen_, RecordCause::Operator);
    unlockAndPost(lock);
    return ok;
}

void Tchannel::StopRecord(RecordCause cause) {
    std::unique_lock lock(mutex_);
    stopRecordLocked(samplesSeen_, cause);
    unlockAndPost(lock);
}

bool Tchannel::DeviceLost() {
    if (queue_.waiting() > 0) return false;
    std::unique_lock lock(mutex_);
    if (!deviceFault_.load(std::memory_order_relaxed)) {
        resumeOnDeviceBack_ = recording_;
        stopRecordLocked(samplesSeen_, RecordCause::DeviceLost);
        deviceFault_.store(true, std::memory_order_release);
    }
    unlockAndPost(lock);
    return true;
}

void Tchannel::DeviceBack() {
    std::unique_lock lock(mutex_);
    deviceFault_.store(false, std::memory_order_release);
    if (std::exchange(resumeOnDeviceBack_, false) && !recording_)
        startRecordLocked(makeFileNameLocked(), samplesSeen_, RecordCause::DeviceBack);
    unlockAndPost(lock);
}

void Tchannel::takeNumber(std::string_view text, ChannelEvent::Kind kind, std::uint64_t sample) {
    eventText_.assign(text);
    pulseArmed_ = true;
    reportDetection(kind, sample);
    if (globals_.serverEnabled && env_.server && recording_) {
        if (kind == ChannelEvent::Kind::Aon)
            env_.server->add_aon(recordId_, eventText_);
        else
            env_.server->add_nabor(recordId_, eventText_);
    }
    pulseArmed_ = false;
}

void Tchannel::takePluginResult(std::uint64_t sample) {
    pluginRecord_.channel = params_.channelNumber;
    if (env_.pluginLog) {
        if (env_.pluginLock) {
            std::lock_guard lock(*env_.pluginLock);
            env_.pluginLog(pluginRecord_);
        } else {
            env_.pluginLog(pluginRecord_);
        }
    }
    const std::string_view id = services::identifierText(pluginRecord_);
    if (mode_ == RecordMode::Id) {
        if (pluginRecord_.action == 0) stopRecordLocked(sample, RecordCause::Identifier);
        if (!control_.Check(id).empty() && pluginRecord_.action == 1)
            startRecordLocked(makeFileNameLocked(), sample, RecordCause::Identifier);
    }
    if (recording_) {
        eventText_.assign(id);
        reportDetection(ChannelEvent::Kind::Plugin, sample);
        if (globals_.serverEnabled && env_.server && recording_) env_.server->add_nabor(recordId_, eventText_);
    }
}

void Tchannel::ScheduleOperatorAction(std::uint64_t sample, bool start) {
    std::lock_guard lock(mutex_);
    operatorActions_.emplace_back(sample, start);
    std::stable_sort(operatorActions_.begin(), operatorActions_.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    nextActionAt_ = operatorActions_.front().first;
}

void Tchannel::runOperatorActions(std::uint64_t sample) {
    while (!operatorActions_.empty() && operatorActions_.front().first == sample) {
        if (operatorActions_.front().second)
            startRecordLocked(makeFileNameLocked(), sample, RecordCause::Operator);
        else
            stopRecordLocked(sample, RecordCause::Operator);
        operatorActions_.erase(operatorActions_.begin());
    }
    nextActionAt_ = operatorActions_.empty() ? UINT64_MAX : operatorActions_.front().first;
}

void Tchannel::notifyLevel(std::uint64_t sample, double db) const {
    if (env_.observer) env_.observer(ChannelEvent{ChannelEvent::Kind::Level, sample, {}, db});
}

void Tchannel::post(ChannelReport report) {
    if (!env_.reportSink || !env_.dispatcher) return;
    report.channel = params_.channelNumber;
    std::lock_guard lock(outbox_->mutex);
    flushUpTo_ = ++outbox_->lastNumber;
    outbox_->calls.emplace_back(flushUpTo_, [sink = env_.reportSink, r = std::move(report)] { sink(r); });
}

void Tchannel::notify(ChannelEvent::Kind kind, std::uint64_t sample, std::string text) const {
    if (env_.observer) env_.observer(ChannelEvent{kind, sample, std::move(text)});
}

void Tchannel::reportDetection(ChannelEvent::Kind kind, std::uint64_t sample) {
    notify(kind, sample, eventText_);
    ChannelReport report;
    report.kind = ChannelReport::Kind::Detected;
    switch (kind) {
        case ChannelEvent::Kind::Aon: report.detection = DetectionKind::CallerId; break;
        case ChannelEvent::Kind::Dtmf: report.detection = DetectionKind::Dtmf; break;
        case ChannelEvent::Kind::Pulse: report.detection = DetectionKind::Pulse; break;
        default: report.detection = DetectionKind::Plugin; break;
    }
    report.text = eventText_;
    if (fileOpened_ && writer_) {
        report.file = writer_->FileName();
        report.offsetSeconds = std::max(0.0, double(sample) / double(params_.sampleRate) - fileStartSeconds_);
    }
    post(std::move(report));
}

// ---------------------------------------------------------------------------------------------
// Names

std::string Tchannel::MakeFileName() const {
    std::lock_guard lock(mutex_);
    return makeFileNameLocked();
}

std::string Tchannel::makeFileNameLocked() const {
    RecordingNameParts parts;
    parts.recordDir = recordDir_;
    parts.prefix = prefix_;
    parts.channelNumber = params_.channelNumber;
    parts.toServer = globals_.serverEnabled && env_.server;
    parts.tempFolder = globals_.tempFolder;
    parts.computerName = globals_.computerName;
    parts.dayFolders = globals_.dayFolders;
    return RecordingBaseName(parts, env_.clock->now());
}

// ---------------------------------------------------------------------------------------------
// Levels for the display

double Tchannel::LevelHistoryTick() {
    if (stopping_.load(std::memory_order_acquire)) return -60.0;
    std::lock_guard lock(levelMutex_);
    const double v = showLevel_.Pop();
    historySum_ += v;
    historyCount_ += 1;
    if (historyCount_ == 5) {
        std::move(history_.begin() + 1, history_.end(), history_.begin());
        history_.back() = historySum_ / historyCount_;
        historySum_ = 0.0;
        historyCount_ = 0;
    }
    return v;
}

std::array<double, Tchannel::kHistory> Tchannel::LevelHistory() const {
    std::lock_guard lock(levelMutex_);
    return history_;
}

// ---------------------------------------------------------------------------------------------
// Settings

void Tchannel::SetThreshold(double dB) {
    std::lock_guard lock(mutex_);
    threshold_ = dB;
    levelCheck_.SetThreshold(dB);
    voxLevelCheck_.SetThreshold(dB);
}

void Tchannel::SetDelays(int stopMinHits, double startSeconds, double stopSeconds) {
    std::lock_guard lock(mutex_);
    levelCheck_.SetTimes(startSeconds, stopSeconds, stopMinHits);
    voxLevelCheck_.SetTimes(startSeconds, stopSeconds, stopMinHits);
    vox_.SetStopTime(stopSeconds);
}

void Tchannel::SetFormat(recording::FileFormat format) {
    std::lock_guard lock(mutex_);
    if (writer_ && env_.writeFiles) {
        // Destroying the writer completes any open file without a report; a recording in
        // progress goes on into the new writer's pre-record buffer until it is stopped.
        writer_.reset();
        fileOpened_ = false;
        format_ = format;
        writer_ = makeWriter(format_, params_.samplesPerBlock);
        reportedRemade_ = 0;
    }
    format_ = format;
}

void Tchannel::SetMp3Params(int bitrate, int quality, int sampleRate) {
    std::lock_guard lock(mutex_);
    mp3Bitrate_ = bitrate;
    mp3Quality_ = quality;
    mp3SampleRate_ = sampleRate;
    if (writer_) writer_->SetMp3Params(bitrate, quality, sampleRate);
}

void Tchannel::SetPredTime(int seconds) {
    std::lock_guard lock(mutex_);
    predSeconds_ = std::clamp(seconds, 0, kMaxPredSeconds);
    if (writer_) writer_->SetPredTime(predSeconds_);
}

void Tchannel::SetFilebits(int bits) {
    std::lock_guard lock(mutex_);
    fileBits_ = bits;
    if (writer_) writer_->SetFilebits(bits);
}

void Tchannel::SetRecordDir(const std::string& path) {
    std::string dir = path;
    if (dir.empty())
        dir = globals_.programFolder.string();
    else if (dir.size() > 1 && (dir.back() == '/' || dir.back() == '\\'))
        dir.pop_back();
    std::error_code ec;
    fs::create_directory(dir, ec);  // one level; an existing folder is no error
    std::lock_guard lock(mutex_);
    recordDir_ = dir;
}

std::string Tchannel::RecordDir() const {
    std::lock_guard lock(mutex_);
    return recordDir_;
}

recording::FileFormat Tchannel::Format() const {
    std::lock_guard lock(mutex_);
    return format_;
}

std::optional<ChannelReport> Tchannel::ShutdownReport() const {
    std::lock_guard lock(mutex_);
    return shutdownReport_;
}

std::string Tchannel::OpenFileName() const {
    std::lock_guard lock(mutex_);
    return writer_ && writer_->IsOpen() ? writer_->FileName() : std::string();
}

#define KESTAVO_SETTER(Name, Type, field) \
    void Tchannel::Name(Type value) {     \
        std::lock_guard lock(mutex_);     \
        field = value;                    \
    }
KESTAVO_SETTER(SetAutoRecord, bool, autoRecord_)
KESTAVO_SETTER(SetRecordMode, RecordMode, mode_)
KESTAVO_SETTER(SetMinTime, int, minTime_)
KESTAVO_SETTER(SetAon, bool, aonOn_)
KESTAVO_SETTER(SetDtmf, bool, dtmfOn_)
KESTAVO_SETTER(SetPulse, bool, pulseOn_)
KESTAVO_SETTER(SetDetectOnlyWhileRecording, bool, detectOnlyWhileRecording_)
KESTAVO_SETTER(SetCompressor, bool, compressorOn_)
KESTAVO_SETTER(SetK1, double, k1_)
KESTAVO_SETTER(SetK2, double, k2_)
KESTAVO_SETTER(SetAgc, bool, agcOn_)
KESTAVO_SETTER(SetCombined, bool, combined_)
KESTAVO_SETTER(SetPrefix, const std::string&, prefix_)
KESTAVO_SETTER(SetGlobals, const ChannelGlobals&, globals_)
KESTAVO_SETTER(SetDurationText, const std::string&, durationText_)
#undef KESTAVO_SETTER

void Tchannel::SetChannelNumber(int number) {
    std::lock_guard lock(mutex_);
    if (number == params_.channelNumber) return;
    params_.channelNumber = number;
    channelNumber_.store(number, std::memory_order_release);
    schedule_ = config::Tperiods(number, globals_.programFolder);
    (void)schedule_.Load();  // a missing schedule file leaves the schedule empty
    control_ = config::Tctrol(number, globals_.programFolder);
}

void Tchannel::SetPulseThreshold(double threshold) {
    std::lock_guard lock(mutex_);
    pulse_.SetThreshold(threshold);
}

double Tchannel::PulseThreshold() const {
    std::lock_guard lock(mutex_);
    return pulse_.Threshold();
}

int Tchannel::CheckSchedule(const platform::LocalTime& now) {
    std::lock_guard lock(mutex_);
    return schedule_.CheckTime(now);
}

void Tchannel::EditSchedule(const std::function<void(config::Tperiods&)>& edit) {
    std::lock_guard lock(mutex_);
    edit(schedule_);
}

void Tchannel::ReloadControlList() {
    std::lock_guard lock(mutex_);
    (void)control_.Reload();  // an unreadable list is an empty list
}

RecordMode Tchannel::Mode() const {
    std::lock_guard lock(mutex_);
    return mode_;
}

bool Tchannel::AutoRecord() const {
    std::lock_guard lock(mutex_);
    return autoRecord_;
}

void Tchannel::SetMonitor(bool on, MonitorSink* monitor) {
    std::lock_guard lock(mutex_);
    monitor_ = on ? monitor : nullptr;
}

std::size_t Tchannel::MemoryBytes() const {
    std::lock_guard lock(mutex_);
    std::size_t bytes = sizeof(*this) + queue_.memoryBytes();
    bytes += std::size_t(showLevel_.Capacity) * sizeof(double);
    if (writer_) bytes += writer_->MemoryBytes();
    return bytes;
}

// ---------------------------------------------------------------------------------------------
// Plug-ins

fs::path Tchannel::pluginListPath() const {
    return globals_.programFolder / ("plg" + std::to_string(params_.channelNumber) + ".ust");
}

void Tchannel::loadPluginList() {
    std::ifstream in(pluginListPath());
    std::string line;
    while (std::getline(in, line)) {
        const auto b = line.find_first_not_of(" \t\r");
        if (b == std::string::npos) continue;
        const auto e = line.find_last_not_of(" \t\r");
        AddPlugin(line.substr(b, e - b + 1));
    }
}

void Tchannel::savePluginList() const {
    std::ofstream out(pluginListPath(), std::ios::trunc);
    for (const auto& p : plugins_) out << p->FileName() << "\n";
}

void Tchannel::AddPlugin(const std::string& fileName) {
    std::unique_lock lock(mutex_);
    addPluginLocked(fileName);
    unlockAndPost(lock);  // a refusal's report
}

void Tchannel::addPluginLocked(const std::string& fileName) {
    if (fileName.empty() || fileName.find_first_of("/\\") != std::string::npos) return;
    for (const auto& p : plugins_)
        if (p->FileName() == fileName) return;
    std::error_code ec;
    const fs::path file = globals_.programFolder / "PLUGINS" / fileName;
    if (!fs::exists(file, ec)) return;
    if (env_.pluginVetting) {
        // A plug-in that fails its trial costs only its own attachment.
        if (const auto verdict = env_.pluginVetting->Check(file); !verdict.ok) {
            ChannelReport report;
            report.kind = ChannelReport::Kind::PluginRefused;
            report.file = file.string();
            report.text = verdict.problem;
            post(std::move(report));
            return;
        }
    }
    auto plugin = std::make_unique<services::Tplugin>(globals_.programFolder, params_.channelNumber, fileName);
    if (plugin->Loaded()) plugins_.push_back(std::move(plugin));
}

void Tchannel::RemovePlugin(const std::string& fileName) {
    std::lock_guard lock(mutex_);
    const auto it =
        std::find_if(plugins_.begin(), plugins_.end(), [&](const auto& p) { return p->FileName() == fileName; });
    if (it != plugins_.end()) plugins_.erase(it);
}

std::vector<std::string> Tchannel::PluginNames() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> names;
    for (const auto& p : plugins_) names.push_back(p->FileName());
    return names;
}

}  // namespace kestavo::capture
