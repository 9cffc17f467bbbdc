#include "engine/pi_benchmark.h"

#include "arithmetic/pi_fftcs.h"
#include "engine/pi_radix.h"
#include "engine/pi_reference_table.h"
#include "fft/fftsg_h.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>

static_assert(offsetof(pi_result, success) == 0);
static_assert(offsetof(pi_result, digits) == 4);
static_assert(offsetof(pi_result, time_seconds) == 8);
static_assert(offsetof(pi_result, score) == 16);
static_assert(offsetof(pi_result, error_message) == 24);
static_assert(sizeof(pi_result) == 280);
static_assert(offsetof(pi_check, unchecked_digits) == 8);
static_assert(offsetof(pi_check, arithmetic_error) == 12);
static_assert(sizeof(pi_check) == 16);

namespace {

// clock() ticks once per microsecond on POSIX systems.
static_assert(CLOCKS_PER_SEC == 1000000);
constexpr double seconds_per_tick = 1e-6;

double seconds_since(std::clock_t start) {
    return static_cast<double>(std::clock() - start) * seconds_per_tick;
}

// Smallest k >= 1 with 2^k >= digits / 4: the FFT length exponent for `digits` digits.
int log2_nfft_for(int digits) {
    const int quarter = static_cast<int>(static_cast<unsigned>(digits) / 4);
    int k = 1;
    while ((1 << k) < quarter) {
        ++k;
    }
    return k;
}

// Nearest whole number, halves away from zero.
double round_half_away(double x) {
    return std::trunc(x + std::copysign(0.49999999999999994, x));
}

// Score of D digits in T processor seconds: ceil(log2(D)^2 * D * 5.663691143091034e-7 / T).
double score_for(int digits, double seconds) {
    if (digits <= 0 || !(seconds > 0)) {
        return 0;
    }
    const double t = std::log2(static_cast<double>(digits));
    return std::ceil(t * t * (static_cast<double>(digits) * 5.663691143091034e-7) / seconds);
}

template <std::size_t size> void set_text(char (&buffer)[size], const char *text) {
    std::snprintf(buffer, size, "%s", text);
}

// Arrays of a huge page or more get a mapping of their own that starts on a huge page, with
// their whole huge pages advised as such: where the kernel allows it, the transforms' passes
// over 16 MB then miss the TLB far less, and their time varies less from run to run. The part
// past the last whole huge page keeps small pages, so that memory grows by at most a small
// page per array, and unmapping returns it all, so that the benchmark's runs do not pile up
// the heap's leftovers. A refused advice changes nothing. Smaller arrays come from malloc.
constexpr std::size_t huge_page_bytes = std::size_t{2} << 20;

struct array_deleter {
    std::size_t mapped_bytes = 0; // 0 for an array from malloc

    void operator()(void *p) const noexcept {
        if (mapped_bytes != 0) {
            munmap(p, mapped_bytes);
        } else {
            std::free(p);
        }
    }
};
template <class T> using array_ptr = std::unique_ptr<T, array_deleter>;

std::uintptr_t round_up(std::uintptr_t x, std::size_t to) {
    return (x + to - 1) / to * to;
}

// Maps `bytes` starting on a huge page: one huge page more than needed, less the parts before
// the first huge-page boundary and past the end.
template <class T> array_ptr<T> map_on_huge_pages(std::size_t bytes) {
    const std::size_t length = round_up(bytes, static_cast<std::size_t>(sysconf(_SC_PAGESIZE)));
    void *p = mmap(nullptr, length + huge_page_bytes, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) {
        return nullptr;
    }
    const auto mapped = reinterpret_cast<std::uintptr_t>(p);
    const std::uintptr_t start = round_up(mapped, huge_page_bytes);
    if (start != mapped) {
        munmap(p, start - mapped);
    }
    munmap(reinterpret_cast<void *>(start + length), mapped + huge_page_bytes - start);
    auto *array = reinterpret_cast<T *>(start);
    madvise(array, bytes / huge_page_bytes * huge_page_bytes, MADV_HUGEPAGE);
    return array_ptr<T>(array, array_deleter{length});
}

template <class T> array_ptr<T> allocate(std::size_t bytes) {
    if (bytes >= huge_page_bytes) {
        return map_on_huge_pages<T>(bytes);
    }
    return array_ptr<T>(static_cast<T *>(std::malloc(bytes)));
}

// The bytes an array of `bytes` takes: a mapping rounds it up to whole pages.
std::size_t allocated_bytes(std::size_t bytes) {
    if (bytes >= huge_page_bytes) {
        return round_up(bytes, static_cast<std::size_t>(sysconf(_SC_PAGESIZE)));
    }
    return bytes;
}

// The six numbers and three FFT work arrays of one computation, allocated in this
// order before any is tested, and released together.
struct workspace {
    static constexpr int numbers = 6;
    static constexpr int work_arrays = 3;
    static std::size_t number_bytes(int n) { return mp_number_size(n); }
    static std::size_t work_bytes(int nfft) {
        return (static_cast<std::size_t>(nfft) + 2) * sizeof(double);
    }
    static std::size_t total_bytes(int n, int nfft) {
        return numbers * allocated_bytes(number_bytes(n)) +
               work_arrays * allocated_bytes(work_bytes(nfft));
    }

