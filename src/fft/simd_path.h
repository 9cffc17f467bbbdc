// Internal to the engine's modules: the instruction-set path, one value chosen once per process
// from the processor's features and TESSARY_SIMD. The FFT and the arithmetic index their kernel
// tables by it, and every table names the path it was compiled for.
#ifndef TESSARY_SIMD_PATH_H
#define TESSARY_SIMD_PATH_H

#if __has_include("simd_paths.h")
#include "simd_paths.h" // the build's list of paths
#else
// Built from the sources alone (the fuzzer, the thread check): the baseline only.
#define TESSARY_SIMD_PATHS(X) X(baseline, true)
#endif

namespace simd {

// Fastest first; the baseline, last, runs on every processor of the architecture.
enum class path {
#define SIMD_PATH_ENUMERATOR(name, supported) name,
    TESSARY_SIMD_PATHS(SIMD_PATH_ENUMERATOR)
#undef SIMD_PATH_ENUMERATOR
};

#define SIMD_PATH_ONE(name, supported) +1
constexpr int path_count = 0 TESSARY_SIMD_PATHS(SIMD_PATH_ONE);
#undef SIMD_PATH_ONE

// The path of this process: the fastest one the processor supports, or the one TESSARY_SIMD
// names. A name this build does not know, or a path the processor lacks, falls back to the
// fastest path, and active_note() says so in English (otherwise it is null): the engine never
// prints, so the front ends report it.
path active_path();
const char *active_note();

const char *name_of(path p);

// A module's kernel tables, one per path in the order of simd::path.
template <class Table> struct per_path {
    const Table *tables[path_count];

    const Table &of(path p) const { return *tables[static_cast<int>(p)]; }
    // The table of active_path(), looked up once.
    const Table &active() const {
        static const Table &chosen = of(active_path());
        return chosen;
    }
};

} // namespace simd

// Inside the namespace of a module whose tables are <module>::<path>::kernels, of type
// <module>::kernel_table: TESSARY_SIMD_PATHS(SIMD_DECLARE_KERNELS) declares them all, and
// {TESSARY_SIMD_PATHS(SIMD_KERNELS_ADDRESS)} lists them for a per_path.
#define SIMD_DECLARE_KERNELS(path, supported)                                                      \
    namespace path {                                                                               \
    extern const kernel_table kernels;                                                             \
    }
#define SIMD_KERNELS_ADDRESS(path, supported) &path::kernels,

#endif
