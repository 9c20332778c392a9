#pragma once
// DecoderResult: what one of our decoders has recognised, in the shape of the host's result record:
// the identifier, the extra text and the action code, kept in fixed buffers so a per-sample call
// never allocates. copyToRecord hands it to the host's record; the decoders' own tests read it
// directly.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "services/plugin_api.h"

namespace kestavo::plugins {

struct DecoderResult {
    static constexpr std::size_t kMaxChars = 100;  // the record's text fields hold 100 characters and a zero
    char identifier[kMaxChars + 1] = {};
    char extra[kMaxChars + 1] = {};
    std::int32_t action = 0;  // 1: start a recording if the identifier is listed; 0: stop the recording

    [[nodiscard]] std::string_view Identifier() const noexcept { return identifier; }
    [[nodiscard]] std::string_view Extra() const noexcept { return extra; }
};

// Copies `text` into a 101-character field, cut to 100 characters and always zero-terminated.
inline void setText(char (&field)[DecoderResult::kMaxChars + 1], std::string_view text) noexcept {
    const std::size_t n = std::min(text.size(), DecoderResult::kMaxChars);
    if (n > 0) std::memcpy(field, text.data(), n);  // an empty view may carry no pointer at all
    field[n] = 0;
}

// Fills the fields of the host's record the plug-ins own: identifier, extra text, action code.
inline void copyToRecord(const DecoderResult& r, services::PluginRecord& record) noexcept {
    std::memcpy(record.identifier, r.identifier, sizeof r.identifier);
    std::memcpy(record.extra, r.extra, sizeof r.extra);
    record.action = r.action;
}

}  // namespace kestavo::plugins
