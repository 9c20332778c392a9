// snd.ini: any bytes give a password without a crash; any password saved reads back.
#include "config/password.h"
#include "fuzz_folder.h"

#include <cstdint>
#include <cstdlib>

using namespace kestavo::config;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto dir = kestavo::fuzz::folder();
    kestavo::fuzz::writeInput(dir / "snd.ini", data, size);
    if (!LoadPassword(dir / "snd.ini")) std::abort();

    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::string password = input.substr(0, std::min<size_t>(size, kMaxPasswordBytes));
    if (Unscramble(Scramble(password)) != password) std::abort();
    if (UnescapePasswordLine(EscapePasswordLine(input)) != input) std::abort();
    if (SavePassword(dir / "snd.ini", password) || LoadPassword(dir / "snd.ini") != password) std::abort();
    return 0;
}
