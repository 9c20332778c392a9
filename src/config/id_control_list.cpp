#include "config/id_control_list.h"

#include "config/text_file.h"

namespace kestavo::config {

namespace {

// Length in bytes of the character starting at text[i]: a UTF-8 sequence when well formed, else
// one byte.
std::size_t charLength(std::string_view text, std::size_t i) noexcept {
    const auto b = static_cast<unsigned char>(text[i]);
    const std::size_t n = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 1;
    if (i + n > text.size()) return 1;
    for (std::size_t k = 1; k < n; ++k)
        if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return 1;
    return n;
}

}  // namespace

bool ControlPatternMatches(std::string_view pattern, std::string_view id) noexcept {
    std::size_t p = 0, d = 0;
    while (p < pattern.size() && d < id.size()) {
        const std::size_t pl = charLength(pattern, p), dl = charLength(id, d);
        const std::string_view pc = pattern.substr(p, pl), dc = id.substr(d, dl);
        if (pc != "*" && pc != dc) return false;
        p += pl;
        d += dl;
    }
    return p == pattern.size() && d == id.size();  // same number of characters
}

Tctrol::Tctrol(int channelNumber, const std::filesystem::path& programFolder)
    : channel_(channelNumber), file_(programFolder / "CONTROL" / (std::to_string(channelNumber) + ".ctl")) {
    std::error_code ec;
    std::filesystem::create_directories(file_.parent_path(), ec);
    loadError_ = ec ? ec : Reload();
}

std::error_code Tctrol::Reload() {
    Clear();
    const FileText text = readWholeFile(file_);
    if (text.missing) return writeFileAtomically(file_, "");  // created empty, stays inactive
    if (text.error) return text.error;
    for (std::string_view line : splitLines(text.bytes)) {
        if (line.empty()) continue;
        const auto blank = line.find(' ');
        if (blank == std::string_view::npos)
            entries_.push_back({std::string(line), std::string(line)});
        else
            entries_.push_back({std::string(line.substr(0, blank)), std::string(line.substr(blank + 1))});
    }
    active_ = !entries_.empty();
    return {};
}

std::string Tctrol::Check(std::string_view id) const {
    if (!active_) return {};
    for (const ControlEntry& e : entries_)
        if (ControlPatternMatches(e.pattern, id)) return e.answer;
    return {};
}

}  // namespace kestavo::config
