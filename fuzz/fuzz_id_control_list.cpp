// CONTROL/<n>.ctl: any bytes load; matching any identifier answers with a listed answer or nothing.
#include "config/id_control_list.h"
#include "fuzz_folder.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

using namespace kestavo::config;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto dir = kestavo::fuzz::folder();
    kestavo::fuzz::writeInput(dir / "CONTROL" / "1.ctl", data, size);
    Tctrol list(1, dir);
    if (list.loadError()) std::abort();
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (size_t len = 0; len <= std::min<size_t>(size, 40); len += 3) {
        const std::string answer = list.Check(text.substr(size - len, len));
        if (!answer.empty() && std::none_of(list.entries().begin(), list.entries().end(), [&](const ControlEntry& e) {
                return e.answer == answer;
            }))
            std::abort();
    }
    for (const ControlEntry& e : list.entries())
        if (!ControlPatternMatches(e.pattern, e.pattern)) std::abort();  // a pattern matches itself
    return 0;
}
