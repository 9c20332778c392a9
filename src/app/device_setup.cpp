#include "app/device_setup.h"

#include <algorithm>
#include <charconv>
#include <filesystem>

namespace kestavo::app {

namespace {

constexpr const char* kSide1 = " 1 канал";
constexpr const char* kSide2 = " 2 канал";
constexpr int kRate = kLineRate;
constexpr int kBits = 16;

// The text after the first blank (all of it when there is none).
std::string_view afterFirstBlank(std::string_view s) {
    const auto blank = s.find(' ');
    return blank == std::string_view::npos ? s : s.substr(blank + 1);
}

// Code points of a UTF-8 text; a broken byte counts as one character of its own.
std::vector<char32_t> codePoints(std::string_view s) {
    std::vector<char32_t> out;
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        int len = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 1;
        if (i + std::size_t(len) > s.size()) len = 1;
        char32_t cp = len == 1 ? b : (b & (0x7F >> len));
        for (int k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + std::size_t(k)]) & 0x3F);
        out.push_back(cp);
        i += std::size_t(len);
    }
    return out;
}

int toInt(std::string_view text, int fallback) {
    int v = fallback;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
    return r.ec == std::errc() ? v : fallback;
}

}  // namespace

int PositionalScore(std::string_view wanted, std::string_view sideName) {
    const auto a = codePoints(afterFirstBlank(wanted));
    const auto b = codePoints(afterFirstBlank(sideName));
    int score = 0;
    for (std::size_t k = 0; k < a.size() && k < b.size(); ++k)
        if (a[k] == b[k]) ++score;
    return score;
}

TWWSK::TWWSK(WskEnv env, const std::vector<config::ChannelSetupLine>& lines, bool loadAll) : env_(std::move(env)) {
    enumerate_();
    if (loadAll)
        buildAll_();
    else
        buildConfigured_(lines);
}

TWWSK::~TWWSK() { Shutdown(); }

std::vector<OutputDevice> EnumerateOutputs(platform::SoundOutputSystem* output) {
    std::vector<OutputDevice> outputs{OutputDevice{platform::SoundOutputSystem::kWaveMapper, "WAVE_MAPPER"}};
    if (output) {
        const auto outs = output->outputDevices();
        for (std::size_t i = 0; i < outs.size(); ++i)
            outputs.push_back(OutputDevice{int(i), std::to_string(i) + " " + outs[i].productName});
    }
    return outputs;
}

std::vector<InputSide> EnumerateInputSides(platform::SoundInputSystem& input) {
    std::vector<InputSide> sides;
    int counter = 0;  // a number is used up even when its side is not listed
    const auto inputs = input.inputDevices();
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const auto& info = inputs[i];
        const std::string base = std::to_string(i) + " " + info.productName;
        InputSide left;
        left.device = int(i);
        left.side = 1;
        left.sideNumber = ++counter;
        left.name = base + kSide1;
        left.product = info.productName;
        if (info.mono) sides.push_back(left);
        if (info.stereo) {
            InputSide right = left;
            right.side = 2;
            right.sideNumber = ++counter;
            right.name = base + kSide2;
            sides.push_back(right);
        }
    }
    return sides;
}

void TWWSK::enumerate_() {
    outputs_ = EnumerateOutputs(env_.output);
    if (env_.input) sides_ = EnumerateInputSides(*env_.input);
}

bool TWWSK::ProbeInput(int device, int channels) {
    if (captureIndex_(device) >= 0) return true;
    if (!env_.input) return false;
    std::error_code error;
    auto opened = env_.input->open(device, platform::WaveFormat::pcm(channels, kRate, kBits), error);
    if (!opened) return false;
    opened->close();
    return true;
}

int TWWSK::FindSideByName(std::string_view name) {
    for (std::size_t i = 0; i < sides_.size(); ++i) {
        if (sides_[i].name != name) continue;
        // A side already claimed in this build by an earlier line builds nothing a second time.
        if (sides_[i].claimed) return -1;
        sides_[i].claimed = true;
        return int(i);
    }
    int best = -1, bestScore = -1;
    for (std::size_t i = 0; i < sides_.size(); ++i) {
        if (sides_[i].claimed) continue;
        const int score = PositionalScore(name, sides_[i].name);
        if (score > bestScore) {
            best = int(i);
            bestScore = score;
        }
    }
    if (best >= 0) sides_[std::size_t(best)].claimed = true;
    return best;
}

