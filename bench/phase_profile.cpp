// Where one computation's processor time goes, at full size: the driver's calls into the
// arithmetic and the arithmetic's transforms are linked through timing wrappers
// (-Wl,--wrap), and the time is split by phase (set-up, AGM loop, final phase), by kind of
// operation (products, Newton iterations, linear-time operations, radix test) and, inside
// each, into forward transforms, backward transforms and the rest (packing, bin-pair kernels,
// conversion back and the linear-time work inside the products and the Newton steps).
// The transform counts are printed too: an optimisation must leave them unchanged.
//
//   phase_profile [--digits D]      default D = 8388608
#include "arithmetic/pi_fftcs.h"
#include "engine/pi_benchmark.h"
#include "fft/fftsg_h.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <type_traits>

extern "C" {
void __real_cdft(int n, int sign, double *a);
void __real_cftfsub_upper_half_zero(int n, double *a);
void __real_mp_mul(int, int, const mp_number *, const mp_number *, mp_number *, mp_number *, int,
                   double *, double *, double *);
void __real_mp_mulhf(int, int, const mp_number *, const mp_number *, mp_number *, mp_number *, int,
                     double *, double *);
void __real_mp_squhf_use_infft(int, int, double *, const mp_number *, mp_number *, mp_number *, int,
                               double *);
void __real_mp_squh(int, int, const mp_number *, mp_number *, int, double *);
int __real_mp_inv(int, int, const mp_number *, mp_number *, mp_number *, mp_number *, int, double *,
                  double *);
int __real_mp_sqrt(int, int, const mp_number *, mp_number *, mp_number *, mp_number *, int,
                   double *, double *);
int __real_mp_invisqrt(int, int, int, mp_number *, mp_number *, mp_number *, int, double *,
                       double *);
void __real_mp_add(int, int, const mp_number *, const mp_number *, mp_number *);
void __real_mp_sub(int, int, const mp_number *, const mp_number *, mp_number *);
void __real_mp_imul(int, int, const mp_number *, int, mp_number *);
int __real_mp_idiv(int, int, const mp_number *, int, mp_number *);
void __real_mp_idiv_2(int, int, const mp_number *, mp_number *);
double __real_mp_mul_radix_test(int, int, int, double *);
}

namespace {

double cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

enum phase { setup, loop, final_phase, phases };
enum kind { products, newton, linear, radix_test, kinds };
const char *const phase_names[phases] = {"set-up", "AGM loop", "final phase"};
const char *const kind_names[kinds] = {"products", "Newton iterations", "linear-time ops",
                                       "radix test"};

struct cost {
    double total = 0, forward = 0, backward = 0;
    long forward_calls = 0, backward_calls = 0, calls = 0;
};

cost table[phases][kinds];
double phase_time[phases];
phase current = setup;
double phase_start = 0;
int last_step_precision = 0; // a callback with more than this many digits is the last one

// Transform time of the current driver-level call.
double forward_time = 0, backward_time = 0;
long forward_calls = 0, backward_calls = 0;

void enter_phase(phase p) {
    const double now = cpu_seconds();
    phase_time[current] += now - phase_start;
    phase_start = now;
    current = p;
}

template <class Call> auto timed(kind k, Call call) {
    const double f0 = forward_time, b0 = backward_time;
    const long fc0 = forward_calls, bc0 = backward_calls;
    const double start = cpu_seconds();
    auto finish = [&] {
        cost &c = table[current][k];
        c.total += cpu_seconds() - start;
        c.forward += forward_time - f0;
        c.backward += backward_time - b0;
        c.forward_calls += forward_calls - fc0;
        c.backward_calls += backward_calls - bc0;
        ++c.calls;
    };
    if constexpr (std::is_void_v<decltype(call())>) {
        call();
        finish();
    } else {
        const auto r = call();
        finish();
        return r;
    }
}

void on_progress(int /*step*/, int precision_digits, void *, double) {
    if (precision_digits > last_step_precision) {
        enter_phase(final_phase);
    }
}

} // namespace

