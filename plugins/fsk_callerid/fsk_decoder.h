#pragma once
// FskCallerIdDecoder: reads caller identification sent on-hook by FSK at 1200 baud, Bell 202
// (mark 1200 Hz, space 2200 Hz) or V.23 (mark 1300 Hz, space 2100 Hz), in the single (0x04) and
// multiple (0x80) data message formats of ETSI EN 300 659-3 and Telcordia GR-30.
//
// Theory of operation. Two complex correlators over the last 9 samples (one bit, 8.2 ms) measure the
// power near 1250 Hz (mark) and near 2150 Hz (space); a one-bit window is about 1.2 kHz wide, so
// one pair serves both standards. The larger power gives the bit. The line counts as carrying FSK
// when the two correlators hold at least 70 % of the window's energy and it is above -45 dBFS.
// Bytes are asynchronous (a space start bit, eight data bits first bit lowest, a mark stop bit); a
// start bit is found at the fall from mark to space and its bits are read at their centres, the
// bit clock pulled towards each change of bit inside the byte. The
// channel seizure (alternating bits) is passed over; a message begins with the first byte after
// at least 30 bits of steady mark. A message is its type, its length, that many bytes and a
// checksum that makes the sum of all its bytes 0 modulo 256; a framing error, a gap of more than
// 30 bits, a wrong checksum or a field that does not fit drops it unreported.
// The result: identifier = the calling number, or when it is withheld the reason letter sent
// ("P" private, "O" unavailable), or nothing; extra text = the name and the date and time as sent
// ("MMDDHHMM"), joined by ", ", when present; action 1 (start a recording if the number is listed).
// Threads: a plain value; Process runs on the caller's thread (a channel's thread), one sample per call.
#include <array>
#include <cstdint>

#include "common/decoder_result.h"

namespace kestavo::plugins {

class FskCallerIdDecoder {
public:
    FskCallerIdDecoder() noexcept;
    // One normalised sample (full scale 1.0). True when Result() holds a new caller.
    bool Process(double sample) noexcept;
    [[nodiscard]] const DecoderResult& Result() const noexcept { return result_; }
    void Reset() noexcept;

private:
    static constexpr int kWindow = 9;    // correlator length: one bit at 1200 baud is 9.19 samples
    static constexpr int kPeriod = 441;  // both correlator frequencies repeat every 441 samples
    void takeByte(std::uint8_t byte) noexcept;
    bool finishMessage() noexcept;

    std::array<double, kPeriod> markCos_{}, markSin_{}, spaceCos_{}, spaceSin_{};  // tables, one period
    std::array<std::array<double, kWindow>, 5> ring_{};  // the products in the window, and x^2
    std::array<double, 5> sum_{};                        // their sums over the window
    int phase_ = 0;                                      // position in the tables
    int slot_ = 0;                                       // position in the ring
    std::uint64_t n_ = 0;                                // samples since Reset
    bool prevMark_ = false;                              // the previous sample's bit
    int markRun_ = 0;                                    // samples of steady mark on a line carrying FSK
    bool receiving_ = false;                             // inside a byte
    double nextBitAt_ = 0.0;                             // sample position of the next bit's centre
    int bit_ = 0;                                        // 0 start bit, 1-8 data, 9 stop bit
    unsigned byte_ = 0;                                  // data bits so far
    bool inMessage_ = false;                             // bytes of a message are arriving
    std::uint64_t lastByteAt_ = 0;                       // sample of the last byte's stop bit
    std::array<std::uint8_t, 260> message_{};            // type, length, body, checksum
    std::size_t messageBytes_ = 0;
    bool ready_ = false;  // a checked message has been turned into the result
    DecoderResult result_;
};

}  // namespace kestavo::plugins
