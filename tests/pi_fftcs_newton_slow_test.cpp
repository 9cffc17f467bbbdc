// The Newton iterations at the engine's lengths, up to nfft = 2^21.
#include "pi_fftcs_newton_support.h"

#include <cstdio>

namespace {

using namespace pi_fftcs_test;

TEST(MpNewtonLong, MatchMpfrUpTo2To21AtEveryAcceptedRadix) {
    NewtonErrors worst;
    for (int nfft = 1 << 19; nfft <= 1 << 21; nfft *= 2) {
        for_each_accepted_radix(nfft, [&](int log10_radix) {
            check_newton(nfft, nfft + 2, log10_radix, 104729u * nfft + log10_radix, 1, &worst);
        });
    }
    print_newton_errors(worst);
}

} // namespace