extern "C" {
void __wrap_cdft(int n, int sign, double *a) {
    const double start = cpu_seconds();
    __real_cdft(n, sign, a);
    const double t = cpu_seconds() - start;
    if (sign >= 0) {
        forward_time += t;
        ++forward_calls;
    } else {
        backward_time += t;
        ++backward_calls;
    }
}
// The forward transform of a packed operand.
void __wrap_cftfsub_upper_half_zero(int n, double *a) {
    const double start = cpu_seconds();
    __real_cftfsub_upper_half_zero(n, a);
    forward_time += cpu_seconds() - start;
    ++forward_calls;
}
void __wrap_mp_mul(int n, int radix, const mp_number *in1, const mp_number *in2, mp_number *out,
                   mp_number *tmp, int nfft, double *d1, double *d2, double *d3) {
    timed(products, [&] { __real_mp_mul(n, radix, in1, in2, out, tmp, nfft, d1, d2, d3); });
}
void __wrap_mp_mulhf(int n, int radix, const mp_number *in1, const mp_number *in2, mp_number *out,
                     mp_number *tmp, int nfft, double *d1, double *d2) {
    timed(products, [&] { __real_mp_mulhf(n, radix, in1, in2, out, tmp, nfft, d1, d2); });
}
void __wrap_mp_squhf_use_infft(int n, int radix, double *d1, const mp_number *in, mp_number *out,
                               mp_number *tmp, int nfft, double *d2) {
    timed(products, [&] { __real_mp_squhf_use_infft(n, radix, d1, in, out, tmp, nfft, d2); });
}
void __wrap_mp_squh(int n, int radix, const mp_number *in, mp_number *out, int nfft, double *d1) {
    timed(products, [&] { __real_mp_squh(n, radix, in, out, nfft, d1); });
}
int __wrap_mp_inv(int n, int radix, const mp_number *in, mp_number *out, mp_number *tmp1,
                  mp_number *tmp2, int nfft, double *d1, double *d2) {
    return timed(newton,
                 [&] { return __real_mp_inv(n, radix, in, out, tmp1, tmp2, nfft, d1, d2); });
}
int __wrap_mp_sqrt(int n, int radix, const mp_number *in, mp_number *out, mp_number *tmp1,
                   mp_number *tmp2, int nfft, double *d1, double *d2) {
    return timed(newton,
                 [&] { return __real_mp_sqrt(n, radix, in, out, tmp1, tmp2, nfft, d1, d2); });
}
int __wrap_mp_invisqrt(int n, int radix, int x, mp_number *out, mp_number *tmp1, mp_number *tmp2,
                       int nfft, double *d1, double *d2) {
    return timed(newton,
                 [&] { return __real_mp_invisqrt(n, radix, x, out, tmp1, tmp2, nfft, d1, d2); });
}
void __wrap_mp_add(int n, int radix, const mp_number *in1, const mp_number *in2, mp_number *out) {
    timed(linear, [&] { __real_mp_add(n, radix, in1, in2, out); });
}
void __wrap_mp_sub(int n, int radix, const mp_number *in1, const mp_number *in2, mp_number *out) {
    timed(linear, [&] { __real_mp_sub(n, radix, in1, in2, out); });
}
void __wrap_mp_imul(int n, int radix, const mp_number *in1, int in2, mp_number *out) {
    timed(linear, [&] { __real_mp_imul(n, radix, in1, in2, out); });
}
int __wrap_mp_idiv(int n, int radix, const mp_number *in1, int in2, mp_number *out) {
    return timed(linear, [&] { return __real_mp_idiv(n, radix, in1, in2, out); });
}
// The loop's first operation that the set-up never uses.
void __wrap_mp_idiv_2(int n, int radix, const mp_number *in, mp_number *out) {
    if (current == setup) {
        enter_phase(loop);
    }
    timed(linear, [&] { __real_mp_idiv_2(n, radix, in, out); });
}
double __wrap_mp_mul_radix_test(int n, int radix, int nfft, double *d) {
    return timed(radix_test, [&] { return __real_mp_mul_radix_test(n, radix, nfft, d); });
}
}

int main(int argc, char **argv) {
    int digits = 8388608;
    if (argc == 3 && std::strcmp(argv[1], "--digits") == 0) {
        digits = std::atoi(argv[2]);
    } else if (argc != 1) {
        std::fprintf(stderr, "usage: %s [--digits D]\n", argv[0]);
        return 2;
    }
    // The loop stops once 4 nprc > n; with radix 10000 a callback reports 16 nprc digits.
    int nfft = 2;
    while (nfft < digits / 4) {
        nfft *= 2;
    }
    last_step_precision = 4 * (nfft + 2);

    pi_result r{};
    phase_start = cpu_seconds();
    pi_calculate_with_progress(digits, &r, on_progress, nullptr);
    enter_phase(final_phase);
    if (r.success != 1 || r.digits != digits) {
        std::fprintf(stderr, "computation failed or radix not 10000: %s\n", r.error_message);
        return 1;
    }

    const double total = r.time_seconds;
    std::printf("one computation of %d digits: %.3f s processor time (pi_calculate, %s kernels)\n",
                digits, total, fft_simd_path());
    std::printf("%-12s %-18s %6s %9s %7s %9s %9s %9s %5s %5s\n", "phase", "operation", "calls",
                "time s", "share", "forward", "backward", "rest", "#fwd", "#bwd");
    double sums[4] = {};
    long counts[2] = {};
    for (int p = 0; p < phases; ++p) {
        double in_ops = 0;
        for (int k = 0; k < kinds; ++k) {
            const cost &c = table[p][k];
            if (c.calls == 0) {
                continue;
            }
            const double rest = c.total - c.forward - c.backward;
            std::printf("%-12s %-18s %6ld %9.3f %6.1f%% %9.3f %9.3f %9.3f %5ld %5ld\n",
                        phase_names[p], kind_names[k], c.calls, c.total, 100 * c.total / total,
                        c.forward, c.backward, rest, c.forward_calls, c.backward_calls);
            in_ops += c.total;
            sums[0] += c.total;
            sums[1] += c.forward;
            sums[2] += c.backward;
            sums[3] += rest;
            counts[0] += c.forward_calls;
            counts[1] += c.backward_calls;
        }
        std::printf("%-12s %-18s %6s %9.3f %6.1f%%   (phase total; outside operations %.3f s)\n",
                    phase_names[p], "all", "", phase_time[p], 100 * phase_time[p] / total,
                    phase_time[p] - in_ops);
    }
    std::printf("%-12s %-18s %6s %9.3f %6.1f%% %9.3f %9.3f %9.3f %5ld %5ld\n", "total",
                "operations", "", sums[0], 100 * sums[0] / total, sums[1], sums[2], sums[3],
                counts[0], counts[1]);
    std::printf("transforms: %.1f%% forward, %.1f%% backward, %.1f%% everything else\n",
                100 * sums[1] / total, 100 * sums[2] / total,
                100 * (total - sums[1] - sums[2]) / total);
    return 0;
}
