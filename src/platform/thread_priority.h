#pragma once
// lowerThisThreadPriority: lets the calling thread yield the processor to the recording threads
// (a higher nice value for this thread only). Failure is harmless and ignored. Any thread, for itself.
namespace kestavo::platform {

void lowerThisThreadPriority() noexcept;

}  // namespace kestavo::platform
