// Which kernels run: every kernel table names the path it was compiled for, each path's entry
// is its own table, and both modules run the tables of the one path chosen for the process
// (the one TESSARY_SIMD forces in the per-path runs).
#include "arithmetic/pi_fftcs.h"
#include "arithmetic/pi_fftcs_kernels.h"
#include "arithmetic/pi_fftcs_release.h"
#include "engine/pi_benchmark.h"
#include "fft/fftsg_h.h"
#include "fft/fftsg_h_kernels.h"

#include <gtest/gtest.h>

namespace {

// The baseline is the only path that runs the portable lanes of the carry release; the wider
// paths run theirs in vector registers.
bool runs_portable_release(const mp_kernels::kernel_table &kernels) {
    return kernels.release->path == simd::path::baseline;
}

TEST(SimdPath, EveryPathHasItsOwnTables) {
    for (int i = 0; i < simd::path_count; ++i) {
        const auto path = static_cast<simd::path>(i);
        SCOPED_TRACE(simd::name_of(path));
        EXPECT_EQ(fftsg::path_kernels.of(path).path, path);
        EXPECT_EQ(mp_kernels::path_kernels.of(path).path, path);
        EXPECT_EQ(runs_portable_release(mp_kernels::path_kernels.of(path)),
                  path == simd::path::baseline);
    }
}

TEST(SimdPath, BothModulesRunTheChosenPathAndNameIt) {
    const simd::path chosen = simd::active_path();
    SCOPED_TRACE(simd::name_of(chosen));
    EXPECT_EQ(fftsg::path_kernels.active().path, chosen);
    EXPECT_EQ(mp_kernels::path_kernels.active().path, chosen);
    EXPECT_EQ(runs_portable_release(mp_kernels::path_kernels.active()),
              chosen == simd::path::baseline);
    EXPECT_STREQ(fft_simd_path(), simd::name_of(chosen));
    EXPECT_STREQ(mp_simd_path(), simd::name_of(chosen));
    EXPECT_STREQ(pi_simd_path(), simd::name_of(chosen));
}

} // namespace
