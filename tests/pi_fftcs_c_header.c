/* Compiled as C, so that the arithmetic's header stays usable from C. */
#include "arithmetic/pi_fftcs.h"

size_t pi_fftcs_number_size_from_c(int n) {
    return mp_number_size(n);
}
