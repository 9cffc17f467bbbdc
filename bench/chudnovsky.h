// A Chudnovsky binary splitting with GMP integers: a peer of the engine for the benchmarks, not
// part of the program.
#ifndef TESSARY_BENCH_CHUDNOVSKY_H
#define TESSARY_BENCH_CHUDNOVSKY_H

#include <gmp.h>

namespace gmp_peer {

// pi = 426880 sqrt(10005) Q(0,N) / T(0,N), with for the terms k >= 1
//   p(k) = (6k-5)(2k-1)(6k-1),  q(k) = k^3 640320^3/24,  t(k) = (-1)^k p(k) (13591409 + 545140134
//   k)
// and t(0) = 13591409, and for a split at m: P = P1 P2, Q = Q1 Q2, T = T1 Q2 + P1 T2.
// Each term adds about 14.18 digits.

struct split_terms {
    mpz_t p, q, t;
    split_terms() { mpz_inits(p, q, t, nullptr); }
    ~split_terms() { mpz_clears(p, q, t, nullptr); }
    split_terms(const split_terms &) = delete;
    split_terms &operator=(const split_terms &) = delete;
};

// Terms a <= k < b; P is not needed for the rightmost range of the whole sum.
inline void binary_split(unsigned long a, unsigned long b, bool need_p, split_terms &out) {
    if (b - a == 1) {
        if (a == 0) {
            mpz_set_ui(out.p, 1);
            mpz_set_ui(out.q, 1);
        } else {
            mpz_set_ui(out.p, 6 * a - 5);
            mpz_mul_ui(out.p, out.p, 2 * a - 1);
            mpz_mul_ui(out.p, out.p, 6 * a - 1);
            mpz_set_ui(out.q, a);
            mpz_mul_ui(out.q, out.q, a);
            mpz_mul_ui(out.q, out.q, a);
            mpz_mul_ui(out.q, out.q, 10939058860032000UL); // 640320^3 / 24
        }
        mpz_set_ui(out.t, 545140134);
        mpz_mul_ui(out.t, out.t, a);
        mpz_add_ui(out.t, out.t, 13591409);
        mpz_mul(out.t, out.t, out.p);
        if (a % 2 == 1) {
            mpz_neg(out.t, out.t);
        }
        return;
    }
    const unsigned long m = a + (b - a) / 2;
    split_terms right;
    binary_split(a, m, true, out);
    binary_split(m, b, need_p, right);
    mpz_mul(out.t, out.t, right.q);
    mpz_mul(right.t, right.t, out.p);
    mpz_add(out.t, out.t, right.t);
    mpz_mul(out.q, out.q, right.q);
    if (need_p) {
        mpz_mul(out.p, out.p, right.p);
    }
}

// pi * 10^digits, truncated (the last digit or two may be off by the rounding of the tail).
inline void chudnovsky_pi(long digits, mpz_t pi) {
    const unsigned long terms = static_cast<unsigned long>(digits / 14.181647462725477) + 2;
    split_terms s;
    binary_split(0, terms, false, s);

    mpz_t one, root;
    mpz_inits(one, root, nullptr);
    mpz_ui_pow_ui(one, 10, static_cast<unsigned long>(digits));
    mpz_mul(root, one, one);
    mpz_mul_ui(root, root, 10005);
    mpz_sqrt(root, root); // sqrt(10005) 10^digits
    mpz_mul(pi, s.q, root);
    mpz_mul_ui(pi, pi, 426880);
    mpz_tdiv_q(pi, pi, s.t);
    mpz_clears(one, root, nullptr);
}

} // namespace gmp_peer

#endif
