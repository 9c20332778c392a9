// The entry points of fsk_callerid.plg (common/plugin_entry.h).
#include "fsk_callerid/fsk_decoder.h"

using PluginDecoder = kestavo::plugins::FskCallerIdDecoder;
constexpr const char* kPluginDescription =
    "FSK caller ID (Bell 202 and V.23, single and multiple data message formats): identifier = the "
    "number, extra = name and date/time";
constexpr const char* kPluginVersion = "1.0";

#include "common/plugin_entry.h"
