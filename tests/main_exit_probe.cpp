// Linked into a build of the program with -Wl,--wrap=pi_cleanup: says on
// standard error that main called the engine's clean-up, then does it.
#include <cstdio>

extern "C" void __real_pi_cleanup(void);

extern "C" void __wrap_pi_cleanup(void) {
    std::fputs("pi_cleanup called\n", stderr);
    __real_pi_cleanup();
}
