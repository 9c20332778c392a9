#pragma once
// Event: the manual-reset event that capture threads wait on together with their devices.
//
// A manual-reset event. It stays set until reset, so every waiter sees it; it is backed by an
// eventfd that is readable while the event is set, so a device wait can poll it together with
// the device's own descriptors (the shared stop event of the capture threads is one of these).
// Any thread may set, reset or wait.
#include <chrono>

namespace kestavo::platform {

class Event {
public:
    explicit Event(bool initiallySet = false);
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void set() noexcept;
    void reset() noexcept;
    [[nodiscard]] bool isSet() const noexcept;
    // Waits until the event is set or the timeout passes; true when set.
    [[nodiscard]] bool wait(std::chrono::milliseconds timeout) const noexcept;
    // Readable (POLLIN) exactly while the event is set.
    [[nodiscard]] int fd() const noexcept { return fd_; }

private:
    int fd_ = -1;
};

}  // namespace kestavo::platform
