#include "app/channel_dialog.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>

#include "config/ini_file.h"
#include "config/language_table.h"
#include "config/text_file.h"
#include "platform/line_rate.h"
#include "services/plugin_host.h"

namespace kestavo::app {

namespace fs = std::filesystem;

namespace {

constexpr int kFallbackBitrate = 16;  // kbit/s taken when the bit-rate text is not a number
constexpr int kWriterMinKbps = 8, kWriterMaxKbps = 128;
constexpr int kMpeg25Rates[] = {8, 16, 24, 32, 40, 48, 56, 64};  // layer III at 11025 Hz, kbit/s

std::string fixed(double value, int decimals, char separator) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    std::string s = buffer;
    if (separator != '.')
        if (auto dot = s.find('.'); dot != std::string::npos) s[dot] = separator;
    return s;
}

// A time of day typed as HH:MM; nullopt unless it is one (blanks around allowed).
std::optional<double> typedTimeOfDay(std::string_view text) {
    const auto t = config::ParseTimeOfDay(text);
    if (!t || *t >= 1.0) return std::nullopt;  // a time of day ends before 24:00
    return t;
}

int qualityCode(std::string_view text) {
    for (int i = 0; i < 3; ++i)
        if (text == kQualityChoices[i]) return i + 1;
    return 4;  // "VOICE QUALITY" and any other text
}

std::vector<std::string> splitTabs(const std::string& line) {
    std::vector<std::string> out;
    std::size_t from = 0;
    for (;;) {
        const auto tab = line.find('\t', from);
        out.push_back(line.substr(from, tab == std::string::npos ? std::string::npos : tab - from));
        if (tab == std::string::npos) break;
        from = tab + 1;
    }
    return out;
}

}  // namespace

std::map<int, std::string> ReadLanguageTexts(const fs::path& programFolder, std::string_view language,
                                             std::span<const int> ascending) {
    std::map<int, std::string> texts;
    config::Tlang table(programFolder, language);
    for (int n : ascending)
        if (std::string t = table.GetText(n); !t.empty()) texts[n] = std::move(t);
    return texts;
}

int EffectiveMp3Bitrate(int chosenKbps) noexcept {
    const int kbps = std::clamp(chosenKbps, kWriterMinKbps, kWriterMaxKbps);
    int best = kMpeg25Rates[0];
    for (int rate : kMpeg25Rates)
        if (std::abs(rate - kbps) < std::abs(best - kbps)) best = rate;  // a tie keeps the lower
    return best;
}

// ---------------------------------------------------------------------------------------------
// Loading

ChannelDialogModel::ChannelDialogModel(Tkanal& row, const config::GeneralSettings& general,
                                       const config::ConfigFiles& files)
    : row_(row), general_(general), files_(files) {}

void ChannelDialogModel::LoadCaptions(std::string_view language) {
    captions_ = ReadLanguageTexts(files_.programFolder, language, kCaptionTexts);
    russian_ = language == "Russian";
    if (general_.ENABLED)
        if (std::string t = Caption(102); !t.empty()) fields.folder = std::move(t);  // the server's folder text
    const std::string group = Caption(101);
    fields.groupCaption = (group.empty() ? std::string("Установки канала ") : group) + std::to_string(k_);
}

std::string ChannelDialogModel::Caption(int n) const {
    const auto it = captions_.find(n);
    return it == captions_.end() ? std::string() : it->second;
}

void ChannelDialogModel::CoefficientsChanged() {
    const config::ChannelSettings s = row_.Settings();
    fields.k1 = fixed(s.k1, 2, files_.decimalSeparator);
    fields.k2 = fixed(s.k2, 2, files_.decimalSeparator);
}

