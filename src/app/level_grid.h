#pragma once
// LevelGrid: what the threshold window (Tlevel_grid) holds and does, without widgets.
//
// The window tunes one channel while it runs. In level mode it draws the channel's last 300
// level points (dB, newest at the right) as vertical lines rising from the bottom — 0 dB at the
// top, -60 dB at the bottom — with the trigger threshold as a red line, and its slider moves
// that threshold (0.01 dB per step, -60.00 .. 0.00 dB) on the channel, the row and its bar. In
// pulse mode the same graph shows how much the linear amplitude rose against the point drawn
// just before (0.5 at the top), and the slider moves the pulse-dial detector's threshold (0.0001
// per step, 0.0001 .. 0.1).
//
// Beside the graph it sets the recording line of the channel's sound card mixer: the line list,
// the selected line's volume (a slider running -65535..0, minus the volume; hidden for a line
// without a volume control) and its switch. Selecting a line stores its index as the channel's
// mixer line; a stored index beyond the list selects line 0. Writes to the mixer happen with the
// Updating flag set, so the mixer's echo of them is not read back into the controls (which would
// move the volume slider to the card's rounded step under the operator's hand); any other change
// the mixer reports re-reads the selected line without storing its index.
//
// One threshold window exists at a time: Open() says whether a model exists.
//
// Threads: main thread only; the level history and levels are the channel's, read as they stand.
#include <memory>
#include <string>
#include <vector>

#include "app/app_core.h"
#include "platform/sound_mixer.h"

namespace kestavo::app {

enum class LevelGridMode { Level = 0, Pulse = 1 };

// A line segment in pixels of the graph (origin at its top-left corner).
struct PixelLine {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    friend bool operator==(const PixelLine&, const PixelLine&) = default;
};

// One drawing of the graph: white background, then the history (blue), the threshold (red) and
// the grid (grey), in that order.
struct LevelGridPicture {
    int width = 0, height = 0;
    std::vector<PixelLine> history;  // one vertical line per point, x = 300 first
    PixelLine threshold;
    std::vector<PixelLine> grid;  // 10 horizontal lines, then 10 vertical ones
};

// The window's texts in the language in use.
struct LevelGridTexts {
    std::string caption;      // text 99 (level) or 100 (pulse) + channel number
    std::string group;        // 85: GroupBox1
    std::string mixerLine;    // 86: Label5
    std::string threshold;    // 87: Label1
    std::string lineOn;       // 88: CheckBox1
    std::string top, bottom;  // Label4, Label3: 89/90 in level mode, "0.5"/"0.0001" in pulse mode
    std::string noMixer;      // shown in place of the mixer controls when the card offers no line
};

class LevelGrid {
public:
    static constexpr int kGraphWidth = 296, kGraphHeight = 248;         // px: the paint box
    static constexpr int kPoints = 300;                                 // history points drawn
    static constexpr int kTimerMs = 300;                                // redraw period
    static constexpr int kLevelSliderMin = -6000, kLevelSliderMax = 0;  // 0.01 dB per step
    static constexpr int kPulseSliderMin = 1, kPulseSliderMax = 1000;   // 0.0001 per step
    static constexpr int kVolumeSliderMin = -platform::kMixerVolumeMax, kVolumeSliderMax = 0;

    // The texts are read from the core's language tables when prepared.
    explicit LevelGrid(AppCore& core);
    ~LevelGrid();
    LevelGrid(const LevelGrid&) = delete;
    LevelGrid& operator=(const LevelGrid&) = delete;

    // Whether a threshold window's model exists now.
    [[nodiscard]] static bool Open() noexcept { return instances_ > 0; }

    // Prepares for channel k (1-based) in `mode`, over `mixer` (the channel's card's mixer; null
    // counts as one without lines). False when the core has no such channel.
    bool Prepare(int k, LevelGridMode mode, std::unique_ptr<platform::SoundMixer> mixer);
    [[nodiscard]] int ChannelNumber() const noexcept { return k_; }
    [[nodiscard]] LevelGridMode Mode() const noexcept { return mode_; }
    [[nodiscard]] const LevelGridTexts& Texts() const noexcept { return texts_; }
    // Pixels per dB (level mode) or per unit of linear amplitude (pulse mode).
    [[nodiscard]] double Scale() const noexcept { return scale_; }

    // The threshold slider: its range and position, the value's text (Label2), and a move by the
    // operator, which sets the threshold where the mode says.
    [[nodiscard]] int SliderMin() const noexcept;
    [[nodiscard]] int SliderMax() const noexcept;
    [[nodiscard]] int SliderPosition() const noexcept { return slider_; }
    [[nodiscard]] const std::string& ValueText() const noexcept { return valueText_; }
    void SliderMoved(int position);
    // Level mode: the threshold (dB) the last move set, for the row's slider and cell.
    [[nodiscard]] double Threshold() const noexcept { return slider_ * 0.01; }

    // One drawing from the channel's history as it stands.
    [[nodiscard]] LevelGridPicture Draw();

    // The mixer controls.
    [[nodiscard]] const std::vector<std::string>& MixerLines() const noexcept { return lines_; }
    [[nodiscard]] bool HasMixer() const noexcept { return !lines_.empty(); }
    [[nodiscard]] int SelectedLine() const noexcept { return selected_; }  // -1: none
    [[nodiscard]] bool VolumeShown() const noexcept { return line_.hasVolume; }
    [[nodiscard]] int VolumePosition() const noexcept { return volumePosition_; }
    [[nodiscard]] bool LineOn() const noexcept { return line_.on; }
    // Counts every change of the mixer controls' state, so a window copies it only when it moved.
    [[nodiscard]] int MixerRevision() const noexcept { return revision_; }
    // The operator chose line `line`: read it and store it as the channel's mixer line.
    void SelectLine(int line);
    void VolumeMoved(int position);  // the volume slider: -volume
    void SwitchClicked(bool on);
    // The window's timer: takes the changes the mixer reported.
    void Poll();

private:
    [[nodiscard]] Tkanal* row_() const;
    void loadTexts_();
    void showValue_();
    void readLine_();  // the selected line into line_ and volumePosition_
    void write_();
    void mixerChanged_();

    static inline int instances_ = 0;

    AppCore& core_;
    int k_ = 0;
    LevelGridMode mode_ = LevelGridMode::Level;
    double scale_ = 1.0;
    int slider_ = 0;
    std::string valueText_;
    LevelGridTexts texts_;
    double previousRise_ = 0.0;  // pulse mode: linear amplitude of the point drawn last (x = 1)
    std::unique_ptr<platform::SoundMixer> mixer_;
    std::vector<std::string> lines_;
    int selected_ = -1;
    platform::MixerLineState line_;
    int volumePosition_ = 0;
    bool updating_ = false;  // the window writes to the mixer: its echo is not read back
    int revision_ = 0;
};

}  // namespace kestavo::app