    array_ptr<mp_number> a, b, c, e, tmp1, tmp2;
    array_ptr<double> work1, work2, work3;

    workspace(int n, int nfft) {
        const std::size_t number_bytes = workspace::number_bytes(n);
        const std::size_t work_bytes = workspace::work_bytes(nfft);
        a = allocate<mp_number>(number_bytes);
        b = allocate<mp_number>(number_bytes);
        c = allocate<mp_number>(number_bytes);
        e = allocate<mp_number>(number_bytes);
        tmp1 = allocate<mp_number>(number_bytes);
        tmp2 = allocate<mp_number>(number_bytes);
        work1 = allocate<double>(work_bytes);
        work2 = allocate<double>(work_bytes);
        work3 = allocate<double>(work_bytes);
    }

    bool complete() const { return a && b && c && e && tmp1 && tmp2 && work1 && work2 && work3; }
};

// 10^log10_radix.
int radix_of(int log10_radix) {
    int radix = 1;
    for (int i = 0; i < log10_radix; ++i) {
        radix *= 10;
    }
    return radix;
}

// Decimal digits made correct so far, saturated where the product leaves the int range.
int precision_digits_of(int log10_radix, int nprc) {
    return static_cast<int>(std::min<std::int64_t>(std::int64_t{4} * log10_radix * nprc, INT_MAX));
}

// The numbers of one computation at its length and radix, and the three phases of the AGM
// iteration that turn them into pi.
struct agm_computation {
    int n, nfft, radix, log10_radix;
    mp_number *a, *b, *c, *e, *tmp1, *tmp2;
    double *work1, *work2, *work3;

    agm_computation(int n, int nfft, int log10_radix, const workspace &w)
        : n(n), nfft(nfft), radix(radix_of(log10_radix)), log10_radix(log10_radix), a(w.a.get()),
          b(w.b.get()), c(w.c.get()), e(w.e.get()), tmp1(w.tmp1.get()), tmp2(w.tmp2.get()),
          work1(w.work1.get()), work2(w.work2.get()), work3(w.work3.get()) {}

    // b = sqrt(a). Only a machine that computes wrongly makes a negative a, which the
    // square root refuses and leaves b as it was: before the first iteration, memory never
    // written. b is then zero, so that the computation goes on with defined values (and
    // ends) and its check reports the wrong digits.
    void b_is_sqrt_of_a() const {
        if (mp_sqrt(n, radix, a, b, tmp1, tmp2, nfft, work1, work2) != 0) {
            mp_load_0(n, radix, b);
        }
    }

