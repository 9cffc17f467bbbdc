// --print: how many computations it makes and at which size, that it writes only digits the
// reference proved (or, past its reach, that no carry or borrow can change), and its options.

#include "arithmetic/pi_fftcs.h"
#include "cli/options.h"
#include "cli/print_digits.h"
#include "engine/pi_reference_table.h"
#include "mpfr_pi.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <functional>
#include <string>
#include <vector>

namespace {

// Changes the finished value of pi when set: the engine's last operation, the division that
// leaves pi, goes through this wrapper (the binary links with -Wl,--wrap=mp_idiv).
std::function<void(mp_number *pi)> corrupt;

} // namespace

extern "C" int __real_mp_idiv(int n, int radix, const mp_number *in1, int in2, mp_number *out);
extern "C" int __wrap_mp_idiv(int n, int radix, const mp_number *in1, int in2, mp_number *out) {
    const int status = __real_mp_idiv(n, radix, in1, in2, out);
    if (corrupt) {
        corrupt(out);
    }
    return status;
}

namespace {

// Makes decimal `position` of a value in radix 10^4 another decimal.
void change_decimal(mp_number *pi, int position) {
    int scale = 1;
    for (int i = (position - 1) % 4; i < 3; ++i) {
        scale *= 10;
    }
    std::int16_t &digit = pi->digit[1 + (position - 1) / 4];
    const int decimal = digit / scale % 10;
    digit = static_cast<std::int16_t>(digit + ((decimal + 5) % 10 - decimal) * scale);
}

// ---- Calculators that count their computations ----

std::vector<int> computed_sizes; // result.digits of each computation, in order

void counted_engine(int digits, pi_result *result, pi_progress_callback callback, void *user_data,
                    pi_check *check, pi_value_hook hook, void *hook_data) {
    pi_calculate_checked_value(digits, result, callback, user_data, check, hook, hook_data);
    computed_sizes.push_back(result->digits);
}

struct printed {
    print_outcome outcome;
    std::string text;
};

printed print(int decimals, pi_value_calculator calculate, bool allow_unverified = false) {
    computed_sizes.clear();
    printed p;
    print_request request;
    request.decimals = decimals;
    request.allow_unverified = allow_unverified;
    request.calculate = calculate;
    request.write = [&p](std::string_view text) { p.text.append(text); };
    p.outcome = print_digits(request);
    return p;
}

// A value of pi in radix 10^4 from its text "3.dddd...", as the engine hands it to a hook.
struct planted_value {
    std::vector<std::int64_t> storage;
    int n = 0;

    explicit planted_value(const std::string &text)
        : storage((text.size() + 3) / 4 / 4 + 4), n(static_cast<int>(text.size() + 1) / 4 + 1) {
        mp_sscanf(n, 4, text.c_str(), get());
    }
    mp_number *get() { return reinterpret_cast<mp_number *>(storage.data()); }
};

// A fake engine at the sizes of the real one (radix 10^4, length 2^k for a request of up to
// 4 << k digits), whose check verifies what the reference's tail of that size says, and whose
// value is `fake_text(digits)`.
std::string (*fake_text)(int digits) = nullptr;

void fake_engine(int digits, pi_result *result, pi_progress_callback, void *, pi_check *check,
                 pi_value_hook hook, void *hook_data) {
    const int log2_nfft =
        std::max(1, static_cast<int>(std::bit_width(static_cast<unsigned>(digits / 4 - 1))));
    const int size = 4 << log2_nfft;
    *result = pi_result{1, size, 1, 1, ""};
    *check = pi_check{pi_reference::tails[3][log2_nfft - 1].verified, 0, 0, 0};
    planted_value value(fake_text(size));
    computed_sizes.push_back(size);
    hook(value.get(), value.n, 4, hook_data);
}

// "3." and `decimals` decimals that are not pi's but easy to make in millions.
std::string patterned_text(int decimals) {
    std::string text = "3.";
    for (int i = 0; i < decimals + 4; ++i) {
        text += static_cast<char>('0' + (i * 7 + i / 13) % 10);
    }
    return text;
}

std::string pi_text(int decimals) {
    return "3." + mpfr_pi_digits(decimals).substr(1) + "\n";
}

// ---- The size and the number of computations ----

// At the length 2^10 the check verifies 4,080 of the 4,096 decimals: one decimal more, and
// the last ones the arithmetic leaves untrusted, are printed from the next size, asked for
// at once.
TEST(PrintDigits, OneComputationOfTheSmallestSizeThatVerifiesThemPrintsMpfrsDigits) {
    const int verified = pi_reference::tails[3][9].verified;
    ASSERT_EQ(verified, 4080);
    const struct {
        int decimals;
        int size;
    } cases[] = {{1, 32},      {16, 32},    {17, 64}, {verified, 4096}, {verified + 1, 8192},
                 {4096, 8192}, {4097, 8192}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.decimals);
        const printed p = print(c.decimals, counted_engine);
        EXPECT_EQ(p.outcome.error_message, "");
        EXPECT_EQ(p.outcome.verified_digits, c.decimals);
        EXPECT_EQ(p.text, pi_text(c.decimals));
        EXPECT_EQ(computed_sizes, std::vector<int>{c.size});
    }
}

