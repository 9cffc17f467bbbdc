// Linked into the numeric suites that CTest runs once per instruction-set path: when
// TESSARY_SIMD names a path this processor or build lacks, the engine falls back to another
// one, and the whole binary is skipped instead of passing on the wrong path.
#include "fft/fftsg_h.h"

#include <gtest/gtest.h>

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
        ASSERT_STREQ(fft_simd_path(), forced);
    }
};

const testing::Environment *const registered =
    testing::AddGlobalTestEnvironment(new simd_path_environment);

} // namespace
