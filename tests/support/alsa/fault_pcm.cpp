// kestavo_fault: an ALSA I/O plug-in for tests (see fault_pcm.h). Built as an ALSA PCM module; a
// test's ALSA configuration names it with `pcm_type.kestavo_fault { lib "<path>" }`.
#include "fault_pcm.h"

#include <alsa/asoundlib.h>
#include <alsa/pcm_external.h>

#include <sys/eventfd.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace {

std::atomic<int> gFault{0};  // a fault waiting for the next position update
std::atomic<bool> gStalled{false};
std::atomic<int> gWakeFd{-1};  // the poll descriptor of the PCM opened last

struct FaultPcm {
    snd_pcm_ioplug_t io{};
    int wakeFd = -1;                 // readable while frames are there (drained while stalled)
    std::uint64_t produced = 0;      // frames delivered so far
    snd_pcm_sframes_t position = 0;  // the last position reported
};

FaultPcm& self(snd_pcm_ioplug_t* io) { return *static_cast<FaultPcm*>(io->private_data); }

void wake(int fd) {
    const std::uint64_t one = 1;
    if (fd >= 0) (void)!::write(fd, &one, sizeof one);
}

int start(snd_pcm_ioplug_t*) { return 0; }
int stop(snd_pcm_ioplug_t*) { return 0; }

int prepare(snd_pcm_ioplug_t* io) {
    self(io).position = 0;
    return 0;
}

snd_pcm_sframes_t pointer(snd_pcm_ioplug_t* io) {
    FaultPcm& p = self(io);
    switch (gFault.exchange(0)) {
        case kKestavoFaultXrun: return -EPIPE;
        case kKestavoFaultSuspend: snd_pcm_ioplug_set_state(io, SND_PCM_STATE_SUSPENDED); return p.position;
        case kKestavoFaultDisconnect: snd_pcm_ioplug_set_state(io, SND_PCM_STATE_DISCONNECTED); return p.position;
        default: break;
    }
    // Half a ring ahead of the reader: always something to read, never an overrun of its own.
    if (!gStalled.load()) p.position = snd_pcm_sframes_t((io->appl_ptr + io->buffer_size / 2) % io->buffer_size);
    return p.position;
}

snd_pcm_sframes_t transfer(snd_pcm_ioplug_t* io, const snd_pcm_channel_area_t* areas, snd_pcm_uframes_t offset,
                           snd_pcm_uframes_t size) {
    FaultPcm& p = self(io);
    for (snd_pcm_uframes_t f = 0; f < size; ++f, ++p.produced) {
        const auto value = std::int16_t(p.produced % 16384);
        for (unsigned c = 0; c < io->channels; ++c) {
            const snd_pcm_channel_area_t& a = areas[c];
            auto* at = static_cast<char*>(a.addr) + (a.first + (offset + f) * a.step) / 8;
            std::memcpy(at, &value, sizeof value);
        }
    }
    return snd_pcm_sframes_t(size);
}

int pollRevents(snd_pcm_ioplug_t* io, struct pollfd*, unsigned int, unsigned short* revents) {
    if (gStalled.load()) {
        std::uint64_t count = 0;
        (void)!::read(self(io).wakeFd, &count, sizeof count);  // poll() blocks until the stall is lifted
        *revents = 0;
    } else {
        *revents = POLLIN;
    }
    return 0;
}

int closePcm(snd_pcm_ioplug_t* io) {
    FaultPcm* p = &self(io);
    int expected = p->wakeFd;
    gWakeFd.compare_exchange_strong(expected, -1);
    ::close(p->wakeFd);
    delete p;
    return 0;
}

const snd_pcm_ioplug_callback_t kCallbacks = [] {
    snd_pcm_ioplug_callback_t c{};
    c.start = start;
    c.stop = stop;
    c.pointer = pointer;
    c.transfer = transfer;
    c.close = closePcm;
    c.prepare = prepare;
    c.poll_revents = pollRevents;
    return c;
}();

}  // namespace

extern "C" {

void kestavo_fault_pcm_inject(int fault) {
    gFault.store(fault);
    wake(gWakeFd.load());
}

int kestavo_fault_pcm_pending() { return gFault.load(); }

void kestavo_fault_pcm_stall(int on) {
    gStalled.store(on != 0);
    if (!on) wake(gWakeFd.load());
}

SND_PCM_PLUGIN_DEFINE_FUNC(kestavo_fault) {
    (void)root;
    (void)conf;
    if (stream != SND_PCM_STREAM_CAPTURE) return -EINVAL;
    auto* p = new FaultPcm;
    p->wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    wake(p->wakeFd);
    p->io.version = SND_PCM_IOPLUG_VERSION;
    p->io.name = "kestavo fault";
    p->io.poll_fd = p->wakeFd;
    p->io.poll_events = POLLIN;
    p->io.mmap_rw = 0;
    p->io.callback = &kCallbacks;
    p->io.private_data = p;
    int err = snd_pcm_ioplug_create(&p->io, name, stream, mode);
    if (err < 0) {
        ::close(p->wakeFd);
        delete p;
        return err;
    }
    static const unsigned int kAccess[] = {SND_PCM_ACCESS_RW_INTERLEAVED};
    static const unsigned int kFormats[] = {SND_PCM_FORMAT_S16_LE};
    if ((err = snd_pcm_ioplug_set_param_list(&p->io, SND_PCM_IOPLUG_HW_ACCESS, 1, kAccess)) < 0 ||
        (err = snd_pcm_ioplug_set_param_list(&p->io, SND_PCM_IOPLUG_HW_FORMAT, 1, kFormats)) < 0 ||
        (err = snd_pcm_ioplug_set_param_minmax(&p->io, SND_PCM_IOPLUG_HW_CHANNELS, 1, 2)) < 0 ||
        (err = snd_pcm_ioplug_set_param_minmax(&p->io, SND_PCM_IOPLUG_HW_RATE, 8000, 48000)) < 0 ||
        (err = snd_pcm_ioplug_set_param_minmax(&p->io, SND_PCM_IOPLUG_HW_PERIOD_BYTES, 64, 1 << 16)) < 0 ||
        (err = snd_pcm_ioplug_set_param_minmax(&p->io, SND_PCM_IOPLUG_HW_PERIODS, 2, 64)) < 0) {
        snd_pcm_ioplug_delete(&p->io);  // closes through closePcm
        return err;
    }
    gWakeFd.store(p->wakeFd);
    *pcmp = p->io.pcm;
    return 0;
}

SND_PCM_PLUGIN_SYMBOL(kestavo_fault);
}
