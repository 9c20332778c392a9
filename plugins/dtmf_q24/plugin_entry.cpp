// The entry points of dtmf_q24.plg: the plug-in interface the host calls, and nothing else exported.
// Each attachment loads its own copy of the file, so one decoder per loaded copy is per channel.
#include <cstdint>
#include <cstring>

#include "dtmf_q24/dtmf_q24_decoder.h"
#include "services/plugin_api.h"

#define KESTAVO_PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))

namespace {
kestavo::plugins::DtmfQ24Decoder decoder;  // the decoder of this copy; runs on its channel's thread
}

KESTAVO_PLUGIN_EXPORT void Check_version(char** description, char** version) {
    std::strncpy(*description, "DTMF decoder to ITU-T Q.24: all 16 keys; identifier = the digits of one dialling burst",
                 1023);
    std::strncpy(*version, "1.0", 1023);
}

KESTAVO_PLUGIN_EXPORT void Start_plugin(std::int32_t) { decoder.Reset(); }

KESTAVO_PLUGIN_EXPORT void Stop_plugin() { decoder.Reset(); }

KESTAVO_PLUGIN_EXPORT bool process(kestavo::services::PluginRecord* record, double sample) {
    if (!decoder.Process(sample)) return false;
    kestavo::plugins::copyToRecord(decoder.Result(), *record);
    return true;
}
