#pragma once
// PluginRecord: what the host and the demodulator plug-ins exchange. A plug-in is a shared object with the
// extension ".plg" exporting four C entry points; every sample of a channel's sound is handed to
// `process` together with the channel's 328-byte result record, which the plug-in fills when it
// has recognised something. The layout of the record is fixed: plug-ins built elsewhere rely on it.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace kestavo::services {

struct PluginRecord {
    std::int32_t channel;  // 0: written by the host after a plug-in reports a result
    char identifier[101];  // 4: zero-terminated identifier text, written by the plug-in
    char unused1[101];     // 105
    char extra[101];       // 206: extra text; the host clears its first byte before every call
    char unused2[17];      // 307
    std::int32_t action;   // 324: in ID mode 0 stops the recording, 1 starts one if the identifier is listed
};

static_assert(sizeof(PluginRecord) == 328);
static_assert(offsetof(PluginRecord, channel) == 0);
static_assert(offsetof(PluginRecord, identifier) == 4);
static_assert(offsetof(PluginRecord, extra) == 206);
static_assert(offsetof(PluginRecord, action) == 324);

// A text field read without running past it, even when the plug-in left no terminating zero.
template <std::size_t N>
[[nodiscard]] inline std::string_view fieldText(const char (&field)[N], std::size_t maxChars = N) noexcept {
    const std::size_t limit = maxChars < N ? maxChars : N;
    const void* zero = std::memchr(field, 0, limit);
    return {field, zero ? std::size_t(static_cast<const char*>(zero) - field) : limit};
}

// The identifier as the host reads it: at most 101 characters, never past its field.
[[nodiscard]] inline std::string_view identifierText(const PluginRecord& r) noexcept {
    return fieldText(r.identifier, 101);
}
[[nodiscard]] inline std::string_view extraText(const PluginRecord& r) noexcept { return fieldText(r.extra, 101); }

extern "C" {
// Check_version(&description, &version): the plug-in writes into the two 1024-byte buffers.
using CheckVersionFn = void (*)(char** description, char** version);
// Start_plugin(channel number): once, right after the working copy is loaded.
using StartPluginFn = void (*)(std::int32_t channel);
// process(&record, sample): true when the record holds a new result.
using ProcessFn = bool (*)(PluginRecord* record, double sample);
// Stop_plugin(): once, before the working copy is unloaded.
using StopPluginFn = void (*)();
}

}  // namespace kestavo::services
