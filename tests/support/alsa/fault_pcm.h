#pragma once
// The controls of the `kestavo_fault` ALSA PCM (tests/support/alsa/fault_pcm.cpp): a capture PCM
// that a test can make overrun, suspend, vanish or stall at a moment it chooses.
//
// The PCM delivers 16-bit frames as fast as they are read; every sample of frame n (counted over
// the PCM's life, frames lost to an overrun included) holds n mod 16384. A fault set with
// kestavo_fault_pcm_inject() strikes at the PCM's next position update (the next read), once; a
// stall holds the position (nothing more arrives and poll() blocks) until it is lifted.
//
// Threads: the controls may be called from any thread; they act on the PCM opened last.
extern "C" {

enum KestavoFaultPcm {
    kKestavoFaultXrun = 1,        // the next read fails with -EPIPE (an overrun)
    kKestavoFaultSuspend = 2,     // the PCM is suspended: reads fail with -ESTRPIPE until resumed
    kKestavoFaultDisconnect = 3,  // the device is gone: reads fail with -ENODEV
};

using KestavoFaultInject = void (*)(int fault);
using KestavoFaultStall = void (*)(int on);
using KestavoFaultPending = int (*)();

void kestavo_fault_pcm_inject(int fault);
void kestavo_fault_pcm_stall(int on);
// The fault set and not yet struck (0: none).
int kestavo_fault_pcm_pending();
}
