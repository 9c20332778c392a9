#include "platform/event.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <cerrno>
#include <cstdint>
#include <stdexcept>

namespace kestavo::platform {

Event::Event(bool initiallySet) : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (fd_ < 0) throw std::runtime_error("eventfd failed");
    if (initiallySet) set();
}

Event::~Event() { ::close(fd_); }

// The counter is either 0 (reset) or at least 1 (set); set() never lets it overflow because a
// write only adds one when the counter is not yet readable. Two racing set() calls may both add
// one, which still reads as "set"; reset() drains whatever is there in one read.
void Event::set() noexcept {
    if (isSet()) return;
    const std::uint64_t one = 1;
    while (::write(fd_, &one, sizeof one) < 0 && errno == EINTR) {}
}

void Event::reset() noexcept {
    std::uint64_t value = 0;
    while (::read(fd_, &value, sizeof value) < 0 && errno == EINTR) {}
}

bool Event::isSet() const noexcept { return wait(std::chrono::milliseconds(0)); }

bool Event::wait(std::chrono::milliseconds timeout) const noexcept {
    pollfd p{fd_, POLLIN, 0};
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        const int r = ::poll(&p, 1, int(std::max<long long>(0, left.count())));
        if (r > 0) return true;
        if (r == 0) return false;
        if (errno != EINTR) return false;
    }
}

}  // namespace kestavo::platform
