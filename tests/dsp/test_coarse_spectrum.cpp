// SPDX-License-Identifier: GPL-3.0-or-later
#include "dsp/coarse_spectrum.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// Both tones are needed, each standing out of the band near nominal; df comes out to a fraction
// of the 10.8 Hz bin, well inside the 5 Hz the estimator relocks at.
TEST(CoarseSpectrum, FindsDfOnlyWithBothTones) {
    struct Case {
        double df, amp1, amp2;
        bool found;
    };
    for (const Case c :
         {Case{-45.0, 60.0, 60.0, true}, Case{0.0, 60.0, 60.0, true}, Case{12.3, 30.0, 80.0, true},
          Case{68.0, 60.0, 60.0, true}, Case{0.0, 80.0, 0.0, false}, Case{0.0, 0.0, 80.0, false},
          Case{0.0, 0.2, 0.2, false}}) {
        dsp::CoarseSpectrum s;
        for (size_t i = 0; i < 3 * dsp::CoarseSpectrum::size / 2; ++i) {
            const double w = 2.0 * 3.14159265358979323846 * static_cast<double>(i) / 11025.0;
            s.push(std::round(128.0 + c.amp1 * std::sin(w * (1000.0 + c.df)) +
                              c.amp2 * std::sin(w * (2000.0 + c.df))));
        }
        double df = -1000.0;
        EXPECT_EQ(s.find(df), c.found) << c.df << " " << c.amp1 << " " << c.amp2;
        if (c.found) {
            EXPECT_NEAR(df, c.df, 1.0) << c.df;
        }
    }
}

} // namespace
