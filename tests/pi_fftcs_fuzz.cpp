// libFuzzer target for mp_sscanf: no text may make it read or write out of
// bounds, and whatever it reads must be a well-formed number that mp_sprintf
// prints within its documented buffer and mp_sscanf reads back unchanged.
// The first byte chooses the length and the radix; the rest is the text.
#include "arithmetic/pi_fftcs.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

namespace {

// Blocks of exactly the documented size, so that AddressSanitizer sees any
// access past them.
struct Block {
    explicit Block(size_t size) : bytes(new std::byte[size]) {}
    std::unique_ptr<std::byte[]> bytes;
    mp_number *number() { return reinterpret_cast<mp_number *>(bytes.get()); }
    char *text() { return reinterpret_cast<char *>(bytes.get()); }
};

bool well_formed(const mp_number *x, int n, int radix) {
    if (x->sign == 0) {
        if (x->exponent != 0) {
            return false;
        }
        for (int i = 0; i < n; ++i) {
            if (x->digit[i] != 0) {
                return false;
            }
        }
        return true;
    }
    if ((x->sign != 1 && x->sign != -1) || x->digit[0] == 0) {
        return false;
    }
    for (int i = 0; i < n; ++i) {
        if (x->digit[i] < 0 || x->digit[i] >= radix) {
            return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const int log10_radix = 1 + data[0] % 4;
    const int n = 1 + data[0] / 4;
    const int radix = log10_radix == 1   ? 10
                      : log10_radix == 2 ? 100
                      : log10_radix == 3 ? 1000
                                         : 10000;

    Block text(size);
    std::memcpy(text.text(), data + 1, size - 1);
    text.text()[size - 1] = '\0';

    Block read(mp_number_size(n));
    mp_sscanf(n, log10_radix, text.text(), read.number());
    if (!well_formed(read.number(), n, radix)) {
        __builtin_trap();
    }

    const size_t printed_size = static_cast<size_t>(n) * log10_radix + 15;
    Block printed(printed_size);
    mp_sprintf(n, log10_radix, read.number(), printed.text());
    if (std::strlen(printed.text()) >= printed_size) {
        __builtin_trap();
    }

    Block again(mp_number_size(n));
    mp_sscanf(n, log10_radix, printed.text(), again.number());
    if (std::memcmp(read.bytes.get(), again.bytes.get(), mp_number_size(n)) != 0) {
        __builtin_trap();
    }
    return 0;
}
