#include "app/level_grid.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "app/channel_dialog.h"

namespace kestavo::app {

namespace {

constexpr int kTextNumbers[] = {85, 86, 87, 88, 89, 90, 99, 100};
constexpr double kLevelRange = 60.0;  // dB from the top of the graph to its bottom
constexpr double kPulseStep = 0.0001;

// `value` with `decimals` digits after a point, whatever the C library's locale.
std::string fixed(double value, int decimals) {
    char buffer[64];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals).ptr;
    return std::string(buffer, end);
}

double linear(double dB) { return std::pow(10.0, dB * 0.05); }

}  // namespace

LevelGrid::LevelGrid(AppCore& core) : core_(core) { ++instances_; }

LevelGrid::~LevelGrid() {
    if (mixer_) mixer_->setChangeListener(nullptr);
    --instances_;
}

Tkanal* LevelGrid::row_() const { return core_.Row(k_); }

void LevelGrid::loadTexts_() {
    const std::string& language = core_.Settings().Language;
    const auto t = ReadLanguageTexts(core_.Files().programFolder, language, kTextNumbers);
    auto text = [&t](int n, const char* fallback) {
        const auto it = t.find(n);
        return it != t.end() && !it->second.empty() ? it->second : std::string(fallback);
    };
    const bool pulse = mode_ == LevelGridMode::Pulse;
    texts_.caption =
        (pulse ? text(100, "Порог импульсного набора канала ") : text(99, "Порог канала ")) + std::to_string(k_);
    texts_.group = text(85, "Уровень сигнала во времени");
    texts_.mixerLine = text(86, "Линия микшера:");
    texts_.threshold = text(87, "Порог срабатывания:");
    texts_.lineOn = text(88, "Линия Вкл.");
    texts_.top = pulse ? "0.5" : text(89, "0 Дб");
    texts_.bottom = pulse ? "0.0001" : text(90, "-60 Дб");
    texts_.noMixer = language == "Russian" ? "Нет микшера для этой линии" : "No mixer for this line";
}

bool LevelGrid::Prepare(int k, LevelGridMode mode, std::unique_ptr<platform::SoundMixer> mixer) {
    k_ = k;
    mode_ = mode;
    Tkanal* row = row_();
    if (row == nullptr || row->Channel() == nullptr) return false;
    loadTexts_();
    if (mode_ == LevelGridMode::Level) {
        slider_ = int(std::lround(row->Settings().threshold * 100.0));
        scale_ = kGraphHeight / kLevelRange;
    } else {
        slider_ = int(std::lround(row->Channel()->PulseThreshold() / kPulseStep));
        scale_ = kGraphHeight * 2.0;
    }
    slider_ = std::clamp(slider_, SliderMin(), SliderMax());
    showValue_();

    if (mixer_) mixer_->setChangeListener(nullptr);
    mixer_ = std::move(mixer);
    lines_ = mixer_ ? mixer_->lines() : std::vector<std::string>{};
    selected_ = -1;
    line_ = {};
    volumePosition_ = 0;
    if (mixer_) mixer_->setChangeListener([this] { mixerChanged_(); });
    if (!lines_.empty()) {
        const int stored = row->Settings().mixerLine;
        SelectLine(stored >= 0 && std::size_t(stored) < lines_.size() ? stored : 0);
    }
    ++revision_;
    return true;
}

int LevelGrid::SliderMin() const noexcept { return mode_ == LevelGridMode::Level ? kLevelSliderMin : kPulseSliderMin; }

int LevelGrid::SliderMax() const noexcept { return mode_ == LevelGridMode::Level ? kLevelSliderMax : kPulseSliderMax; }

void LevelGrid::showValue_() {
    if (mode_ == LevelGridMode::Level) {
        valueText_ = fixed(slider_ * 0.01, 2);
    } else if (const Tkanal* row = row_(); row && row->Channel()) {
        valueText_ = fixed(row->Channel()->PulseThreshold(), 4);
    }
}

void LevelGrid::SliderMoved(int position) {
    slider_ = std::clamp(position, SliderMin(), SliderMax());
    Tkanal* row = row_();
    if (row == nullptr || row->Channel() == nullptr) return;
    if (mode_ == LevelGridMode::Level)
        core_.SetThreshold(k_, Threshold());  // the channel, the row's value and its bar
    else
        row->SetPulseThreshold(slider_ * kPulseStep);
    showValue_();
}

LevelGridPicture LevelGrid::Draw() {
    LevelGridPicture p;
    p.width = kGraphWidth;
    p.height = kGraphHeight;
    const int bottom = kGraphHeight;
    const Tkanal* row = row_();
    if (row == nullptr || row->Channel() == nullptr) return p;
    const auto history = row->Channel()->LevelHistory();  // [0] oldest .. [299] newest
    p.history.reserve(kPoints);
    for (int x = kPoints; x >= 1; --x) {
        const double dB = history[std::size_t(x - 1)];
        int y = 0;
        if (mode_ == LevelGridMode::Level) {
            y = int(std::lround(std::fabs(dB) * scale_));
        } else {
            const double now = linear(dB);
            const double rise = now - previousRise_;
            previousRise_ = now;
            y = bottom - int(std::lround((rise >= 0.0 ? rise : 0.0) * scale_));
        }
        p.history.push_back({x, bottom, x, y});
    }
    const int t = mode_ == LevelGridMode::Level ? int(std::lround(std::fabs(row->Settings().threshold) * scale_))
                                                : bottom - int(std::lround(row->Channel()->PulseThreshold() * scale_));
    p.threshold = {0, t, kGraphWidth, t};
    const int dy = int(std::lround(kGraphHeight * 0.1)), dx = int(std::lround(kGraphWidth * 0.1));
    for (int i = 0; i < 10; ++i) p.grid.push_back({0, i * dy, kGraphWidth, i * dy});
    for (int i = 0; i < 10; ++i) p.grid.push_back({i * dx, 0, i * dx, kGraphHeight});
    return p;
}

void LevelGrid::readLine_() {
    const auto state = mixer_ && selected_ >= 0 ? mixer_->read(selected_) : std::nullopt;
    line_ = state.value_or(platform::MixerLineState{});
    volumePosition_ = -line_.volume;
    ++revision_;
}

void LevelGrid::SelectLine(int line) {
    if (line < 0 || std::size_t(line) >= lines_.size()) return;
    updating_ = true;
    selected_ = line;
    readLine_();
    if (Tkanal* row = row_()) row->SetMixerLine(line);
    updating_ = false;
}

void LevelGrid::write_() {
    if (!mixer_ || selected_ < 0) return;
    updating_ = true;
    // A write the card refuses leaves the controls as the operator set them; the next change it
    // reports shows what it holds.
    if (line_.hasVolume) (void)mixer_->setVolume(selected_, -volumePosition_);
    if (line_.hasSwitch) (void)mixer_->setSwitch(selected_, line_.on);
    updating_ = false;
}

void LevelGrid::VolumeMoved(int position) {
    if (updating_ || selected_ < 0) return;
    volumePosition_ = std::clamp(position, kVolumeSliderMin, kVolumeSliderMax);
    write_();
}

void LevelGrid::SwitchClicked(bool on) {
    if (updating_ || selected_ < 0) return;
    line_.on = on;
    write_();
}

void LevelGrid::mixerChanged_() {
    if (updating_) return;
    readLine_();  // the index stays as it is stored
}

void LevelGrid::Poll() {
    if (mixer_) mixer_->poll();
}

}  // namespace kestavo::app
