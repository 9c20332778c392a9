#pragma once
// The controls of the `kestavo_mixer` ALSA control plug-in (tests/support/alsa/mixer_ctl.cpp): a
// sound card's mixer without the card, for the mixer backend's tests.
//
// Its elements, as a card's driver would name them:
//   0 "Mic Capture Volume"      2 channels, 0..31
//   1 "Mic Capture Switch"      2 channels
//   2 "Line Capture Volume"     1 channel, -7..8
//   3 "Aux Capture Switch"      1 channel
//   4 "Master Playback Volume"  2 channels, 0..100 (playback only)
// Values are shared by every handle opened on it, and every write is reported to each handle
// subscribed to events (the writer's own included), as the kernel does for a card.
//
// Threads: the controls may be called from any thread while no handle is in use elsewhere.
extern "C" {

using KestavoMixerSet = void (*)(int element, int channel, long value);
using KestavoMixerGet = long (*)(int element, int channel);
using KestavoMixerReset = void (*)();

// Another program sets a value: every handle hears of it at its next read of events.
void kestavo_mixer_ctl_set(int element, int channel, long value);
long kestavo_mixer_ctl_get(int element, int channel);
// Every value back to its start (volumes at their minimum, switches on).
void kestavo_mixer_ctl_reset();
}