TEST(PrintDigits, TheBenchmarkSizeAndOneDecimalMoreTakeOneComputationEach) {
    fake_text = patterned_text;
    const struct {
        int decimals;
        int size;
    } cases[] = {{8388592, 8388608}, {8388593, 16777216}, {8388608, 16777216}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.decimals);
        const printed p = print(c.decimals, fake_engine);
        EXPECT_EQ(p.outcome.error_message, "");
        EXPECT_EQ(computed_sizes, std::vector<int>{c.size});
        ASSERT_EQ(p.text.size(), c.decimals + 3u);
        EXPECT_EQ(p.text, patterned_text(c.decimals).substr(0, c.decimals + 2) + "\n");
    }
}

// ---- Wrong digits are never printed ----

TEST(PrintDigits, AWrongDigitWhereTheCheckReachesFailsWithNothingPrinted) {
    const int decimals = 4000;
    for (const int position : {1, 3072, 3073, decimals}) {
        SCOPED_TRACE(position);
        corrupt = [position](mp_number *pi) { change_decimal(pi, position); };
        const printed p = print(decimals, counted_engine);
        corrupt = nullptr;
        EXPECT_EQ(p.text, "");
        EXPECT_EQ(p.outcome.error_message,
                  "Computed digits of pi are wrong from digit " +
                      (position < 1000 ? std::to_string(position)
                                       : std::to_string(position / 1000) + "," +
                                             std::to_string(position % 1000 + 1000).substr(1)) +
                      ": the machine made an arithmetic error");
        EXPECT_EQ(computed_sizes.size(), 1u);
    }
}

// The first computation's value is planted_first_value; later ones are pi's.
std::string planted_first_text;
pi_check planted_first_check;
int fake_calls = 0;

void planted_then_pi(int digits, pi_result *result, pi_progress_callback, void *, pi_check *check,
                     pi_value_hook hook, void *hook_data) {
    const bool first = ++fake_calls == 1;
    const std::string text = first ? planted_first_text : pi_text(digits + 32);
    *result = pi_result{1, digits, 1, 1, ""};
    *check = first ? planted_first_check : pi_check{digits, 0, 0, 0};
    planted_value value(text.substr(0, text.size() - 1));
    hook(value.get(), value.n, 4, hook_data);
}

printed print_after_planted(int decimals, const std::string &first_text,
                            const pi_check &first_check, bool allow_unverified) {
    planted_first_text = first_text;
    planted_first_check = first_check;
    fake_calls = 0;
    return print(decimals, planted_then_pi, allow_unverified);
}

