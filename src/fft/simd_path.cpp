#include "fft/simd_path.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace simd {
namespace {

// A path's name, and whether it runs here: the processor supports it, and so does the
// operating system, which must save the wide registers.
struct path_entry {
    const char *name;
    bool (*supported)();
};

#define SIMD_PATH_ENTRY(path, supported) {#path, [] { return static_cast<bool>(supported); }},
constexpr path_entry paths[path_count] = {TESSARY_SIMD_PATHS(SIMD_PATH_ENTRY)};
#undef SIMD_PATH_ENTRY

struct choice {
    path active;
    const char *note; // why TESSARY_SIMD was not followed, or null
};

// The names of this build's paths, "avx512, avx2, baseline".
void list_names(char *names, std::size_t size) {
    names[0] = '\0';
    for (int p = 0; p < path_count; ++p) {
        const std::size_t used = std::strlen(names);
        std::snprintf(names + used, size - used, "%s%s", p == 0 ? "" : ", ", paths[p].name);
    }
}

choice choose() {
#ifdef __x86_64__
    __builtin_cpu_init();
#endif
    int fastest = 0;
    while (!paths[fastest].supported()) {
        ++fastest;
    }
    const choice fallback{static_cast<path>(fastest), nullptr};
    const char *forced = std::getenv("TESSARY_SIMD");
    if (forced == nullptr || *forced == '\0') {
        return fallback;
    }
    static char note[200];
    for (int p = 0; p < path_count; ++p) {
        if (std::strcmp(forced, paths[p].name) == 0) {
            if (paths[p].supported()) {
                return {static_cast<path>(p), nullptr};
            }
            std::snprintf(note, sizeof note, "TESSARY_SIMD=%s: this processor lacks it; running %s",
                          paths[p].name, paths[fastest].name);
            return {fallback.active, note};
        }
    }
    char names[64];
    list_names(names, sizeof names);
    std::snprintf(note, sizeof note,
                  "TESSARY_SIMD=%.40s: not a path of this build (%s); running %s", forced, names,
                  paths[fastest].name);
    return {fallback.active, note};
}

const choice &active_choice() {
    static const choice chosen = choose();
    return chosen;
}

} // namespace

path active_path() {
    return active_choice().active;
}

const char *active_note() {
    return active_choice().note;
}

const char *name_of(path p) {
    return paths[static_cast<int>(p)].name;
}

} // namespace simd
