#include "cli/print_digits.h"

#include "cli/progress_bar.h"

#include <algorithm>
#include <array>
#include <climits>
#include <exception>

// How the printed decimals are proven. A computation's check compares its decimals with the
// reference's residues up to `verified_digits`: whole blocks and then a residue of exactly
// the rest, which ends where that size's untrusted last places begin. The printed decimals
// are a prefix of those, so equal residues prove them, whichever block the last one falls
// in, and no guard digits or doubt are needed. The last places themselves cannot be proven
// cheaply, and the arithmetic leaves about five of them wrong at every length from 2^15 on,
// so a request of exactly a size's digits is served by the next size, chosen up front.
// Past the reference's reach the digits beyond its last block are the computation's own:
// those are printed only when asked for, and only when the decimals after the last printed
// one, up to the trusted end, are neither all 9s nor all 0s, through which a rounding error
// could carry into it or borrow from it.

namespace {

// Decimals asked for beyond those printed when no size's check reaches them.
constexpr int guard_digits = 48;
// The decimals are written in pieces of this size.
constexpr std::size_t piece_size = 1 << 16;

// One computation as its value hook sees it, and whether it wrote the digits.
struct print_job {
    const print_request &request;
    const pi_result &result;
    const pi_check &check;
    std::string &piece;
    bool written = false;
    std::exception_ptr failure; // thrown by `write`, rethrown outside the engine
};

// Whether a rounding error below decimal `trusted` leaves decimal `decimals` as computed:
// it does unless the decimals between are all 9s or all 0s.
bool last_digit_certain(const mp_number *pi, int log10_radix, int decimals, long long trusted) {
    bool not_all_nines = false;
    bool not_all_zeros = false;
    std::array<char, 64> tail{};
    for (long long first = decimals + 1LL; first <= trusted && !(not_all_nines && not_all_zeros);
         first += static_cast<long long>(tail.size())) {
        const auto count = static_cast<int>(std::min<long long>(tail.size(), trusted - first + 1));
        pi_value_decimal_range(pi, log10_radix, static_cast<int>(first), count, tail.data());
        const std::string_view decimals_here(tail.data(), static_cast<std::size_t>(count));
        not_all_nines = not_all_nines || decimals_here.find_first_not_of('9') != decimals_here.npos;
        not_all_zeros = not_all_zeros || decimals_here.find_first_not_of('0') != decimals_here.npos;
    }
    return not_all_nines && not_all_zeros;
}

bool may_write(const print_job &job, const mp_number *pi, int log10_radix) {
    const int decimals = job.request.decimals;
    if (job.result.success == 0) {
        return false;
    }
    if (job.check.verified_digits >= decimals) {
        return true;
    }
    const long long trusted =
        static_cast<long long>(job.check.verified_digits) + job.check.unchecked_digits;
    return job.request.allow_unverified && last_digit_certain(pi, log10_radix, decimals, trusted);
}

void write_decimals(print_job &job, const mp_number *pi, int log10_radix) {
    const auto &write = job.request.write;
    write("3.");
    for (int first = 1; first <= job.request.decimals; first += static_cast<int>(piece_size)) {
        const int count = std::min(static_cast<int>(piece_size), job.request.decimals - first + 1);
        pi_value_decimal_range(pi, log10_radix, first, count, job.piece.data());
        write(std::string_view(job.piece.data(), static_cast<std::size_t>(count)));
    }
    write("\n");
}

// The value hook: runs after the check, before the computation's memory is released.
void write_when_proven(const mp_number *pi, int, int log10_radix, void *data) {
    auto &job = *static_cast<print_job *>(data);
    if (!may_write(job, pi, log10_radix)) {
        return;
    }
    if (job.request.progress != nullptr) {
        job.request.progress->stop();
    }
    try {
        write_decimals(job, pi, log10_radix);
        job.written = true;
    } catch (...) {
        job.failure = std::current_exception();
    }
}

} // namespace

print_outcome print_digits(const print_request &request) {
    const int verifying = pi_digits_verifying(request.decimals);
    long long digits =
        verifying != 0 ? verifying : static_cast<long long>(request.decimals) + guard_digits;
    std::string piece(piece_size, '\0');
    progress_bar *progress = request.progress;
    for (bool first = true;; first = false) {
        pi_result result{};
        pi_check check{};
        print_job job{request, result, check, piece, false, nullptr};
        const int asked = static_cast<int>(std::min<long long>(digits, INT_MAX));
        if (progress) {
            progress->start_work(1, 1, pi_estimate_iterations(asked),
                                 first ? "Computing" : "Computing more digits");
        }
        request.calculate(asked, &result, progress ? progress_bar::report : nullptr,
                          progress ? progress->slot(0) : nullptr, &check, write_when_proven, &job);
        if (progress) {
            progress->stop();
        }
        if (job.failure) {
            std::rethrow_exception(job.failure);
        }
        if (job.written) {
            return {"", std::min(check.verified_digits, request.decimals)};
        }
        if (result.success == 0) {
            return {result.error_message, 0};
        }
        if (asked == INT_MAX) {
            return {"cannot make digit " + std::to_string(request.decimals) + " certain", 0};
        }
        digits *= 2;
    }
}
