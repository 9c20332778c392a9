// Plug-ins that misbehave, one per build: BAD_CRASH_AT_LOAD crashes as the library is loaded,
// BAD_NO_STOP lacks Stop_plugin, BAD_LONG_TEXT writes 2000 bytes into a 1024-byte description,
// BAD_RECORD writes past the result record, BAD_HANG never returns from Start_plugin.
#include <csignal>
#include <cstdint>
#include <cstring>
#include <thread>

#include "services/plugin_api.h"

#define KESTAVO_EXPORT extern "C" __attribute__((visibility("default")))

#ifdef BAD_CRASH_AT_LOAD
__attribute__((constructor)) static void crashAtLoad() { std::raise(SIGSEGV); }
#endif

KESTAVO_EXPORT void Check_version(char** description, char** version) {
#ifdef BAD_LONG_TEXT
    std::memset(*description, 'd', 2000);
#else
    std::strcpy(*description, "Misbehaving plug-in");
#endif
    std::strcpy(*version, "0.1");
}

KESTAVO_EXPORT void Start_plugin(std::int32_t) {
#ifdef BAD_HANG
    for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
#endif
}

#ifndef BAD_NO_STOP
KESTAVO_EXPORT void Stop_plugin() {}
#endif

KESTAVO_EXPORT bool process(kestavo::services::PluginRecord* r, double) {
#ifdef BAD_RECORD
    std::memset(reinterpret_cast<char*>(r) + sizeof *r, 0, 64);
#else
    (void)r;
#endif
    return false;
}
