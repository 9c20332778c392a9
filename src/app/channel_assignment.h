#pragma once
// ChannelAssignment: what the channel assignment window shows and does, without widgets.
//
// The window lists the free input sides on the left and the working channels on the right and
// moves entries between them while the other channels keep recording. This object holds both
// lists and runs every action on the core; the window only shows the lists and forwards clicks.
//
// - Refill(): both lists from the set-up's assignment listing. The set-up gives one line per
//   channel as "<prefix>\t<side name>\t<number>"; that order is the one kept, and each line is
//   mapped here to the window's column order: number, channel name, prefix.
// - Add(i): free line i gets a channel. The channel count is raised first; when the set-up builds
//   nothing, nothing more happens (the window lowers no count of its own). Otherwise the answer
//   is the 0-based row that receives the prefix the operator is asked for: the row named like the
//   side, else the last one.
// - Remove(i): working line i's channel goes; the count is lowered.
// - SetPrefix(row, text): the prefix dialog's result (empty allowed; a row that does not exist is
//   ignored).
// - Exit(): "EXIT" clears the load-all flag, so the next start builds the channels listed here.
// - Close(): every way of closing the window saves the whole configuration with the channel
//   count. Once only.
//
// Threads: main thread only.
#include <optional>
#include <string>
#include <vector>

#include "app/app_core.h"

namespace kestavo::app {

// One line of the working list as the window shows it.
struct WorkingLine {
    std::string number;  // the channel's number
    std::string name;    // its side name (DEVICE)
    std::string prefix;  // its file prefix
    friend bool operator==(const WorkingLine&, const WorkingLine&) = default;
};

// A set-up listing line "<prefix>\t<side name>\t<number>" in the window's order; missing fields
// stay empty.
[[nodiscard]] WorkingLine WorkingLineOf(const std::string& listed);

class ChannelAssignment {
public:
    // Fills both lists from `core`, which outlives this object.
    explicit ChannelAssignment(AppCore& core);

    void Refill();
    [[nodiscard]] const std::vector<WorkingLine>& Working() const noexcept { return working_; }
    [[nodiscard]] const std::vector<std::string>& Free() const noexcept { return free_; }

    // A channel for free line `freeIndex` (-1: none selected). The row to ask the prefix for, or
    // nullopt when no channel was added. The lists are refilled either way.
    std::optional<int> Add(int freeIndex);
    // Removes the channel of working line `workingIndex` (-1: none selected); false when none.
    bool Remove(int workingIndex);
    // Row `rowIndex` (0-based) and its channel take `prefix`; any other index is ignored.
    void SetPrefix(int rowIndex, const std::string& prefix);
    void Exit() noexcept { core_.ClearLoadAll(); }
    // Saves with the channel count; later calls do nothing. False when the save failed.
    bool Close();

private:
    AppCore& core_;
    std::vector<WorkingLine> working_;
    std::vector<std::string> free_;
    bool closed_ = false;
};

}  // namespace kestavo::app
