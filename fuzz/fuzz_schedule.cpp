// time<n>.tim: any bytes load; what loads saves and loads back equal; CheckTime answers 1 or -1.
#include "config/schedule.h"
#include "fuzz_folder.h"

#include <cstdint>
#include <cstdlib>

using namespace kestavo::config;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto dir = kestavo::fuzz::folder();
    kestavo::fuzz::writeInput(dir / "time1.tim", data, size);
    Tperiods periods(1, dir);
    if (periods.loadError()) std::abort();
    for (double t = 0.0; t < 1.0; t += 1.0 / 97) {
        const int answer = periods.CheckTime(t);
        if (answer != 1 && answer != -1) std::abort();
    }
    (void)periods.FillList();
    const auto loaded = periods.periods();
    if (periods.Save()) std::abort();
    if (periods.Load() || periods.periods() != loaded) std::abort();
    if (!loaded.empty() &&
        (periods.DeletePeriod(loaded[0].start, loaded[0].stop) || periods.periods().size() != loaded.size() - 1))
        std::abort();
    if (size > 0 && periods.CutIntoPeriods(data[0])) std::abort();
    return 0;
}
