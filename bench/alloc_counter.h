#pragma once
// Counts heap allocations in the benchmark program, so a benchmark can show that its inner loop
// allocates nothing.
#include <atomic>
#include <cstdint>

namespace kestavo::bench {
std::uint64_t allocations() noexcept;
}
