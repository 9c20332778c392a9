#include "app/demod_results.h"

#include <charconv>

namespace kestavo::app {

void DemodResults::SetFilterText(std::string_view text) {
    if (text == "ALL") {
        filter_ = -1;
        return;
    }
    int channel = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), channel);
    if (ec == std::errc() && end == text.data() + text.size() && !text.empty()) filter_ = channel;
}

void DemodResults::Add(const services::PluginRecord& record, std::string time) {
    if (filter_ != -1 && filter_ != record.channel) return;
    rows_.push_back(DemodRow{std::move(time), std::string(services::fieldText(record.identifier, 100)),
                             std::string(services::fieldText(record.extra, 100))});
    while (rows_.size() > kMaxRows) rows_.pop_front();
    ++revision_;
}

}  // namespace kestavo::app
