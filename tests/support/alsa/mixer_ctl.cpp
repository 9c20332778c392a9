// kestavo_mixer: an ALSA control plug-in for tests (see mixer_ctl.h). Built as an ALSA control
// module; a test's ALSA configuration names it with `ctl_type.kestavo_mixer { lib "<path>" }`.
#include "mixer_ctl.h"

#include <alsa/asoundlib.h>
#include <alsa/control_external.h>

#include <sys/eventfd.h>
#include <unistd.h>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <deque>
#include <mutex>
#include <vector>

namespace {

struct Element {
    const char* name;
    int type;  // SND_CTL_ELEM_TYPE_INTEGER or _BOOLEAN
    unsigned channels;
    long min, max;
};

constexpr std::array<Element, 5> kElements{{
    {"Mic Capture Volume", SND_CTL_ELEM_TYPE_INTEGER, 2, 0, 31},
    {"Mic Capture Switch", SND_CTL_ELEM_TYPE_BOOLEAN, 2, 0, 1},
    {"Line Capture Volume", SND_CTL_ELEM_TYPE_INTEGER, 1, -7, 8},
    {"Aux Capture Switch", SND_CTL_ELEM_TYPE_BOOLEAN, 1, 0, 1},
    {"Master Playback Volume", SND_CTL_ELEM_TYPE_INTEGER, 2, 0, 100},
}};

struct Handle {
    snd_ctl_ext_t ext{};
    int fd = -1;  // readable while events wait
    bool subscribed = false;
    std::deque<unsigned> events;  // element numbers changed
};

std::mutex gMutex;
std::array<std::array<long, 2>, kElements.size()> gValues;
std::vector<Handle*> gHandles;

void resetValues() {
    for (std::size_t e = 0; e < kElements.size(); ++e)
        gValues[e].fill(kElements[e].type == SND_CTL_ELEM_TYPE_BOOLEAN ? 1 : kElements[e].min);
}

const bool gReset = (resetValues(), true);

// Under gMutex: every subscribed handle hears that element `e` changed.
void notify(unsigned e) {
    for (Handle* h : gHandles) {
        if (!h->subscribed) continue;
        h->events.push_back(e);
        const std::uint64_t one = 1;
        (void)!::write(h->fd, &one, sizeof one);
    }
}

Handle& self(snd_ctl_ext_t* ext) { return *static_cast<Handle*>(ext->private_data); }

int elemCount(snd_ctl_ext_t*) { return int(kElements.size()); }

int elemList(snd_ctl_ext_t*, unsigned offset, snd_ctl_elem_id_t* id) {
    snd_ctl_elem_id_set_interface(id, SND_CTL_ELEM_IFACE_MIXER);
    snd_ctl_elem_id_set_name(id, kElements.at(offset).name);
    return 0;
}

snd_ctl_ext_key_t findElem(snd_ctl_ext_t*, const snd_ctl_elem_id_t* id) {
    const char* name = snd_ctl_elem_id_get_name(id);
    for (std::size_t e = 0; e < kElements.size(); ++e)
        if (name && std::strcmp(name, kElements[e].name) == 0) return e;
    const unsigned numid = snd_ctl_elem_id_get_numid(id);
    if (numid >= 1 && numid <= kElements.size()) return numid - 1;
    return SND_CTL_EXT_KEY_NOT_FOUND;
}

int getAttribute(snd_ctl_ext_t*, snd_ctl_ext_key_t key, int* type, unsigned* acc, unsigned* count) {
    *type = kElements.at(key).type;
    *acc = SND_CTL_EXT_ACCESS_READWRITE;
    *count = kElements.at(key).channels;
    return 0;
}

int getIntegerInfo(snd_ctl_ext_t*, snd_ctl_ext_key_t key, long* imin, long* imax, long* istep) {
    *imin = kElements.at(key).min;
    *imax = kElements.at(key).max;
    *istep = 1;
    return 0;
}

int readInteger(snd_ctl_ext_t*, snd_ctl_ext_key_t key, long* value) {
    std::lock_guard lock(gMutex);
    for (unsigned c = 0; c < kElements.at(key).channels; ++c) value[c] = gValues[key][c];
    return 0;
}

int writeInteger(snd_ctl_ext_t*, snd_ctl_ext_key_t key, long* value) {
    std::lock_guard lock(gMutex);
    bool changed = false;
    for (unsigned c = 0; c < kElements.at(key).channels; ++c) {
        const long v = std::clamp(value[c], kElements[key].min, kElements[key].max);
        changed = changed || gValues[key][c] != v;
        gValues[key][c] = v;
    }
    if (changed) notify(unsigned(key));
    return changed ? 1 : 0;
}

void subscribeEvents(snd_ctl_ext_t* ext, int subscribe) {
    std::lock_guard lock(gMutex);
    self(ext).subscribed = subscribe != 0;
}

int readEvent(snd_ctl_ext_t* ext, snd_ctl_elem_id_t* id, unsigned* mask) {
    std::lock_guard lock(gMutex);
    Handle& h = self(ext);
    if (h.events.empty()) {
        std::uint64_t count = 0;
        (void)!::read(h.fd, &count, sizeof count);
        return -EAGAIN;
    }
    const unsigned e = h.events.front();
    h.events.pop_front();
    snd_ctl_elem_id_set_numid(id, e + 1);
    snd_ctl_elem_id_set_interface(id, SND_CTL_ELEM_IFACE_MIXER);
    snd_ctl_elem_id_set_name(id, kElements[e].name);
    *mask = SND_CTL_EVENT_MASK_VALUE;
    return 1;
}

void closeCtl(snd_ctl_ext_t* ext) {
    Handle* h = &self(ext);
    {
        std::lock_guard lock(gMutex);
        std::erase(gHandles, h);
    }
    ::close(h->fd);
    delete h;
}

const snd_ctl_ext_callback_t kCallbacks = [] {
    snd_ctl_ext_callback_t c{};
    c.close = closeCtl;
    c.elem_count = elemCount;
    c.elem_list = elemList;
    c.find_elem = findElem;
    c.get_attribute = getAttribute;
    c.get_integer_info = getIntegerInfo;
    c.read_integer = readInteger;
    c.write_integer = writeInteger;
    c.subscribe_events = subscribeEvents;
    c.read_event = readEvent;
    return c;
}();

}  // namespace