    // With s = sqrt(1 + 3/sqrt(8)), afterwards a = 1 + 3/sqrt(8) + s - 5/8, b = 2s,
    // c = s - 5/8 - 1/sqrt(8) and e = s - 5/8.
    void set_up() const {
        mp_invisqrt(n, radix, 8, c, tmp1, tmp2, nfft, work1, work2);
        mp_imul(n, radix, c, 3, e);
        mp_sscanf(n, log10_radix, "1", a);
        mp_add(n, radix, a, e, a);
        b_is_sqrt_of_a();
        mp_sscanf(n, log10_radix, "0.625", e);
        mp_sub(n, radix, b, e, e);
        mp_add(n, radix, b, b, b);
        mp_sub(n, radix, e, c, c);
        mp_add(n, radix, a, e, a);
    }

    // Each iteration makes a the sum of the arithmetic and geometric means of (a, b), b twice
    // the geometric mean and e their difference, which it subtracts from c; e's exponent
    // tells the digits made correct, which double every time. Reports every iteration, adds
    // its time to total_seconds and returns npow = 4 * 2^iterations. The largest computation
    // needs about 25 iterations; arithmetic that never converges (a faulty processor) stops
    // at the most that npow, an int, can count, and its check finds the wrong digits.
    int iterate(pi_progress_callback callback, void *user_data, double &total_seconds) const {
        constexpr int max_iterations = 28;
        // The last doubling makes npow 2^30, the largest power of two that an int holds.
        static_assert(std::int64_t{4} << max_iterations == std::int64_t{INT_MAX} / 2 + 1);
        int npow = 4;
        int nprc = 0;
        for (int step = 1; step <= max_iterations; ++step) {
            const std::clock_t iteration_start = std::clock();
            mp_add(n, radix, a, b, e);
            mp_idiv_2(n, radix, e, e);
            mp_mul(n, radix, a, b, a, tmp1, nfft, work1, work2, work3);
            b_is_sqrt_of_a();
            mp_sub(n, radix, e, b, e);
            mp_add(n, radix, b, b, b);
            mp_sub(n, radix, c, e, c);
            mp_add(n, radix, e, b, a);
            nprc = e->sign == 0 ? n : -e->exponent;
            const double iteration_seconds = seconds_since(iteration_start);
            if (callback != nullptr) {
                callback(step, precision_digits_of(log10_radix, nprc), user_data,
                         iteration_seconds);
            }
            total_seconds += iteration_seconds;
            npow *= 2;
            if (std::int64_t{4} * nprc > n) {
                break;
            }
        }
        return npow;
    }

    // Afterwards a = pi = (a^2 - e - e/2) / (a c - e) / npow with a = a + b and
    // e = (e/2)^2; the transform of a's leading half, made for a*c, is reused for a*a.
    void finish(int npow) const {
        mp_idiv_2(n, radix, e, e);
        mp_squh(n, radix, e, e, nfft, work1);
        mp_add(n, radix, a, b, a);
        mp_mulhf(n, radix, a, c, c, tmp1, nfft, work1, work2);
        mp_sub(n, radix, c, e, c);
        mp_inv(n, radix, c, b, tmp1, tmp2, nfft, work2, work3);
        mp_squhf_use_infft(n, radix, work1, a, a, tmp1, nfft, work2);
        mp_sub(n, radix, a, e, a);
        mp_idiv_2(n, radix, e, e);
        mp_sub(n, radix, a, e, a);
        mp_mul(n, radix, a, b, a, tmp1, nfft, work1, work2, work3);
        mp_idiv(n, radix, a, npow, a);
    }
};

// ---- The check of computed digits against the reference of pi ----

namespace ref = pi_reference;

// (a * b + c) mod 2^61 - 1 for a, b, c below 2^61: 2^61 = 1 folds the high bits onto the low.
std::uint64_t mul_add_mod(std::uint64_t a, std::uint64_t b, std::uint64_t c) {
    const unsigned __int128 x = static_cast<unsigned __int128>(a) * b + c;
    std::uint64_t r =
        (static_cast<std::uint64_t>(x) & ref::modulus) + static_cast<std::uint64_t>(x >> 61);
    r = (r & ref::modulus) + (r >> 61);
    return r >= ref::modulus ? r - ref::modulus : r;
}

std::uint64_t pow_mod(std::uint64_t base, std::uint64_t exponent) {
    std::uint64_t result = 1;
    for (; exponent != 0; exponent >>= 1) {
        if ((exponent & 1) != 0) {
            result = mul_add_mod(result, base, 0);
        }
        base = mul_add_mod(base, base, 0);
    }
    return result;
}

// A digit as a residue; a corrupted one may be out of range, even negative.
std::uint64_t residue_of_digit(int digit) {
    return digit >= 0 ? static_cast<std::uint64_t>(digit)
                      : ref::modulus - static_cast<std::uint64_t>(-digit);
}

// Where the first wrong decimal lies: exactly at `first` when last == first, else
// somewhere in first ... last. first == 0: every checked decimal is right.
struct wrong_range {
    int first = 0;
    int last = 0;
};

// The decimals after "3." of a computed value, log10_radix of them per radix digit.
struct decimals_view {
    const std::int16_t *digit; // digit[0] holds the 3
    int log10_radix;
    int radix;