void ChannelDialogModel::Load(int k) {
    k_ = k;
    applied_ = false;
    LoadCaptions(general_.Language);
    const config::ChannelSettings s = row_.Settings();
    ChannelDialogFields& f = fields;
    f.callerId = s.callerId;
    const std::string serverFolder = Caption(102);
    f.folder = !general_.ENABLED ? s.recordDir : serverFolder.empty() ? "Папка задается сервером" : serverFolder;
    f.k1 = fixed(s.k1, 2, files_.decimalSeparator);
    f.k2 = fixed(s.k2, 2, files_.decimalSeparator);
    f.prefix = s.filePrefix;
    f.minSeconds = std::to_string(s.minTimeSeconds);
    f.compressor = s.compressor;
    f.pulse = s.pulseDetector;
    f.dtmf = s.dtmf;
    f.agc = s.agc;
    f.detectOnlyWhileRecording = s.detectOnlyWhileRecording;
    f.combined = s.combined;
    // Setting the sliders stores their positions back into the row, rounded to 0.1 s.
    SetStartDelayPosition(int(std::lround(s.startDelaySeconds * 10.0)));
    SetStopDelayPosition(int(std::lround(s.stopDelaySeconds * 10.0)));
    f.maxMinutes = std::to_string(s.maxTimeMinutes);
    f.preRecordSeconds = std::to_string(s.preRecordSeconds);
    f.recordMode = s.recordMode >= 0 && s.recordMode < kRecordModes ? s.recordMode : 0;
    f.bitrate = std::to_string(s.mp3Bitrate);
    if (s.mp3Quality >= 1 && s.mp3Quality <= 4) f.quality = std::string(kQualityChoices[s.mp3Quality - 1]);
    f.uncompressed = s.compressMode == 0;
    f.bits = std::to_string(s.fileBits);
}

// ---------------------------------------------------------------------------------------------
// Controls that act at once

void ChannelDialogModel::SetPulse(bool on) {
    fields.pulse = on;
    auto s = row_.Settings();
    s.pulseDetector = on;
    keep_(s);
    if (auto* c = row_.Channel()) c->SetPulse(on);
}

void ChannelDialogModel::SetCallerId(bool on) {
    fields.callerId = on;
    auto s = row_.Settings();
    s.callerId = on;
    keep_(s);
    if (auto* c = row_.Channel()) c->SetAon(on);
}

void ChannelDialogModel::SetDtmf(bool on) {
    fields.dtmf = on;
    auto s = row_.Settings();
    s.dtmf = on;
    keep_(s);
    if (auto* c = row_.Channel()) c->SetDtmf(on);
}

void ChannelDialogModel::SetDetectOnlyWhileRecording(bool on) {
    fields.detectOnlyWhileRecording = on;
    auto s = row_.Settings();
    s.detectOnlyWhileRecording = on;
    keep_(s);
    if (auto* c = row_.Channel()) c->SetDetectOnlyWhileRecording(on);
}

void ChannelDialogModel::SetRecordMode(int mode) {
    if (mode < 0 || mode >= kRecordModes) return;
    fields.recordMode = mode;
    auto s = row_.Settings();
    s.recordMode = mode;
    keep_(s);
    if (auto* c = row_.Channel()) c->SetRecordMode(capture::RecordMode(mode));
}

std::string ChannelDialogModel::delayText_(int position) const {
    return fixed(position * 0.1, 1, files_.decimalSeparator);
}

void ChannelDialogModel::SetStartDelayPosition(int position) {
    position = std::clamp(position, kStartDelayMin, kStartDelayMax);
    fields.startDelayPosition = position;
    fields.startDelay = delayText_(position);
    auto s = row_.Settings();
    s.startDelaySeconds = position * 0.1;
    keep_(s);  // the channel gets it with the confirmation
}

void ChannelDialogModel::SetStopDelayPosition(int position) {
    position = std::clamp(position, kStopDelayMin, kStopDelayMax);
    fields.stopDelayPosition = position;
    fields.stopDelay = delayText_(position);
    auto s = row_.Settings();
    s.stopDelaySeconds = position * 0.1;
    keep_(s);
}

void ChannelDialogModel::ChooseFolder(const std::string& folder) {
    if (FolderChoosable() && !folder.empty()) fields.folder = folder;
}

// ---------------------------------------------------------------------------------------------
// Plug-ins, control list, schedule

std::vector<std::string> ChannelDialogModel::ChannelPlugins() const {
    const auto* c = row_.Channel();
    return c ? c->PluginNames() : std::vector<std::string>{};
}

std::vector<std::vector<std::string>> ChannelDialogModel::PluginCatalogue() const {
    std::vector<std::vector<std::string>> rows;
    // Each plug-in is tried in a process of its own first; one that fails is not offered.
    services::PluginVetting vetting(services::PluginVetting::DefaultProbe());
    for (const std::string& line : services::Tcommon_plugin(files_.programFolder, &vetting).ListPlugins()) {
        auto cells = splitTabs(line);
        cells.resize(3);
        rows.push_back(std::move(cells));
    }
    return rows;
}

void ChannelDialogModel::AddPlugin(const std::string& fileName) {
    if (auto* c = row_.Channel()) c->AddPlugin(fileName);
}

void ChannelDialogModel::RemovePlugin(const std::string& fileName) {
    if (auto* c = row_.Channel()) c->RemovePlugin(fileName);
}

