#include "fsk_callerid/fsk_decoder.h"

#include <cmath>
#include <numbers>
#include <string_view>

#include "platform/line_rate.h"

namespace kestavo::plugins {

namespace {
constexpr double kMarkHz = 1250.0;                            // between Bell 202's 1200 Hz and V.23's 1300 Hz
constexpr double kSpaceHz = 2150.0;                           // between V.23's 2100 Hz and Bell 202's 2200 Hz
constexpr double kBit = double(kestavo::kLineRate) / 1200.0;  // 9.1875 samples per bit
constexpr int kIdleBits = 30;                                 // steady mark before a message
constexpr int kGapBits = 30;                                  // the longest pause between two bytes of a message
constexpr double kShare = 0.70;    // the correlators' share of the window's energy on an FSK line
constexpr double kFloor = 1.6e-5;  // power of a sine at -45 dBFS: (10^-2.25)^2 / 2

enum : std::uint8_t {
    kSingle = 0x04,    // single data message format
    kMultiple = 0x80,  // multiple data message format
    kDateTime = 0x01,
    kNumber = 0x02,
    kNumberAbsent = 0x04,
    kName = 0x07,
    kNameAbsent = 0x08,
};

bool printable(std::string_view s) {
    for (const char c : s)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e) return false;
    return true;
}
bool digits(std::string_view s) {
    for (const char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}
}  // namespace

FskCallerIdDecoder::FskCallerIdDecoder() noexcept {
    for (int p = 0; p < kPeriod; ++p) {
        const double t = 2.0 * std::numbers::pi * p / kestavo::kLineRate;
        markCos_[std::size_t(p)] = std::cos(kMarkHz * t);
        markSin_[std::size_t(p)] = std::sin(kMarkHz * t);
        spaceCos_[std::size_t(p)] = std::cos(kSpaceHz * t);
        spaceSin_[std::size_t(p)] = std::sin(kSpaceHz * t);
    }
}

void FskCallerIdDecoder::Reset() noexcept { *this = FskCallerIdDecoder(); }

bool FskCallerIdDecoder::Process(double sample) noexcept {
    const std::size_t p = std::size_t(phase_);
    const std::array<double, 5> v = {sample * markCos_[p], sample * markSin_[p], sample * spaceCos_[p],
                                     sample * spaceSin_[p], sample * sample};
    for (std::size_t k = 0; k < 5; ++k) {
        sum_[k] += v[k] - ring_[k][std::size_t(slot_)];
        ring_[k][std::size_t(slot_)] = v[k];
    }
    if (++slot_ == kWindow) slot_ = 0;
    if (++phase_ == kPeriod) {
        phase_ = 0;
        // The running sums drift by rounding; once a table period they are summed afresh.
        for (std::size_t k = 0; k < 5; ++k) {
            double s = 0.0;
            for (const double x : ring_[k]) s += x;
            sum_[k] = s;
        }
    }
    const double mark = sum_[0] * sum_[0] + sum_[1] * sum_[1];
    const double space = sum_[2] * sum_[2] + sum_[3] * sum_[3];
    // A sine of amplitude A gives A^2 W^2 / 4 in its correlator and A^2 W / 2 of energy.
    const double inBand = 2.0 * (mark + space) / (kWindow * kWindow);
    const double meanSquare = sum_[4] / kWindow;
    const bool fsk = inBand >= kFloor && inBand >= kShare * meanSquare;
    const bool isMark = mark > space;
    const std::uint64_t n = n_++;
    ready_ = false;

    if (receiving_) {
        // A change of bit inside the byte shows where the bit boundaries really are: the clock is
        // pulled halfway towards it, so a sender 1 % fast or slow stays centred to the stop bit.
        if (bit_ >= 1 && isMark != prevMark_) {
            const double error = (double(n) + 0.5 * kBit - 0.5) - nextBitAt_;
            if (std::abs(error) < 0.4 * kBit) nextBitAt_ += 0.5 * error;
        }
        if (double(n) + 0.5 >= nextBitAt_) {
            if (bit_ == 0 && isMark) {
                receiving_ = false;  // not a start bit after all
                inMessage_ = false;
            } else if (bit_ >= 1 && bit_ <= 8) {
                byte_ |= unsigned(isMark) << (bit_ - 1);
            } else if (bit_ == 9) {
                receiving_ = false;
                if (isMark) {
                    lastByteAt_ = n;
                    takeByte(std::uint8_t(byte_));
                } else {
                    inMessage_ = false;  // framing error
                }
            }
            ++bit_;
            nextBitAt_ += kBit;
        }
    } else {
        const bool edge = prevMark_ && !isMark;
        if (edge && (inMessage_ || markRun_ >= int(kIdleBits * kBit))) {
            if (!inMessage_) messageBytes_ = 0;
            inMessage_ = true;
            receiving_ = true;
            bit_ = 0;
            byte_ = 0;
            // The window lags the line by half its length, and so did the edge: the centres of the
            // bits come every kBit from half a bit after the edge.
            nextBitAt_ = double(n) + 0.5 * kBit - 0.5;
        }
        if (inMessage_ && !receiving_ && n - lastByteAt_ > std::uint64_t(kGapBits * kBit)) inMessage_ = false;
    }
    markRun_ = isMark && fsk ? markRun_ + 1 : 0;
    prevMark_ = isMark;
    return ready_;
}

void FskCallerIdDecoder::takeByte(std::uint8_t byte) noexcept {
    if (messageBytes_ == 0 && byte != kSingle && byte != kMultiple) {
        inMessage_ = false;  // not a caller's message: wait for the next steady mark
        return;
    }
    message_[messageBytes_++] = byte;
    if (messageBytes_ >= 2 && messageBytes_ == std::size_t(message_[1]) + 3) {
        inMessage_ = false;
        ready_ = finishMessage();
        markRun_ = 0;
    }
}

bool FskCallerIdDecoder::finishMessage() noexcept {
    unsigned sum = 0;
    for (std::size_t i = 0; i < messageBytes_; ++i) sum += message_[i];
    if (sum % 256 != 0) return false;
    const std::string_view body(reinterpret_cast<const char*>(message_.data()) + 2, message_[1]);
    std::string_view number, reason, name, dateTime;
    if (message_[0] == kSingle) {
        if (body.size() < 9) return false;
        dateTime = body.substr(0, 8);
        const std::string_view rest = body.substr(8);
        (rest == "O" || rest == "P" ? reason : number) = rest;
    } else {
        for (std::size_t at = 0; at < body.size();) {
            if (at + 2 > body.size()) return false;
            const auto type = std::uint8_t(body[at]);
            const std::size_t length = std::uint8_t(body[at + 1]);
            if (at + 2 + length > body.size()) return false;
            const std::string_view value = body.substr(at + 2, length);
            switch (type) {
                case kDateTime: dateTime = value; break;
                case kNumber: number = value; break;
                case kNumberAbsent: reason = value; break;
                case kName: name = value; break;
                case kNameAbsent: break;  // a withheld name leaves the extra text without one
                default: break;           // other parameters (call type, called number, ...) are not shown
            }
            at += 2 + length;
        }
    }
    if (!dateTime.empty() && (dateTime.size() != 8 || !digits(dateTime))) return false;
    if (!printable(number) || !printable(reason) || !printable(name)) return false;
    setText(result_.identifier, number.empty() ? reason : number);
    char extra[DecoderResult::kMaxChars + 1];
    std::size_t used = 0;
    auto add = [&](std::string_view s) {
        for (const char c : s)
            if (used < DecoderResult::kMaxChars) extra[used++] = c;
    };
    add(name);
    if (!name.empty() && !dateTime.empty()) add(", ");
    add(dateTime);
    extra[used] = 0;
    setText(result_.extra, std::string_view(extra, used));
    result_.action = 1;
    return true;
}

}  // namespace kestavo::plugins