    int radix_digit_of(int decimal) const { return 1 + (decimal - 1) / log10_radix; }

    // The decimals first ... last (whole radix digits) read as one integer, modulo the prime.
    std::uint64_t residue(int first, int last) const {
        std::uint64_t r = 0;
        for (int j = radix_digit_of(first); j <= radix_digit_of(last); ++j) {
            r = mul_add_mod(r, static_cast<std::uint64_t>(radix), residue_of_digit(digit[j]));
        }
        return r;
    }

    // The first decimal in which radix digit j differs from `expected`.
    int first_differing_decimal(int j, int expected) const {
        int place = 1;
        for (int scale = radix / 10; scale > 1 && digit[j] / scale == expected / scale;
             scale /= 10) {
            ++place;
        }
        return (j - 1) * log10_radix + place;
    }

    // The decimals first ... last, whose residue should be `expected` but is not. When one
    // wrong radix digit explains the difference, its first wrong decimal is found: the
    // difference is then (computed - true digit) * radix^k for one k, tried for each digit
    // from the last. Any other error is pinned to the whole range.
    wrong_range locate(int first, int last, std::uint64_t expected) const {
        // Any change of a 16-bit digit, a flipped bit included.
        constexpr std::int64_t digit_changes = 1 << 16;
        const std::uint64_t inverse_radix =
            pow_mod(static_cast<std::uint64_t>(radix), ref::modulus - 2);
        std::uint64_t x = mul_add_mod(residue(first, last), 1, ref::modulus - expected);
        int explained_at = 0;
        int explanations = 0;
        for (int j = radix_digit_of(last); j >= radix_digit_of(first); --j) {
            const auto too_high = static_cast<std::int64_t>(x);
            const auto too_low = static_cast<std::int64_t>(ref::modulus - x);
            const std::int64_t difference = too_high < digit_changes ? too_high : -too_low;
            const std::int64_t true_digit = digit[j] - difference;
            if (std::min(too_high, too_low) < digit_changes && true_digit >= 0 &&
                true_digit < radix) {
                explained_at = first_differing_decimal(j, static_cast<int>(true_digit));
                ++explanations;
            }
            x = mul_add_mod(x, inverse_radix, 0);
        }
        return explanations == 1 ? wrong_range{explained_at, explained_at}
                                 : wrong_range{first, last};
    }

