#include "platform/thread_priority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace kestavo::platform {

void lowerThisThreadPriority() noexcept {
    constexpr int kNicer = 5;  // below the channels, above idle work
    const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
    const int now = ::getpriority(PRIO_PROCESS, tid);
    (void)::setpriority(PRIO_PROCESS, tid, now + kNicer);  // refused or not: the upload still runs
}

}  // namespace kestavo::platform
