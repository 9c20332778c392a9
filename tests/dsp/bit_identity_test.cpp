// The product detectors against the straightforward versions in reference_detectors.h: on three minutes of
// busy line sound (noise, tones, DTMF numbers, АОН cycles, dial pulses, voice) every output of every
// sample must be the same, and each detector must have decided something along the way.
#include <gtest/gtest.h>

#include <string>

#include "dsp/caller_id_mf.h"
#include "dsp/dtmf_detector.h"
#include "dsp/gain_control.h"
#include "dsp/pulse_dial_detector.h"
#include "dsp/voice_detector.h"
#include "reference_detectors.h"
#include "support/signal_gen.h"

namespace kestavo::dsp {
namespace {

class BitIdentity : public ::testing::Test {
protected:
    static const test::Signal& sound() {
        static const test::Signal s = test::mixedLineSound(180.0, 1);
        return s;
    }
};

TEST_F(BitIdentity, DtmfGivesTheSameNumbersOnTheSameSamples) {
    T_DTMF product;
    reference::Dtmf ref;
    int numbers = 0;
    for (std::size_t n = 0; n < sound().size(); ++n) {
        const std::string expected = ref.Process(sound()[n]);
        ASSERT_EQ(std::string(product.Process(sound()[n])), expected) << "sample " << n;
        numbers += !expected.empty();
    }
    EXPECT_GT(numbers, 0);
}

TEST_F(BitIdentity, AonGivesTheSameNumbersOnTheSameSamples) {
    t_aon product;
    reference::Aon ref;
    int numbers = 0;
    for (std::size_t n = 0; n < sound().size(); ++n) {
        const std::string expected = ref.Process(sound()[n]);
        ASSERT_EQ(std::string(product.Process(sound()[n])), expected) << "sample " << n;
        numbers += !expected.empty();
    }
    EXPECT_GT(numbers, 0);
}

TEST_F(BitIdentity, PulseGivesTheSameNumbersOnTheSameSamples) {
    for (double threshold : {0.008, 0.02}) {
        TPulse_detector product(1);
        product.SetThreshold(threshold);
        reference::Pulse ref(threshold);
        int numbers = 0;
        for (std::size_t n = 0; n < sound().size(); ++n) {
            const std::string expected = ref.Process(sound()[n]);
            ASSERT_EQ(std::string(product.Process(sound()[n])), expected) << "sample " << n;
            numbers += !expected.empty();
        }
        EXPECT_GT(numbers, 0) << threshold;
    }
}

TEST_F(BitIdentity, VoxGivesTheSameDecisionsOnTheSameSamples) {
    TVOX product;
    product.SetStopTime(1.0);
    reference::Vox ref(1.0);
    int starts = 0, stops = 0;
    for (std::size_t n = 0; n < sound().size(); ++n) {
        const int expected = ref.Process(sound()[n]);
        ASSERT_EQ(product.Process(sound()[n]), expected) << "sample " << n;
        starts += expected == 1;
        stops += expected == 0;
    }
    EXPECT_GT(starts, 0);
    EXPECT_GT(stops, 0);
}

TEST_F(BitIdentity, AgcGivesTheSameSamples) {
    Tv_agc product;
    reference::Agc ref;
    for (std::size_t n = 0; n < sound().size(); ++n)
        ASSERT_EQ(product.Process(sound()[n]), ref.Process(sound()[n])) << n;
}

}  // namespace
}  // namespace kestavo::dsp