Tkanal* TWWSK::addRow_(const InputSide& side, int compressMode, int sampleRate, int quality, int bitrate) {
    RowPlan plan;
    plan.deviceId = side.device;
    plan.sideNumber = side.sideNumber;
    plan.compressMode = compressMode;
    plan.sampleRate = sampleRate;
    plan.quality = quality;
    plan.bitrate = bitrate;
    plan.name = side.name;
    plan.channelNumber = int(env_.rows->size()) + 1;
    auto row = env_.makeRow(plan);
    if (!row) return nullptr;
    env_.rows->push_back(std::move(row));
    return env_.rows->back().get();
}

void TWWSK::buildAll_() {
    // Devices in enumeration order, each with its sides in order.
    std::vector<int> devices;
    for (const auto& s : sides_)
        if (devices.empty() || devices.back() != s.device) devices.push_back(s.device);
    for (int device : devices) {
        int sideCount = 0;
        for (const auto& s : sides_) sideCount += s.device == device;
        // A device with one side is probed as it will be captured, so a mono-only line is usable.
        if (!ProbeInput(device, sideCount >= 2 ? 2 : 1)) continue;
        for (auto& s : sides_) {
            if (s.device != device) continue;
            s.inUse = true;
            addRow_(s, 1, kLineRate, 4, 32);
        }
        if (auto c = makeCapture_(device)) captures_.push_back(Capture{device, std::move(c)});
    }
}

void TWWSK::buildConfigured_(const std::vector<config::ChannelSetupLine>& lines) {
    struct Group {
        int device = 0;
        int firstSide = -1, secondSide = -1;  // indexes into sides_
        bool opened = false;
    };
    std::vector<Group> groups;
    std::vector<int> sideOfLine(lines.size(), -1);
    std::vector<int> groupOfLine(lines.size(), -1);

    // Pass 1: the side of every line, its MP3 values, and the device groups.
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const int found = FindSideByName(lines[i].device);
        if (found < 0) continue;
        auto& side = sides_[std::size_t(found)];
        side.mp3Bitrate = toInt(lines[i].mp3Bitrate, 16);
        side.mp3Quality = toInt(lines[i].mp3Quality, 4);
        side.mp3SampleRate = toInt(lines[i].mp3SampleRate, kLineRate);
        side.compressMode = lines[i].compressMode;
        sideOfLine[i] = found;
        auto g = std::find_if(groups.begin(), groups.end(),
                              [&](const Group& x) { return x.device == side.device && x.firstSide != found; });
        if (g != groups.end()) {
            g->secondSide = found;
        } else {
            groups.push_back(Group{side.device, found, -1, false});
            g = groups.end() - 1;
        }
        groupOfLine[i] = int(g - groups.begin());
    }
    // Pass 2: which devices open.
    for (auto& g : groups) g.opened = ProbeInput(g.device, 1);
    for (auto& s : sides_) s.claimed = false;
    // Pass 3: the channels, numbered in line order among the lines that build one.
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (sideOfLine[i] < 0 || !groups[std::size_t(groupOfLine[i])].opened) continue;
        auto& side = sides_[std::size_t(sideOfLine[i])];
        side.inUse = true;
        addRow_(side, side.compressMode, side.mp3SampleRate, side.mp3Quality, side.mp3Bitrate);
    }
    // Pass 4: one capture thread per opened device, bound to its channels.
    for (const auto& g : groups) {
        if (!g.opened || captureIndex_(g.device) >= 0) continue;
        if (auto c = makeCapture_(g.device)) captures_.push_back(Capture{g.device, std::move(c)});
    }
}

int TWWSK::sideOfRow_(const Tkanal& row) const {
    for (const auto& s : sides_)
        if (s.sideNumber == row.SideNumber()) return s.side;
    return 1;
}

