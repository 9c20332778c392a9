#pragma once
// nameThisThread: gives the calling thread a name that `top -H`, `ps -L` and debuggers show
// ("capture 0", "channel 3", "monitor"). Linux keeps at most 15 bytes of a thread name; a longer
// name is cut there, never inside a UTF-8 character. Any thread may call it, for itself only.
#include <cstddef>
#include <string_view>

namespace kestavo::platform {

inline constexpr std::size_t kThreadNameBytes = 15;  // the kernel's limit, without the terminating zero

// Names the calling thread; a name the system refuses is ignored (names are a diagnostic aid).
void nameThisThread(std::string_view name) noexcept;

}  // namespace kestavo::platform