fs::path ChannelDialogModel::ControlListFile() const {
    return files_.programFolder / "CONTROL" / (std::to_string(k_) + ".ctl");
}

void ChannelDialogModel::ControlListEdited() {
    if (auto* c = row_.Channel()) c->ReloadControlList();
}

std::vector<std::pair<std::string, std::string>> ChannelDialogModel::Periods() const {
    std::vector<std::pair<std::string, std::string>> rows;
    if (auto* c = row_.Channel()) c->EditSchedule([&](config::Tperiods& p) { rows = p.FillList(); });
    return rows;
}

std::optional<DialogNote> ChannelDialogModel::AddPeriod(std::string_view start, std::string_view stop) {
    const auto from = typedTimeOfDay(start);
    if (!from) return note_(DialogMessage::StartTimeError);
    const auto to = typedTimeOfDay(stop);
    if (!to) return note_(DialogMessage::StopTimeError);
    if (*from > *to) return note_(DialogMessage::StartAfterStop);
    if (auto* c = row_.Channel())
        c->EditSchedule([&](config::Tperiods& p) {
            (void)p.AddPeriod("", true, *from, *to);  // a file that cannot be written keeps the period for this run
        });
    return std::nullopt;
}

std::optional<DialogNote> ChannelDialogModel::RemovePeriod(std::string_view start, std::string_view stop) {
    const auto from = config::ParseTimeOfDay(start);
    const auto to = config::ParseTimeOfDay(stop);
    if (!from || !to) return note_(DialogMessage::PeriodError);
    if (auto* c = row_.Channel()) c->EditSchedule([&](config::Tperiods& p) { (void)p.DeletePeriod(*from, *to); });
    return std::nullopt;
}

std::optional<DialogNote> ChannelDialogModel::Cut(std::string_view minutes) {
    const auto m = config::parseInteger(minutes);
    if (!m) return note_(DialogMessage::NotADigit, minutes);
    if (*m == 0) return note_(DialogMessage::ZeroMinutes);
    if (auto* c = row_.Channel()) c->EditSchedule([&](config::Tperiods& p) { (void)p.CutIntoPeriods(*m); });
    return std::nullopt;
}

// ---------------------------------------------------------------------------------------------
// Apply

DialogNote ChannelDialogModel::note_(DialogMessage kind, std::string_view detail) const {
    const bool ru = russian_;
    std::string text;
    switch (kind) {
        case DialogMessage::BitsError: text = ru ? "Ошибка в числе битов на отсчет" : "Error in bits per sample"; break;
        case DialogMessage::BitrateError: text = ru ? "Ошибка в значении Bitrate" : "Error in the bit rate"; break;
        case DialogMessage::K1Error: text = ru ? "Ошибка в значении К1" : "Error in K1"; break;
        case DialogMessage::K2Error: text = ru ? "Ошибка в значении К2" : "Error in K2"; break;
        case DialogMessage::MaxTimeError:
            text = ru ? "Ошибка в значении максимального времени записи" : "Error in the maximum recording time";
            break;
        case DialogMessage::PreRecordError:
            text = ru ? "Ошибка в значении буфера до записи" : "Error in the pre-record buffer";
            break;
        case DialogMessage::MinTimeError:
            text = ru ? "Ошибка в минимальном времени записи" : "Error in the minimum recording time";
            break;
        case DialogMessage::WriteError: text = config::unableToWriteText(files_.file); break;
        case DialogMessage::StartTimeError: text = "Error in start time"; break;
        case DialogMessage::StopTimeError: text = "Error in stop time"; break;
        case DialogMessage::StartAfterStop: text = "Start time > stop time!"; break;
        case DialogMessage::PeriodError: text = "Error!"; break;
        case DialogMessage::NotADigit: text = std::string(detail) + " is not a digit!"; break;
        case DialogMessage::ZeroMinutes: text = "0 minutes not alloyed !"; break;
    }
    return DialogNote{kind, std::move(text)};
}