extern "C" {

void kestavo_mixer_ctl_set(int element, int channel, long value) {
    std::lock_guard lock(gMutex);
    gValues.at(std::size_t(element)).at(std::size_t(channel)) = value;
    notify(unsigned(element));
}

long kestavo_mixer_ctl_get(int element, int channel) {
    std::lock_guard lock(gMutex);
    return gValues.at(std::size_t(element)).at(std::size_t(channel));
}

void kestavo_mixer_ctl_reset() {
    std::lock_guard lock(gMutex);
    resetValues();
}

SND_CTL_PLUGIN_DEFINE_FUNC(kestavo_mixer) {
    (void)root;
    (void)conf;
    auto* h = new Handle;
    h->fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    h->ext.version = SND_CTL_EXT_VERSION;
    h->ext.card_idx = 0;
    std::strcpy(h->ext.id, "kestavo");
    std::strcpy(h->ext.driver, "kestavo");
    std::strcpy(h->ext.name, "Kestavo test mixer");
    std::strcpy(h->ext.longname, "Kestavo test mixer");
    std::strcpy(h->ext.mixername, "Kestavo test mixer");
    h->ext.poll_fd = h->fd;
    h->ext.callback = &kCallbacks;
    h->ext.private_data = h;
    if (const int err = snd_ctl_ext_create(&h->ext, name, mode); err < 0) {
        ::close(h->fd);
        delete h;
        return err;
    }
    {
        std::lock_guard lock(gMutex);
        gHandles.push_back(h);
    }
    *handlep = h->ext.handle;
    return 0;
}

SND_CTL_PLUGIN_SYMBOL(kestavo_mixer);
}