    // Checks the decimals first ... last against their residue.
    wrong_range check(int first, int last, std::uint64_t expected) const {
        if (last < first || residue(first, last) == expected) {
            return {};
        }
        return locate(first, last, expected);
    }
};

// What the reference checks of a computation of log10_radix << log2_nfft digits: its
// decimals up to `verified`, in whole blocks and then the tail, whose residue is given.
struct reference_reach {
    ref::tail_entry tail;
    int unchecked; // decimals past the reference's reach, short of the unchecked places
};

// Sizes past the reference's reach are checked in every block it has, and the rest of their
// decimals, short of the unchecked places, are not checked at all.
reference_reach reach_of(int log10_radix, int log2_nfft) {
    if (ref::has_tail(log10_radix, log2_nfft)) {
        return {ref::tails[log10_radix - 1][log2_nfft - 1], 0};
    }
    const std::int64_t digits = std::int64_t{log10_radix} << log2_nfft;
    const std::int64_t trusted = digits - log10_radix * ref::unchecked_radix_digits(log10_radix);
    const int blocks =
        static_cast<int>(std::min<std::int64_t>(trusted / ref::block_decimals, ref::block_count));
    const int verified = blocks * ref::block_decimals;
    return {{static_cast<std::int32_t>(std::min<std::int64_t>(digits, INT_MAX)), verified, 0},
            static_cast<int>(std::min<std::int64_t>(trusted - verified, INT_MAX))};
}

// What the check of a computed value found.
struct digit_check {
    int checked;       // decimals compared with the reference
    int unchecked;     // decimals past the reference's reach
    wrong_range wrong; // where the first wrong one lies, if any
};

// Where the first wrong decimal of the computed value of pi lies: the reference's blocks
// in turn, then the tail.
wrong_range first_wrong_decimals(const mp_number *pi, int radix, int log10_radix,
                                 const ref::tail_entry &tail) {
    if (pi->sign != 1 || pi->exponent != 0 || pi->digit[0] != 3) {
        return {1, 1};
    }
    const decimals_view decimals{pi->digit, log10_radix, radix};
    const int full_blocks = tail.verified / ref::block_decimals;
    for (int block = 0; block < full_blocks; ++block) {
        const int first = block * ref::block_decimals + 1;
        const wrong_range wrong =
            decimals.check(first, first + ref::block_decimals - 1, ref::block_residues[block]);
        if (wrong.first != 0) {
            return wrong;
        }
    }
    return decimals.check(full_blocks * ref::block_decimals + 1, tail.verified, tail.residue);
}

// Compares the computed value of pi with the reference as far as it reaches.
digit_check check_pi(const mp_number *pi, int radix, int log10_radix, int log2_nfft) {
    const reference_reach reach = reach_of(log10_radix, log2_nfft);
    return {reach.tail.verified, reach.unchecked,
            first_wrong_decimals(pi, radix, log10_radix, reach.tail)};
}

// "5,731,204"
std::string with_thousands(int value) {
    const std::string digits = std::to_string(value);
    std::string text;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i != 0 && (digits.size() - i) % 3 == 0) {
            text += ',';
        }
        text += digits[i];
    }
    return text;
}

constexpr std::string_view wrong_digits_lead = "Computed digits of pi are wrong ";
constexpr std::string_view radix_test_lead = "Radix test failed ";
constexpr std::string_view arithmetic_error = ": the machine made an arithmetic error";

// "from digit 1,234", or "somewhere in digits 1 to 3,072" when no single wrong digit
// explains the difference.
std::string where_wrong(const wrong_range &wrong) {
    if (wrong.last == wrong.first) {
        return "from digit " + with_thousands(wrong.first);
    }
    return "somewhere in digits " + with_thousands(wrong.first) + " to " +
           with_thousands(wrong.last);
}

// Fills the record of a finished computation once its digits are checked, outside the
// measured time. A wrong computation keeps its digit count and time, for whoever hunts an
// unstable machine, but gets no score.
void record_outcome(const agm_computation &agm, int log2_nfft, double seconds, pi_result *result,
                    pi_check *check) {
    const digit_check found = check_pi(agm.a, agm.radix, agm.log10_radix, log2_nfft);
    // log10_radix << log2_nfft, held at INT_MAX where it would leave the int range.
    const auto computed = std::int64_t{agm.log10_radix} << log2_nfft;
    result->digits = static_cast<int>(std::min<std::int64_t>(computed, INT_MAX));
    result->time_seconds = seconds;
    if (found.wrong.first == 0) {
        result->success = 1;
        result->score = score_for(result->digits, seconds);
    } else {
        std::snprintf(result->error_message, sizeof result->error_message, "%s%s%s",
                      wrong_digits_lead.data(), where_wrong(found.wrong).c_str(),
                      arithmetic_error.data());
    }
    if (check != nullptr) {
        const int verified = found.wrong.first == 0 ? found.checked : found.wrong.first - 1;
        *check = {verified, found.wrong.first, found.unchecked, found.wrong.first != 0};
    }
}