ApplyResult ChannelDialogModel::Apply() {
    ApplyResult result;
    ChannelDialogFields& f = fields;
    capture::Tchannel* c = row_.Channel();
    auto stop = [&](DialogMessage kind) {
        result.notes.push_back(note_(kind));
        return result;
    };

    // Compression: a new writer only when the format changes, so an open file is not cut for nothing.
    auto s = row_.Settings();
    s.compressMode = f.uncompressed ? 0 : 1;
    keep_(s);
    const auto format = recording::FileFormatOfCompressMode(s.compressMode);
    if (c && c->Format() != format) c->SetFormat(format);

    const auto bits = config::parseInteger(f.bits);
    if (!bits) return stop(DialogMessage::BitsError);
    s.fileBits = *bits;
    keep_(s);
    if (c) c->SetFilebits(*bits);

    auto bitrate = config::parseInteger(f.bitrate);
    if (!bitrate) {
        result.notes.push_back(note_(DialogMessage::BitrateError));
        bitrate = kFallbackBitrate;
        f.bitrate = std::to_string(kFallbackBitrate);
    }
    const int quality = qualityCode(f.quality);
    // The encoder is set up again (emptying the pre-record) only when a parameter changes.
    const bool mp3Changed = s.mp3Bitrate != *bitrate || s.mp3Quality != quality || s.mp3SampleRate != kLineRate;
    s.mp3Bitrate = *bitrate;
    s.mp3Quality = quality;
    s.mp3SampleRate = kLineRate;
    keep_(s);
    if (c && mp3Changed) c->SetMp3Params(*bitrate, quality, kLineRate);

    const auto k1 = config::parseReal(config::trimBlanks(f.k1), files_.decimalSeparator);
    if (!k1) return stop(DialogMessage::K1Error);
    s.k1 = *k1;
    keep_(s);
    const auto k2 = config::parseReal(config::trimBlanks(f.k2), files_.decimalSeparator);
    if (!k2) return stop(DialogMessage::K2Error);
    s.k2 = *k2;
    keep_(s);

    const auto maxMinutes = config::parseInteger(f.maxMinutes);
    if (!maxMinutes) return stop(DialogMessage::MaxTimeError);
    row_.SetMaxRecordMinutes(*maxMinutes);
    s = row_.Settings();

    const auto pre = config::parseInteger(f.preRecordSeconds);
    if (!pre) return stop(DialogMessage::PreRecordError);
    s.preRecordSeconds = *pre;
    keep_(s);
    if (c) c->SetPredTime(*pre);

    const auto minSeconds = config::parseInteger(f.minSeconds);
    if (!minSeconds) return stop(DialogMessage::MinTimeError);
    s.minTimeSeconds = *minSeconds;
    keep_(s);
    if (c) c->SetMinTime(*minSeconds);

    s.compressor = f.compressor;
    s.agc = f.agc;
    s.combined = f.combined;
    if (!general_.ENABLED) s.recordDir = f.folder;  // with the server the folder is the server's
    keep_(s);
    if (c) {
        c->SetAgc(f.agc);
        c->SetCombined(f.combined);
    }

    config::ChannelSettings saved = s;
    saved.filePrefix = f.prefix;
    if (config::SaveChannelDialogSettings(files_, general_, std::size_t(k_ - 1), saved))
        return stop(DialogMessage::WriteError);

    row_.SetDelays(s.startDelaySeconds, s.stopDelaySeconds);
    if (c) {
        c->SetRecordDir(s.recordDir);
        c->SetCompressor(s.compressor);
        c->SetK1(s.k1);
        c->SetK2(s.k2);
    }

    s = row_.Settings();
    s.filePrefix = f.prefix;
    keep_(s);
    if (c) c->SetPrefix(f.prefix);
    result.completed = true;
    return result;
}

ApplyResult ChannelDialogModel::Confirm() {
    applied_ = true;
    return Apply();
}

ApplyResult ChannelDialogModel::Closing() {
    if (applied_) return {};
    applied_ = true;
    return Apply();
}

std::optional<int> ChannelDialogModel::EffectiveBitrate() const {
    const auto kbps = config::parseInteger(fields.bitrate);
    if (!kbps) return std::nullopt;
    return EffectiveMp3Bitrate(*kbps);
}

// ---------------------------------------------------------------------------------------------
// The control list editor

std::string ControlListText::Caption(std::string_view language, int k) {
    if (language == "Russian") return "Включение записи по ID для канала " + std::to_string(k);
    if (language == "English") return "Start recording while ID detected " + std::to_string(k);
    return {};
}

std::vector<std::string> ControlListText::Read(const fs::path& file) {
    std::vector<std::string> lines;
    std::ifstream in(file, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
    }
    return lines;
}

std::error_code ControlListText::Write(const fs::path& file, const std::vector<std::string>& lines) {
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    if (ec) return ec;
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    for (const auto& l : lines) out << l << '\n';
    out.flush();
    if (!out) return std::make_error_code(std::errc::io_error);
    return {};
}

}  // namespace kestavo::app
