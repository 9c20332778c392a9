// A demodulator plug-in for tests. It watches for marker samples:
//   +0.75 reports the identifier "84951234567" with action 1 (start if listed),
//   -0.75 reports "END" with action 0 (stop),
//   +0.625 reports "../../etc/evil\n*" with action 2 (a text that must never become a path).
#include <cstdint>
#include <cstring>

#include "services/plugin_api.h"

#define KESTAVO_EXPORT extern "C" __attribute__((visibility("default")))

KESTAVO_EXPORT void Check_version(char** description, char** version) {
    std::strcpy(*description, "Test demodulator");
    std::strcpy(*version, "1.0");
}

KESTAVO_EXPORT void Start_plugin(std::int32_t) {}

KESTAVO_EXPORT void Stop_plugin() {}

KESTAVO_EXPORT bool process(kestavo::services::PluginRecord* r, double sample) {
    const char* id = sample == 0.75 ? "84951234567"
        : sample == -0.75           ? "END"
        : sample == 0.625           ? "../../etc/evil\n*"
                                    : nullptr;
    if (!id) return false;
    std::memset(r->identifier, 'x', sizeof r->identifier);  // and no terminating zero when it fits
    std::memcpy(r->identifier, id, std::strlen(id) + 1);
    r->action = sample == 0.75 ? 1 : sample == -0.75 ? 0 : 2;
    return true;
}
