// A language table: any bytes open and read forward without a crash or hang, for any request order.
#include "config/language_table.h"
#include "fuzz_folder.h"

#include <cstdint>
#include <cstdlib>

using namespace kestavo::config;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto dir = kestavo::fuzz::folder();
    kestavo::fuzz::writeInput(dir / "Fuzz.txt", data, size);
    Tlang lang(dir, "Fuzz");
    if (!lang.isOpen()) std::abort();
    // Requests in ascending order, then one that goes back, as windows may do.
    for (int n : {1, 2, 33, 74, 73, 134, 135}) {
        const std::string text = lang.GetText(n);
        if (text.find('\n') != std::string::npos) std::abort();
    }
    return 0;
}
