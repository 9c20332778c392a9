// The entry points of dtmf_q24.plg (common/plugin_entry.h).
#include "dtmf_q24/dtmf_q24_decoder.h"

using PluginDecoder = kestavo::plugins::DtmfQ24Decoder;
constexpr const char* kPluginDescription =
    "DTMF decoder to ITU-T Q.24: all 16 keys; identifier = the digits of one dialling burst";
constexpr const char* kPluginVersion = "1.0";

#include "common/plugin_entry.h"