// Fails a computation whose radix test chose a smaller radix than a correct machine's: its
// error was larger than the transforms' rounding can make, and it would do less work than
// any other run of the same size. Nothing is computed: no digit of it would count.
void record_radix_error(int chosen, int least, pi_result *result, pi_check *check) {
    std::snprintf(result->error_message, sizeof result->error_message,
                  "%s(radix %s where a correct machine chooses %s)%s", radix_test_lead.data(),
                  with_thousands(radix_of(chosen)).c_str(), with_thousands(radix_of(least)).c_str(),
                  arithmetic_error.data());
    if (check != nullptr) {
        check->arithmetic_error = 1;
    }
}

// Computes pi to `digits` decimal digits by the AGM iteration, checks the digits and fills
// `result` and, when not null, `check`.
void compute_pi(int digits, pi_result *result, pi_progress_callback callback, void *user_data,
                pi_value_hook hook, void *hook_data, pi_check *check) {
    if (check != nullptr) {
        *check = pi_check{};
    }
    if (result == nullptr) {
        return;
    }
    *result = pi_result{};
    if (digits <= 0) {
        std::snprintf(result->error_message, sizeof result->error_message,
                      "Invalid number of digits: %d", digits);
        return;
    }

    const std::clock_t setup_start = std::clock();
    const int log2_nfft = log2_nfft_for(digits);
    const int nfft = 1 << log2_nfft;
    const int n = nfft + 2;
    workspace w(n, nfft);
    if (!w.complete()) {
        set_text(result->error_message, "Memory allocation failed");
        return;
    }
    const int log10_radix = pi_measured_log10_radix(n, nfft, w.work1.get());
    const int least_log10_radix = pi_least_log10_radix(log2_nfft);
    if (log10_radix < least_log10_radix) {
        record_radix_error(log10_radix, least_log10_radix, result, check);
        return;
    }
    const agm_computation agm(n, nfft, log10_radix, w);
    agm.set_up();
    double total_seconds = seconds_since(setup_start);
    const int npow = agm.iterate(callback, user_data, total_seconds);
    const std::clock_t final_start = std::clock();
    agm.finish(npow);
    total_seconds += seconds_since(final_start);

    record_outcome(agm, log2_nfft, total_seconds, result, check);
    if (hook != nullptr) {
        hook(agm.a, n, agm.log10_radix, hook_data);
    }
}

void pi_calculate_internal(int digits, pi_result *result, pi_progress_callback callback,
                           void *user_data, pi_check *check) {
    compute_pi(digits, result, callback, user_data, nullptr, nullptr, check);
}

// Relays the progress of one benchmark run with steps continued across runs.
struct progress_relay {
    pi_progress_callback callback;
    void *user_data;
    int step_offset;
};

void progress_callback_wrapper(int step, int precision_digits, void *relay_data,
                               double iteration_seconds) {
    const auto *relay = static_cast<const progress_relay *>(relay_data);
    relay->callback(step + relay->step_offset, precision_digits, relay->user_data,
                    iteration_seconds);
}

// Whether a benchmark run found the machine computing wrongly: wrong digits, a failed radix
// test, or fewer digits than the benchmark's, which only a radix test that failed unseen
// leaves. Such a run ends the benchmark.
bool run_computed_wrongly(const pi_result &record, const pi_check &check) {
    if (record.success != 0) {
        return record.digits < pi_benchmark_digits;
    }
    return check.first_wrong_digit != 0 || check.arithmetic_error != 0;
}

// The benchmark's account of a run that computed wrongly: the run's own words where it gave
// them, else its digit count or its first wrong digit.
void describe_wrong_run(pi_result *result, int run, const pi_result &record,
                        const pi_check &check) {
    const std::string_view text = record.error_message;
    std::string account;
    if (text.starts_with(radix_test_lead)) {
        account = "failed its radix test " + std::string(text.substr(radix_test_lead.size()));
    } else if (record.success != 0) {
        account = "computed " + with_thousands(record.digits) + " digits instead of " +
                  with_thousands(pi_benchmark_digits) + std::string(arithmetic_error);
    } else {
        account = "computed wrong digits of pi " +
                  (text.starts_with(wrong_digits_lead)
                       ? std::string(text.substr(wrong_digits_lead.size()))
                       : where_wrong({check.first_wrong_digit, check.first_wrong_digit}) +
                             std::string(arithmetic_error));
    }
    std::snprintf(result->error_message, sizeof result->error_message, "Benchmark run %d %s", run,
                  account.c_str());
}

} // namespace

