#pragma once
// RepairWavFiles: the start-up repair of WAV recordings a crash or a power cut left incomplete.
//
// The WAV writer keeps the header's two size fields current after every block, but a file written
// by a process that died before its first update still says 34 and 0, and a power cut can leave
// sizes that lag behind (or, with the file's tail lost, run ahead of) the data on disk. This scan
// finds such files and sets the sizes from the file's real length, with the data rounded down to
// whole sample frames, so every recorded byte plays back.
//
// Only files named like our recordings (the caller says which) and laid out exactly like them are
// touched: a canonical 44-byte PCM header
// ("RIFF"…"WAVE", a 16-byte "fmt " chunk, format 1, "data" at offset 36) whose size fields are
// either the never-completed marks 34 and 0 or a consistent pair (RIFF size = data size + 36).
// Anything else — other layouts, extra chunks after the data — is left alone.
//
// Threads: any; call it on the main thread at start-up before recording begins.
#include <filesystem>
#include <functional>
#include <vector>

namespace kestavo::recording {

// Whether a file's name is one the recorder gives its recordings; the scan touches no other file.
using RecordingNameFilter = std::function<bool(const std::filesystem::path&)>;

// Scans `folders` recursively (day folders included) for *.wav files (any letter case) that
// `isRecording` accepts and repairs the ones described above in place. Folders that do not exist
// or cannot be read are skipped; a folder given twice, or inside another one given, is scanned
// once. Returns the paths repaired.
[[nodiscard]] std::vector<std::filesystem::path> RepairWavFiles(const std::vector<std::filesystem::path>& folders,
                                                                const RecordingNameFilter& isRecording);

// Repairs one file; true when it was repaired, false when it needed none or is not ours.
[[nodiscard]] bool RepairWavFile(const std::filesystem::path& path);

}  // namespace kestavo::recording
