// Internal: the twiddle walk of the transforms' stages, of the real, cosine and sine helpers
// and of the arithmetic's bin-pair kernels. A Value is a complex number (or a group of them)
// with +, multiplication by a double and times_i; internal linkage, as in fftsg_h_common.h.
#ifndef TESSARY_TWIDDLE_WALK_H
#define TESSARY_TWIDDLE_WALK_H

#include <utility>

namespace {

// z(k+1) = z(k-1) + 2i sin(phi) z(k): exact for z(k) = exp(i k phi). Overwrites z(k-1).
template <class Value> inline void twiddle_step(Value &prev, const Value &cur, double two_sin_phi) {
    prev = prev + two_sin_phi * times_i(cur);
}

// A group of consecutive twiddles and the group that follows it.
template <class Group> struct twiddle_run { Group current, following; };

// Twiddles exp(i k phi) for k = 0, 1, 2, ..., in groups of `group` consecutive indices: the two
// running groups take turns, Z(k + group) = Z(k - group) + 2i sin(group phi) Z(k). At every
// multiple of `block` below `last`, both groups come afresh from `reseed(k)` (one sincos), so
// the recurrence never runs more than a block from an exact value and its rounding drift,
// which grows with the number of steps, stays within a few ulps. Every walk follows this one
// convention; only the block length differs between its users.
template <class Group, class Factor, class Reseed> class twiddle_walk {
  public:
    twiddle_walk(twiddle_run<Group> start, Factor two_sin, int group, int block, int last,
                 Reseed reseed)
        : run(start), two_sin(two_sin), group(group), block(block), last(last), reseed(reseed) {}

    const Group &current() const { return run.current; }
    const Group &following() const { return run.following; }

    void advance() {
        k += group;
        if (k % block == 0 && k < last) {
            run = reseed(k);
        } else {
            twiddle_step(run.current, run.following, two_sin);
            std::swap(run.current, run.following);
        }
    }

  private:
    twiddle_run<Group> run;
    Factor two_sin;
    int group, block, last;
    Reseed reseed;
    int k = 0;
};

} // namespace

#endif
