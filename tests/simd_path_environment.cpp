// Linked into the numeric suites that CTest runs once per instruction-set path: when
// TESSARY_SIMD names a path this processor or build lacks, the engine falls back to another
// one, and the whole binary is skipped instead of passing on the wrong path.
#include "fft/fftsg_h.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

class simd_path_environment : public testing::Environment {
  public:
    void SetUp() override {
        const char *forced = std::getenv("TESSARY_SIMD");
        if (forced == nullptr || *forced == '\0') {
            return;
        }
        if (fft_simd_note() != nullptr) {
            GTEST_SKIP() << fft_simd_note();
        }
        // Running other kernels than the ones asked for is a fault, not a reason to skip: a
        // failed assertion here would mark every case skipped, so the binary ends at once.
        if (std::strcmp(fft_simd_path(), forced) != 0) {
            std::fprintf(stderr, "TESSARY_SIMD=%s, but the transforms run %s\n", forced,
                         fft_simd_path());
            std::exit(1);
        }
    }
};

const testing::Environment *const registered =
    testing::AddGlobalTestEnvironment(new simd_path_environment);

} // namespace