std::unique_ptr<capture::tsoundin> TWWSK::makeCapture_(int device, int openAs, bool quiet) {
    Tkanal* left = nullptr;
    Tkanal* right = nullptr;
    for (auto& row : *env_.rows) {
        if (row->DeviceId() != device || !row->Channel()) continue;
        (sideOfRow_(*row) == 2 ? right : left) = row.get();
    }
    if (!left && !right) return nullptr;
    auto sinkOf = [&](Tkanal* row) -> capture::BlockSink {
        if (!row) return {};
        capture::Tchannel& channel = *row->Channel();
        if (env_.makeSink) return env_.makeSink(channel);
        return [&channel](const std::byte* block, std::uint32_t length) { channel.PutData(block, length); };
    };
    capture::SoundInParams p;
    p.bitsPerSample = kBits;
    p.channelCount = right ? 2 : 1;
    p.deviceId = openAs >= 0 ? openAs : device;
    p.sampleRate = kRate;
    p.samplesPerBlock = 16384;
    p.leftChannel = left ? left->Number() : -1;
    p.rightChannel = right ? right->Number() : -1;
    p.leftSink = sinkOf(left);
    p.rightSink = sinkOf(right);
    p.ownerWatchesLoss = true;
    auto thread = std::make_unique<capture::tsoundin>(
        *env_.input, std::move(p), *env_.stop, quiet ? std::function<void(const std::string&)>() : env_.showMessage,
        quiet ? std::chrono::milliseconds(0) : env_.retryDelay);
    if (thread->Failed()) return nullptr;
    return thread;
}

int TWWSK::captureIndex_(int device) const {
    for (std::size_t i = 0; i < captures_.size(); ++i)
        if (captures_[i].device == device) return int(i);
    return -1;
}

const capture::tsoundin* TWWSK::CaptureFor(int device) const {
    const int i = captureIndex_(device);
    return i < 0 ? nullptr : captures_[std::size_t(i)].thread.get();
}

int TWWSK::AddChannelForSide(const std::string& sideName) {
    auto it = std::find_if(sides_.begin(), sides_.end(), [&](const InputSide& s) { return s.name == sideName; });
    if (it == sides_.end() || it->inUse || shutDown_) return -1;
    if (!ProbeInput(it->device, 1)) return -1;
    it->inUse = true;
    addRow_(*it, 1, kLineRate, 4, 32);
    const int index = captureIndex_(it->device);
    if (index >= 0) {
        // The old thread ends before the new one opens the device.
        captures_[std::size_t(index)].thread.reset();
        captures_[std::size_t(index)].thread = makeCapture_(it->device, captures_[std::size_t(index)].openAs);
        if (!captures_[std::size_t(index)].thread) captures_.erase(captures_.begin() + index);
    } else if (auto c = makeCapture_(it->device)) {
        captures_.push_back(Capture{it->device, std::move(c)});
    }
    return it->sideNumber;
}

void TWWSK::RemoveChannelForSide(const std::string& sideName) {
    auto it = std::find_if(sides_.begin(), sides_.end(), [&](const InputSide& s) { return s.name == sideName; });
    if (it == sides_.end() || !it->inUse || shutDown_) return;
    it->inUse = false;
    const int device = it->device;
    const int index = captureIndex_(device);
    if (index >= 0) captures_[std::size_t(index)].thread.reset();  // capture stops before its channels
    auto& rows = *env_.rows;
    const auto row = std::find_if(rows.begin(), rows.end(),
                                  [&](const std::unique_ptr<Tkanal>& r) { return r->SideNumber() == it->sideNumber; });
    if (row != rows.end()) {
        if ((*row)->Monitoring()) SelectMonitorChannel("", platform::SoundOutputSystem::kWaveMapper);
        const std::size_t position = std::size_t(row - rows.begin());
        (*row)->SetClosing();
        (*row)->ReleaseChannel();
        rows.erase(row);
        if (env_.files) {
            (void)config::WriteNewChannelDefaults(*env_.files, position);  // best effort, as at run time
            moveChannelFilesUp_(position + 1, rows.size() + 1);
        }
        renumber_();
    }
    if (index >= 0) {
        captures_[std::size_t(index)].thread = makeCapture_(device, captures_[std::size_t(index)].openAs);
        if (!captures_[std::size_t(index)].thread) captures_.erase(captures_.begin() + index);
    }
}

void TWWSK::moveChannelFilesUp_(std::size_t removed, std::size_t last) {
    // The schedule is time<n>.tim and the control list CONTROL/<n>.ctl in the program folder: the
    // removed channel's go, and every later channel's take the number it is about to get, so each
    // channel keeps its own and a channel added later starts with none. Failures are ignored on
    // purpose: a file left behind only means a channel starts with another's list.
    const auto& folder = env_.files->programFolder;
    const auto schedule = [&](std::size_t n) { return folder / ("time" + std::to_string(n) + ".tim"); };
    const auto control = [&](std::size_t n) { return folder / "CONTROL" / (std::to_string(n) + ".ctl"); };
    std::error_code ec;
    for (const auto& name : {schedule(removed), control(removed)}) std::filesystem::remove(name, ec);
    for (std::size_t n = removed + 1; n <= last; ++n) {
        if (std::filesystem::exists(schedule(n), ec)) std::filesystem::rename(schedule(n), schedule(n - 1), ec);
        if (std::filesystem::exists(control(n), ec)) std::filesystem::rename(control(n), control(n - 1), ec);
    }
}

