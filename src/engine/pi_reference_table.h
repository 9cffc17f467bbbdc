// The engine's reference for pi: residues of its decimals, by which a computation checks
// its own digits. The table itself (pi_reference_table.cpp) is generated from MPFR by
// tools/make_pi_reference.cpp; only the engine, the generator and the tests include this.
#ifndef TESSARY_PI_REFERENCE_TABLE_H
#define TESSARY_PI_REFERENCE_TABLE_H

#include <cstdint>

namespace pi_reference {

// Every residue is modulo the Mersenne prime 2^61 - 1. A single wrong radix digit changes a
// residue by (difference) * 10^k, which no prime above 10 divides: it is always caught.
constexpr std::uint64_t modulus = (std::uint64_t{1} << 61) - 1;

// Decimals are counted from the first after "3." and cut into blocks of block_decimals,
// a multiple of every log10_radix (1 to 4), so that blocks start and end on radix digits.
constexpr int block_decimals = 3072;
static_assert(block_decimals % 12 == 0);
// The largest computation checked to all but its last places: 33,554,432 decimals, the
// largest size of the classic fixed-size pi benchmarks.
constexpr int reach_decimals = 1 << 25;
// Enough blocks to cover reach_decimals; a larger computation is checked in all of them.
constexpr int block_count = (reach_decimals + block_decimals - 1) / block_decimals;
constexpr int covered_decimals = block_count * block_decimals;

// A computation's last decimals carry its accumulated rounding: measured against MPFR at
// every length from 2 to 2^21 and every radix, and at 2^22 and 2^23 in radix 10000, at most
// 6 of them were wrong. The radix digits that hold the last 16 decimals are not checked.
constexpr int unchecked_decimals = 16;
constexpr int unchecked_radix_digits(int log10_radix) {
    return (unchecked_decimals + log10_radix - 1) / log10_radix;
}

// Decimals that no rounding of a correct computation can change beyond the checked ones:
// the generator keeps the checked end off runs of 9s or 0s this long, through which a
// rounding error in the unchecked places could carry or borrow into the checked ones.
constexpr int carry_guard_decimals = 4;

// A computation of log10_radix << log2_nfft decimals, at most reach_decimals, ends in a
// partial block: its first `verified` - `verified` % block_decimals decimals are full blocks,
// the rest are its tail entry's residue.
constexpr int tail_max_log2_nfft = 25;
constexpr bool has_tail(int log10_radix, int log2_nfft) {
    return log2_nfft <= tail_max_log2_nfft &&
           (std::int64_t{log10_radix} << log2_nfft) <= reach_decimals;
}
struct tail_entry {
    std::int32_t digits;   // log10_radix << log2_nfft
    std::int32_t verified; // decimals checked: digits less the unchecked ones, never below 0
    std::uint64_t residue; // of the decimals past the last full block up to `verified`
};

extern const std::uint64_t block_residues[block_count];
// tails[log10_radix - 1][log2_nfft - 1] where has_tail; the other entries are zero.
extern const tail_entry tails[4][tail_max_log2_nfft];

} // namespace pi_reference

#endif