extern "C" void pi_calculate_value(int digits, pi_result *result, pi_progress_callback callback,
                                   void *user_data, pi_value_hook hook, void *hook_data) {
    compute_pi(digits, result, callback, user_data, hook, hook_data, nullptr);
}

extern "C" void pi_calculate_checked(int digits, pi_result *result, pi_progress_callback callback,
                                     void *user_data, pi_check *check) {
    pi_calculate_internal(digits, result, callback, user_data, check);
}

extern "C" void pi_calculate(int digits, pi_result *result) {
    pi_calculate_internal(digits, result, nullptr, nullptr, nullptr);
}

extern "C" void pi_calculate_with_progress(int digits, pi_result *result,
                                           pi_progress_callback callback, void *user_data) {
    pi_calculate_internal(digits, result, callback, user_data, nullptr);
}

// Runs that fail to get their memory are left out, as before; but a run that computed
// wrongly fails the whole benchmark at once, since an average over a machine that sometimes
// computes wrongly (or does less work) means nothing, and whoever looks for an unstable
// machine wants to hear of it without waiting for the remaining runs.
extern "C" void pi_calculate_5x8m_with(pi_result *result, pi_progress_callback callback,
                                       void *user_data, pi_driver driver, pi_result *runs_out,
                                       pi_check *checks_out) {
    if (result == nullptr) {
        return;
    }
    *result = pi_result{};
    pi_result runs[pi_benchmark_runs] = {};
    pi_check checks[pi_benchmark_runs] = {};
    progress_relay relay{callback, user_data, 0};
    const int steps_per_run = pi_estimate_iterations(pi_benchmark_digits);

    int succeeded = 0;
    int wrong_run = 0;
    double time_sum = 0;
    double score_sum = 0;
    for (int i = 0; i < pi_benchmark_runs && wrong_run == 0; ++i) {
        pi_result &run = runs[i];
        run = pi_result{};
        if (callback != nullptr) {
            driver(pi_benchmark_digits, &run, progress_callback_wrapper, &relay, &checks[i]);
        } else {
            driver(pi_benchmark_digits, &run, nullptr, nullptr, &checks[i]);
        }
        if (run_computed_wrongly(run, checks[i])) {
            wrong_run = i + 1;
        } else if (run.success != 0) {
            relay.step_offset += steps_per_run;
            ++succeeded;
            time_sum += run.time_seconds;
            score_sum += run.score;
        }
    }

    if (runs_out != nullptr) {
        std::copy(std::begin(runs), std::end(runs), runs_out);
    }
    if (checks_out != nullptr) {
        std::copy(std::begin(checks), std::end(checks), checks_out);
    }
    if (wrong_run != 0) {
        describe_wrong_run(result, wrong_run, runs[wrong_run - 1], checks[wrong_run - 1]);
        return;
    }
    if (succeeded == 0) {
        set_text(result->error_message, "All 5 benchmark runs failed");
        return;
    }
    result->success = 1;
    result->digits = runs[0].digits;
    result->time_seconds = time_sum;
    result->score = round_half_away(score_sum / succeeded);
}

extern "C" void pi_calculate_5x8m(pi_result *result, pi_progress_callback callback,
                                  void *user_data) {
    pi_calculate_5x8m_with(result, callback, user_data, pi_calculate_internal, nullptr, nullptr);
}

extern "C" double pi_calculate_average_score(const pi_result *results, int count) {
    if (results == nullptr || count <= 0) {
        return 0;
    }
    int succeeded = 0;
    double score_sum = 0;
    for (int i = 0; i < count; ++i) {
        if (results[i].success != 0) {
            ++succeeded;
            score_sum += results[i].score;
        }
    }
    return succeeded == 0 ? 0 : round_half_away(score_sum / succeeded);
}

