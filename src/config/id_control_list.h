#pragma once
// Tctrol: one channel's ID control list, the file CONTROL/<n>.ctl in the program folder.
//
// A channel recording by ID starts a recording only when an identifier reported by a demodulator
// plug-in matches an entry of its list. Each non-empty line of the file is one entry: the pattern
// is the text up to the first blank, the answer the text after it (a line without a blank answers
// with the whole line). A pattern matches an identifier of exactly its length, character by
// character (UTF-8 characters count as one), where "*" matches any one character; the first
// matching entry in file order gives the answer. An empty answer starts nothing, so "1234 " with
// nothing after the blank never starts a recording.
//
// Owned by one channel thread; Check runs there, Reload after the editor closes (the owner
// serialises the two). Not thread-safe by itself.
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace kestavo::config {

struct ControlEntry {
    std::string pattern;  // "*" matches any one character
    std::string answer;   // the text returned on a match
    friend bool operator==(const ControlEntry&, const ControlEntry&) = default;
};

class Tctrol {
public:
    // Channel n's list: creates <programFolder>/CONTROL (with parents) and loads (see loadError()).
    Tctrol(int channelNumber, const std::filesystem::path& programFolder);

    // Clears the list and reads the file again; a missing file is created empty. The list is
    // active when it holds at least one entry afterwards. On error the list stays empty.
    [[nodiscard]] std::error_code Reload();

    // The answer of the first entry matching `id`; empty when the list is inactive or nothing
    // matches. Channel thread.
    [[nodiscard]] std::string Check(std::string_view id) const;

    void Clear() noexcept {
        entries_.clear();
        active_ = false;
    }

    [[nodiscard]] int channelNumber() const noexcept { return channel_; }
    [[nodiscard]] bool active() const noexcept { return active_; }
    [[nodiscard]] const std::vector<ControlEntry>& entries() const noexcept { return entries_; }
    [[nodiscard]] const std::filesystem::path& fileName() const noexcept { return file_; }
    [[nodiscard]] std::error_code loadError() const noexcept { return loadError_; }

private:
    int channel_;                        // 1-based channel number
    bool active_ = false;                // at least one entry was read
    std::vector<ControlEntry> entries_;  // in file order
    std::filesystem::path file_;         // <program folder>/CONTROL/<n>.ctl
    std::error_code loadError_;          // of the constructor's load
};

// True when `pattern` matches `id` as described above (exposed for tests and tools).
[[nodiscard]] bool ControlPatternMatches(std::string_view pattern, std::string_view id) noexcept;

}  // namespace kestavo::config
