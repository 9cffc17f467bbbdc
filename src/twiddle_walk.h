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
        : run_(start), two_sin_(two_sin), group_(group), block_(block), last_(last),
          reseed_(reseed) {}

    const Group &current() const { return run_.current; }
    const Group &following() const { return run_.following; }

    void advance() {
        k_ += group_;
        if (k_ % block_ == 0 && k_ < last_) {
            run_ = reseed_(k_);
        } else {
            twiddle_step(run_.current, run_.following, two_sin_);
            std::swap(run_.current, run_.following);
        }
    }

  private:
    twiddle_run<Group> run_;
    Factor two_sin_;
    int group_, block_, last_;
    Reseed reseed_;
    int k_ = 0;
};

} // namespace

#endif