extern "C" int pi_estimate_iterations(int digits) {
    if (digits <= 0) {
        return 0;
    }
    return std::clamp(log2_nfft_for(digits), 3, 22) - 2;
}

extern "C" int pi_benchmark_steps(void) {
    return pi_benchmark_runs * pi_estimate_iterations(pi_benchmark_digits);
}

extern "C" double pi_score(int digits, double seconds) {
    return score_for(digits, seconds);
}

// The kernels that ran, as their tables name themselves. The transforms and the arithmetic follow
// one choice of path, so they name the same one; were they ever to differ, both are named.
extern "C" const char *pi_simd_path(void) {
    static const auto name = [] {
        std::array<char, 64> text{};
        const char *transforms = fft_simd_path(), *arithmetic = mp_simd_path();
        if (std::strcmp(transforms, arithmetic) == 0) {
            std::snprintf(text.data(), text.size(), "%s", transforms);
        } else {
            std::snprintf(text.data(), text.size(), "transforms %s, arithmetic %s", transforms,
                          arithmetic);
        }
        return text;
    }();
    return name.data();
}

extern "C" const char *pi_simd_note(void) {
    return fft_simd_note();
}

extern "C" const char *pi_get_version(void) {
    return "ver. LG1.1.2-MP1.5.2a.memsave";
}

extern "C" void pi_cleanup(void) {}

extern "C" void pi_calculate_checked_value(int digits, pi_result *result,
                                           pi_progress_callback callback, void *user_data,
                                           pi_check *check, pi_value_hook hook, void *hook_data) {
    compute_pi(digits, result, callback, user_data, hook, hook_data, check);
}

extern "C" void pi_value_decimal_range(const mp_number *pi, int log10_radix, int first, int count,
                                       char *text) {
    int j = 1 + (first - 1) / log10_radix;
    int place = (first - 1) % log10_radix;
    for (int written = 0; written < count; ++j, place = 0) {
        std::array<char, 4> decimals{};
        int value = pi->digit[j];
        for (int i = log10_radix - 1; i >= 0; --i) {
            decimals[static_cast<std::size_t>(i)] = static_cast<char>('0' + value % 10);
            value /= 10;
        }
        for (; place < log10_radix && written < count; ++place) {
            text[written++] = decimals[static_cast<std::size_t>(place)];
        }
    }
}

// Sizes past the reference's reach are checked in all of its blocks.
extern "C" int pi_reference_decimals(void) {
    return ref::covered_decimals;
}

// The sizes in turn, each in the radix a correct machine chooses at least. A request of
// 4 << k digits gets the FFT length 2^k.
extern "C" int pi_digits_verifying(int decimals) {
    constexpr int largest_log2_nfft = 28;
    for (int log2_nfft = 1; log2_nfft <= largest_log2_nfft; ++log2_nfft) {
        if (reach_of(pi_least_log10_radix(log2_nfft), log2_nfft).tail.verified >= decimals) {
            return 4 << log2_nfft;
        }
    }
    return 0;
}

// A correct machine computes sizes this small in radix 10^4.
extern "C" int pi_smallest_verified_digits(void) {
    int digits = 1;
    while (reach_of(4, log2_nfft_for(digits)).tail.verified == 0) {
        ++digits;
    }
    return digits;
}

// Every radix a computation may run at is checked: the largest gives the most digits.
extern "C" int pi_largest_verified_digits(void) {
    constexpr int largest_log10_radix = 4;
    int log2_nfft = 1;
    while (reach_of(largest_log10_radix, log2_nfft + 1).unchecked == 0) {
        ++log2_nfft;
    }
    // The most digits whose quarter, rounded down, is at most 2^log2_nfft.
    return (4 << log2_nfft) + 3;
}

extern "C" size_t pi_working_memory_bytes(int digits) {
    if (digits <= 0) {
        return 0;
    }
    const int nfft = 1 << log2_nfft_for(digits);
    return workspace::total_bytes(nfft + 2, nfft);
}
