#pragma once
// Tdemods' list: the demodulator results window without its widgets. Each result a plug-in
// reports reaches it as a copy of the result record, appended on the main thread as a row (time,
// identifier, extra text) when the channel filter lets it through; at most 100 rows stay, the
// oldest go first. The filter is "ALL" (every channel, -1) or a channel number; it is kept in the
// configuration as Demods/VChannel.
//
// Appends are serialised on the main thread, so a result that arrives while another is being
// added waits its turn instead of being dropped.
// Threads: main thread only.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

#include "services/plugin_api.h"

namespace kestavo::app {

struct DemodRow {
    std::string time;  // arrival, HH:MM:SS
    std::string identifier;
    std::string extra;
};

class DemodResults {
public:
    static constexpr std::size_t kMaxRows = 100;

    // The filter text: "ALL" is every channel; a whole number is that channel; any other text
    // leaves the filter as it was.
    void SetFilterText(std::string_view text);
    [[nodiscard]] int Filter() const noexcept { return filter_; }
    [[nodiscard]] std::string FilterText() const { return filter_ < 0 ? "ALL" : std::to_string(filter_); }

    // A result as it arrived at `time`; ignored when the filter names another channel.
    void Add(const services::PluginRecord& record, std::string time);
    [[nodiscard]] const std::deque<DemodRow>& Rows() const noexcept { return rows_; }
    // Changes with every row added, so a view knows when to redraw.
    [[nodiscard]] std::uint64_t Revision() const noexcept { return revision_; }

private:
    int filter_ = -1;
    std::uint64_t revision_ = 0;
    std::deque<DemodRow> rows_;
};

}  // namespace kestavo::app
