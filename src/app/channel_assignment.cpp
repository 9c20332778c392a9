#include "app/channel_assignment.h"

namespace kestavo::app {

WorkingLine WorkingLineOf(const std::string& listed) {
    std::vector<std::string> fields(1);
    for (char c : listed) {
        if (c == '\t' && fields.size() < 3)
            fields.emplace_back();
        else
            fields.back() += c;
    }
    fields.resize(3);
    return WorkingLine{fields[2], fields[1], fields[0]};
}

ChannelAssignment::ChannelAssignment(AppCore& core) : core_(core) { Refill(); }

void ChannelAssignment::Refill() {
    working_.clear();
    free_.clear();
    TWWSK* setup = core_.Setup();
    if (!setup) return;
    std::vector<std::string> channels;
    setup->ListAssignments(channels, free_);
    for (const auto& line : channels) working_.push_back(WorkingLineOf(line));
}

std::optional<int> ChannelAssignment::Add(int freeIndex) {
    if (freeIndex < 0 || std::size_t(freeIndex) >= free_.size()) return std::nullopt;
    const std::string side = free_[std::size_t(freeIndex)];
    const bool added = core_.AddChannel(side) >= 0;
    Refill();
    if (!added) return std::nullopt;
    const auto& rows = core_.Rows();
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (rows[i]->Name() == side) return int(i);
    return int(rows.size()) - 1;
}

bool ChannelAssignment::Remove(int workingIndex) {
    if (workingIndex < 0 || std::size_t(workingIndex) >= working_.size()) return false;
    core_.RemoveChannel(working_[std::size_t(workingIndex)].name);
    Refill();
    return true;
}

void ChannelAssignment::SetPrefix(int rowIndex, const std::string& prefix) {
    if (rowIndex < 0 || std::size_t(rowIndex) >= core_.Rows().size()) return;
    core_.SetPrefix(rowIndex + 1, prefix);
    Refill();
}

bool ChannelAssignment::Close() {
    if (closed_) return true;
    closed_ = true;
    return core_.SaveWithChannelCount();
}

}  // namespace kestavo::app
