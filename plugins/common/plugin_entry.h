#pragma once
// The entry points of a decoder plug-in: the plug-in interface the host calls, and nothing else
// exported. A plug-in's entry file names its decoder and texts, then includes this header once:
//
//   using PluginDecoder = kestavo::plugins::CtcssDecoder;
//   constexpr const char* kPluginDescription = "...";
//   constexpr const char* kPluginVersion = "1.0";
//   #include "common/plugin_entry.h"
//
// Each attachment loads its own copy of the file, so one decoder per loaded copy is per channel;
// it runs on its channel's thread.
#include <cstdint>
#include <cstring>

#include "common/decoder_result.h"
#include "services/plugin_api.h"

#define KESTAVO_PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))

namespace {
PluginDecoder decoder;
}

KESTAVO_PLUGIN_EXPORT void Check_version(char** description, char** version) {
    std::strncpy(*description, kPluginDescription, 1023);  // the host's buffers hold 1024 bytes
    std::strncpy(*version, kPluginVersion, 1023);
}

KESTAVO_PLUGIN_EXPORT void Start_plugin(std::int32_t) { decoder.Reset(); }

KESTAVO_PLUGIN_EXPORT void Stop_plugin() { decoder.Reset(); }

KESTAVO_PLUGIN_EXPORT bool process(kestavo::services::PluginRecord* record, double sample) {
    if (!decoder.Process(sample)) return false;
    kestavo::plugins::copyToRecord(decoder.Result(), *record);
    return true;
}