void TWWSK::renumber_() {
    for (std::size_t i = 0; i < env_.rows->size(); ++i) (*env_.rows)[i]->SetNumber(int(i) + 1);
}

void TWWSK::SelectMonitorChannel(const std::string& sideName, int outputDevice) {
    if (monitor_) monitor_->SelectChannel(nullptr);
    for (auto& row : *env_.rows) row->SetMonitoring(false);
    if (sideName.empty()) {
        monitor_.reset();
        return;
    }
    for (auto& row : *env_.rows) {
        if (row->Name() != sideName || !row->Channel()) continue;
        if (!monitor_ && env_.makeMonitor) monitor_ = env_.makeMonitor(outputDevice);
        row->SetMonitoring(true);
        if (monitor_) monitor_->SelectChannel(row->Channel());
        return;
    }
}

void TWWSK::ListAssignments(std::vector<std::string>& channels, std::vector<std::string>& freeSides) const {
    for (const auto& row : *env_.rows)
        channels.push_back(row->Settings().filePrefix + "\t" + row->Name() + "\t" + std::to_string(row->Number()));
    for (const auto& s : sides_)
        if (!s.inUse) freeSides.push_back(s.name);
}

void TWWSK::RestartCaptures() {
    if (shutDown_) return;
    for (auto& c : captures_) {
        c.thread.reset();
        c.thread = makeCapture_(c.device, c.openAs);
    }
    std::erase_if(captures_, [](const Capture& c) { return !c.thread; });
}

std::vector<TWWSK::LostDevice> TWWSK::TakeLostCaptures() {
    std::vector<LostDevice> found;
    if (shutDown_) return found;
    for (auto it = captures_.begin(); it != captures_.end();) {
        if (!it->thread || !it->thread->Lost()) {
            ++it;
            continue;
        }
        LostDevice d;
        d.device = it->device;
        d.reason = it->thread->LostReason();
        for (const auto& side : sides_)
            if (side.device == it->device) d.product = side.product;
        it = captures_.erase(it);  // the thread has ended: joining it does not wait
        lost_.push_back(d);
        found.push_back(std::move(d));
    }
    return found;
}

bool TWWSK::Reopen(int device) {
    const auto lost = std::find_if(lost_.begin(), lost_.end(), [&](const LostDevice& d) { return d.device == device; });
    if (lost == lost_.end() || shutDown_ || !env_.input) return false;
    bool channels = false, stereo = false;
    for (const auto& row : *env_.rows) {
        if (row->DeviceId() != device || !row->Channel()) continue;
        channels = true;
        stereo = stereo || sideOfRow_(*row) == 2;
    }
    if (!channels) {
        lost_.erase(lost);
        return false;
    }
    const auto devices = env_.input->inputDevices();
    auto usable = [&](std::size_t i) {
        return devices[i].productName == lost->product && (stereo ? devices[i].stereo : devices[i].mono);
    };
    int openAs = -1;
    if (device >= 0 && std::size_t(device) < devices.size() && usable(std::size_t(device))) openAs = device;
    for (std::size_t i = 0; openAs < 0 && i < devices.size(); ++i)
        if (usable(i)) openAs = int(i);
    if (openAs < 0) return false;
    auto thread = makeCapture_(device, openAs, true);
    if (!thread) return false;
    captures_.push_back(Capture{device, std::move(thread), openAs});
    lost_.erase(lost);
    return true;
}

void TWWSK::Shutdown() {
    if (shutDown_) return;
    shutDown_ = true;
    if (env_.stop) env_.stop->set();
    captures_.clear();  // each capture thread ends and releases its device
    lost_.clear();
    if (monitor_) monitor_->SelectChannel(nullptr);  // detached while the channel still exists
    if (env_.rows)
        for (auto& row : *env_.rows) row->ReleaseChannel();
    monitor_.reset();  // the playback itself ends last
}

}  // namespace kestavo::app
