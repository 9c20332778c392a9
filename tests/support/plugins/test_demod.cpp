// A demodulator plug-in for tests. It watches for marker samples:
//   +0.75 reports the identifier "84951234567" with action 1 (start if listed),
//   -0.75 reports "END" with action 0 (stop),
//   +0.625 reports "../../etc/evil\n*" with action 2 (a text that must never become a path).
// Each working copy counts its own calls, so two channels' copies can be told apart.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "services/plugin_api.h"

namespace {
std::int32_t gChannel = -1;
std::int64_t gCalls = 0;
}  // namespace

extern "C" {

__attribute__((visibility("default"))) void Check_version(char** description, char** version) {
    std::strcpy(*description, "Test demodulator");
    std::strcpy(*version, "1.0");
}

__attribute__((visibility("default"))) void Start_plugin(std::int32_t channel) { gChannel = channel; }

__attribute__((visibility("default"))) bool process(kestavo::services::PluginRecord* r, double sample) {
    ++gCalls;
    const char* id = nullptr;
    std::int32_t action = 2;
    if (sample == 0.75) {
        id = "84951234567";
        action = 1;
    } else if (sample == -0.75) {
        id = "END";
        action = 0;
    } else if (sample == 0.625) {
        id = "../../etc/evil\n*";
    }
    if (!id) return false;
    std::memset(r->identifier, 'x', sizeof r->identifier);  // and no terminating zero when it fits
    std::memcpy(r->identifier, id, std::strlen(id) + 1);
    r->action = action;
    return true;
}

__attribute__((visibility("default"))) void Stop_plugin() { gChannel = -1; }

}  // extern "C"
