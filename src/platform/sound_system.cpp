#include "platform/sound_system.h"

#include <cstdlib>
#include <string_view>

#include "platform/alsa/alsa_input.h"
#include "platform/alsa/alsa_output.h"
#include "platform/file/file_output.h"

namespace kestavo::platform {

CompositeSoundInputSystem::CompositeSoundInputSystem(std::vector<std::unique_ptr<SoundInputSystem>> backends)
    : backends_(std::move(backends)) {}

std::vector<InputDeviceInfo> CompositeSoundInputSystem::inputDevices() {
    std::lock_guard lock(mutex_);
    std::vector<InputDeviceInfo> list;
    counts_.clear();
    for (auto& b : backends_) {
        auto part = b->inputDevices();
        counts_.push_back(part.size());
        list.insert(list.end(), part.begin(), part.end());
    }
    listed_ = true;
    return list;
}

SoundInputSystem* CompositeSoundInputSystem::backendOf_(int& deviceId) {
    std::unique_lock lock(mutex_);
    if (!listed_) {
        lock.unlock();
        (void)inputDevices();
        lock.lock();
    }
    for (std::size_t i = 0; i < backends_.size() && deviceId >= 0; ++i) {
        if (std::size_t(deviceId) < counts_[i]) return backends_[i].get();
        deviceId -= int(counts_[i]);
    }
    return nullptr;
}

std::unique_ptr<SoundInput> CompositeSoundInputSystem::open(int deviceId, const WaveFormat& format,
                                                            std::error_code& error) {
    int local = deviceId;
    SoundInputSystem* backend = backendOf_(local);
    if (backend == nullptr) {
        error = std::make_error_code(std::errc::no_such_device);
        return nullptr;
    }
    return backend->open(local, format, error);
}

std::unique_ptr<SoundMixer> CompositeSoundInputSystem::openMixer(int deviceId, std::error_code& error) {
    int local = deviceId;
    SoundInputSystem* backend = backendOf_(local);
    return backend ? backend->openMixer(local, error) : SoundInputSystem::openMixer(deviceId, error);
}

SoundSystem makeSoundSystem(const Folders& folders, PendingWork& pending) {
    SoundSystem s;
    const char* alsa = std::getenv("KESTAVO_ALSA");
    const bool useAlsa = !(alsa && std::string_view(alsa) == "off");
    std::vector<std::unique_ptr<SoundInputSystem>> backends;
    if (useAlsa) backends.push_back(std::make_unique<AlsaSoundInputSystem>());
    auto lines = FileLineSystem::fromEnvironment(folders.program, pending);
    s.lines = lines.get();
    s.problems = lines->problems();
    backends.push_back(std::move(lines));
    s.input = std::make_unique<CompositeSoundInputSystem>(std::move(backends));
    if (useAlsa)
        s.output = std::make_unique<AlsaSoundOutputSystem>();
    else  // no sound card wanted: monitoring plays into memory, at the pace of the lines
        s.output = std::make_unique<FileSoundOutputSystem>(s.lines->pace() == LinePace::Fast ? OutputPace::Immediate
                                                                                             : OutputPace::RealTime);
    return s;
}

}  // namespace kestavo::platform