// A computation whose check stopped short of the last printed decimal proves nothing past
// where it stopped: a wrong digit there asks for another computation.
TEST(PrintDigits, DigitsPastWhereTheCheckStoppedAreNotPrintedFromIt) {
    const int decimals = 1000;
    std::string wrong = pi_text(decimals + 100);
    wrong[1 + decimals] = wrong[1 + decimals] == '5' ? '6' : '5';
    const printed p = print_after_planted(decimals, wrong, {decimals - 1, 0, 0, 0}, false);
    EXPECT_EQ(fake_calls, 2);
    EXPECT_EQ(p.text, pi_text(decimals));
}

// ---- Past the reference's reach ----

// Decimals past where the check stops, up to the trusted end, that are all 9s may carry into
// the last printed one, all 0s may borrow from it: either asks for a larger computation.
TEST(PrintDigits, PastTheCheckATailOfNinesOrZerosAtTheLastDigitIsDoubt) {
    const std::string pi = mpfr_pi_digits(2000);
    int decimals = 1000;
    while (pi[decimals] == '0' || pi[decimals] == '9') {
        ++decimals;
    }
    const std::string head = "3." + pi.substr(1, decimals - 1);
    // Trusted to 48 decimals past the last printed one.
    const pi_check beyond_reach{600, 0, decimals + 48 - 600, 0};
    const struct {
        const char *name;
        std::string first_text;
        int calls;
    } cases[] = {
        {"nines", head + char(pi[decimals] - 1) + std::string(48, '9') + "1234", 2},
        {"zeros", head + char(pi[decimals] + 1) + std::string(48, '0') + "1234", 2},
        {"nines then a digit", "3." + pi.substr(1, decimals) + std::string(47, '9') + "01234", 1},
        {"true digits", "3." + pi.substr(1, decimals + 52), 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const printed p = print_after_planted(decimals, c.first_text, beyond_reach, true);
        EXPECT_EQ(p.outcome.error_message, "");
        EXPECT_EQ(p.text, pi_text(decimals));
        EXPECT_EQ(fake_calls, c.calls);
        EXPECT_EQ(p.outcome.verified_digits, c.calls == 1 ? 600 : decimals);
    }
    // Unless asked for, unchecked decimals are never printed, however certain.
    const printed p = print_after_planted(decimals, cases[3].first_text, beyond_reach, false);
    EXPECT_EQ(fake_calls, 2);
    EXPECT_EQ(p.outcome.verified_digits, decimals);
}

std::vector<char *> arguments(std::vector<std::string> &words) {
    std::vector<char *> argv{const_cast<char *>("tessary-cli")};
    for (std::string &w : words) {
        argv.push_back(w.data());
    }
    argv.push_back(nullptr);
    return argv;
}

parsed_options parse(std::vector<std::string> words) {
    std::vector<char *> argv = arguments(words);
    return parse_options(static_cast<int>(argv.size()) - 1, argv.data(), 2);
}

// The reference's blocks reach 1,024 decimals past 2^25: as far as --print goes unless
// unverified decimals are asked for by name.
TEST(PrintDigits, PastTheReferenceOnlyTheOptionThatNamesTheRiskPrints) {
    const int largest = pi_reference_decimals();
    ASSERT_EQ(largest, 33555456);
    EXPECT_GT(pi_digits_verifying(largest), 0);
    EXPECT_EQ(pi_digits_verifying(largest + 1), 0);
    EXPECT_EQ(parse({"--digits", "33555456", "--print"}).error, "");
    EXPECT_EQ(parse({"--digits", "33555457", "--print"}).error,
              "--print verifies at most 33,555,456 decimals; --print-unverified prints more, "
              "unchecked past that");
    const parsed_options unverified = parse({"--digits", "33555457", "--print-unverified"});
    EXPECT_EQ(unverified.error, "");
    EXPECT_EQ(unverified.options.mode, cli_mode::print);
    EXPECT_TRUE(unverified.options.print_unverified);
    EXPECT_FALSE(parse({"--digits", "5", "--print"}).options.print_unverified);
    EXPECT_EQ(parse({"--print-unverified"}).error, "--print-unverified needs --digits N");
    EXPECT_NE(std::string(usage_text()).find("33,555,456"), std::string::npos);
}

} // namespace
