#include "platform/thread_name.h"

#include <pthread.h>

#include <algorithm>

namespace kestavo::platform {

void nameThisThread(std::string_view name) noexcept {
    std::size_t bytes = std::min(name.size(), kThreadNameBytes);
    // Back up to the start of a character when the cut falls inside one (continuation bytes 10xxxxxx).
    if (bytes < name.size())
        while (bytes > 0 && (static_cast<unsigned char>(name[bytes]) & 0xC0) == 0x80) --bytes;
    char buffer[kThreadNameBytes + 1] = {};
    name.copy(buffer, bytes);
    (void)pthread_setname_np(pthread_self(), buffer);  // ERANGE cannot happen; other errors are ignored
}

}  // namespace kestavo::platform
