#pragma once
// FileLineSystem: the WAV files of one folder as sound input devices (file-backed lines).
//
// File-backed lines: every WAV file (11025 Hz, 16-bit, mono or stereo) in one folder is an input
// device whose product name is the file's name, so that the whole program runs, is tested and
// processes recorded lines without a sound card. Devices are listed in the order of their file
// names (byte order), so a configuration keeps finding the same line. A `.wav` file that is not
// such a WAV is left out and named in problems(); other files in the folder are ignored.
//
// Lines come and go. Every inputDevices() reads the folder again: a file that is gone (or no
// longer a usable WAV) keeps its place in the list but takes no format (mono and stereo are
// false), a file that comes back takes its old place again, and a new file is added at the end,
// so a device's id never changes while the system lives. An opened line watches its file: when
// the file is removed, renamed away or replaced, wait() answers DeviceLost (lostReason() is
// no_such_file_or_directory) before the next buffer, so every buffer delivered before holds
// sound of the file that was there. A file put back is opened afresh and plays from its start.
//
// An opened line fills its queued buffers with the file's sound, oldest queued buffer first,
// exactly like a capture device: whole buffers, then a final partial buffer with the rest of the
// file, then nothing more. A stereo file opened as mono gives its left side; a mono file cannot
// be opened as stereo (open fails, and the device says stereo = false). Opened with 8 bits, the
// 16-bit samples become unsigned 8-bit ones (the high byte, offset by 128), as a sound card does.
//
// Pace.
// - RealTime (default): a buffer is delivered once the wall time for its last sample has passed
//   since start(); a line that fell behind catches up at once. After its end it falls silent:
//   wait() only times out.
// - Fast: buffers are delivered as fast as the channels take them. Before each buffer the line
//   waits until the shared PendingWork is idle (every block handed on has been processed), so no
//   block is ever dropped. All lines of one system sit on one time line (a line started later
//   joins at the current position) and advance in step: a line delivers the buffer that begins at
//   time-line sample P only when every other running line has handed on its sound up to P. With
//   equal buffers that is "the k-th buffer only after every other line handed on its (k-1)-th".
//   A line's buffer counts as handed on once its capture thread comes back: it re-queues a
//   buffer, calls wait() again, or stops. The system owns a FakeClock that is the program's clock
//   in this pace: when a buffer ending at time-line sample S is delivered the clock reads
//   start + S / 11025 s (whole milliseconds, rounded down). It starts at the given local time,
//   else at the construction moment.
//   Whoever builds the channels should hold one unit of PendingWork while it builds them, so that
//   no line delivers before its sinks are bound and every line starts at time-line sample 0.
//
// End of input. allLinesEnded() turns true (and allLinesEndedEvent() is set) once at least one
// line was started and every started, still open line has handed on its last sample; starting a
// line again clears it. A batch run waits for it, then for PendingWork to be idle, then shuts down.
//
// Threads: the system's functions may be called from any thread. An opened line belongs to one
// capture thread; it waits in slices of at most 10 ms, so the stop event is seen quickly in every
// pace, and a wait that is already polling the stop event ends as soon as it is set.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/event.h"
#include "platform/pending_work.h"
#include "platform/sound_input.h"

namespace kestavo::platform {

enum class LinePace { RealTime, Fast };

// Where the lines come from, as the environment says.
struct LinesSettings {
    std::filesystem::path folder;        // $KESTAVO_LINES, else <program folder>/LINES
    LinePace pace = LinePace::RealTime;  // $KESTAVO_LINES_PACE: "fast" or "realtime" (default)
    std::optional<LocalTime> start;      // $KESTAVO_LINES_START, local YYYY-MM-DDTHH:MM:SS
    std::vector<std::string> problems;   // values that could not be used (they keep the defaults)

    [[nodiscard]] static LinesSettings fromEnvironment(const std::filesystem::path& programFolder);
};

class FileLineSystem final : public SoundInputSystem {
public:
    // Reads the folder (again at every inputDevices()). `pending` must
    // outlive the system and every line opened from it. `start` is used in fast pace only.
    FileLineSystem(std::filesystem::path folder, LinePace pace, std::optional<LocalTime> start, PendingWork& pending);
    ~FileLineSystem() override;
    FileLineSystem(const FileLineSystem&) = delete;
    FileLineSystem& operator=(const FileLineSystem&) = delete;

    // The system the environment asks for; problems of the environment come first in problems().
    [[nodiscard]] static std::unique_ptr<FileLineSystem> fromEnvironment(const std::filesystem::path& programFolder,
                                                                         PendingWork& pending);

    // One device per WAV file seen, in name order as first seen; mono is true for a usable file,
    // stereo for a usable stereo file, and both are false for a file that is gone. Reads the
    // folder again.
    [[nodiscard]] std::vector<InputDeviceInfo> inputDevices() override;
    // Errors: no_such_device for a bad id, no_such_file_or_directory for a line whose file is
    // gone, invalid_argument for a format the line cannot give, or the error of opening the file.
    [[nodiscard]] std::unique_ptr<SoundInput> open(int deviceId, const WaveFormat& format,
                                                   std::error_code& error) override;

    // One line per file that was left out, and per folder that could not be read, when the
    // system was made (later readings of the folder add nothing).
    [[nodiscard]] const std::vector<std::string>& problems() const noexcept { return problems_; }
    [[nodiscard]] LinePace pace() const noexcept { return pace_; }
    [[nodiscard]] const std::filesystem::path& folder() const noexcept { return folder_; }
    // Fast pace: the clock that follows the delivered sound (owned by the system; it stays valid
    // while the system lives). Null in real time, where the program uses the system clock.
    [[nodiscard]] FakeClock* clock() noexcept;
    [[nodiscard]] bool allLinesEnded() const noexcept;
    [[nodiscard]] const Event& allLinesEndedEvent() const noexcept;

    struct LineFile;  // one usable WAV file
    struct Hub;       // what the system and its opened lines share

private:
    // Reads the folder: updates the lines known and adds new files at the end. Under mutex_;
    // `problems` (null: none kept) gets the files left out.
    void scan(std::vector<std::string>* problems);

    std::filesystem::path folder_;
    LinePace pace_;
    std::mutex mutex_;             // guards files_
    std::vector<LineFile> files_;  // every line seen, by id
    std::vector<std::string> problems_;
    std::shared_ptr<Hub> hub_;  // opened lines keep it alive after the system is gone
};

}  // namespace kestavo::platform
