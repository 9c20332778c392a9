// The entry points of ctcss.plg (common/plugin_entry.h).
#include "ctcss/ctcss_decoder.h"

using PluginDecoder = kestavo::plugins::CtcssDecoder;
constexpr const char* kPluginDescription =
    "CTCSS tone decoder: the 50 standard tones 67.0-254.1 Hz; identifier = the tone in Hz, action 1 while "
    "it lasts, 0 when it ends";
constexpr const char* kPluginVersion = "1.0";

#include "common/plugin_entry.h"
