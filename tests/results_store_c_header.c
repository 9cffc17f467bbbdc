/* Compiled as C, so that the results store's header stays usable from C. */
#include "results/results_store.h"

size_t results_row_size_from_c(void) {
    return sizeof(results_row);
}
