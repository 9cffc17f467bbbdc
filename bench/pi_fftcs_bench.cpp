// Times the FFT products, the conversion back and the Newton iterations at
// the lengths the pi driver uses (n = nfft + 2 digits, radix 10000).
#include "arithmetic/pi_fftcs.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

constexpr int radix = 10000;

// A number block of n digits with random digits.
class Number {
  public:
    Number(int n, uint64_t seed) : words_((mp_number_size(n) + 3) / 4) {
        std::mt19937_64 gen(seed);
        get()->sign = 1;
        get()->exponent = 0;
        for (int i = 0; i < n; ++i) {
            get()->digit[i] = static_cast<int16_t>(gen() % radix);
        }
        get()->digit[0] = 7;
    }
    mp_number *get() { return reinterpret_cast<mp_number *>(words_.data()); }

  private:
    std::vector<int32_t> words_;
};

struct Fixture {
    explicit Fixture(int nfft)
        : nfft(nfft), n(nfft + 2), a(n, 1), b(n, 2), out(n, 3), tmp1(n, 4), tmp2(n, 5),
          d1(static_cast<size_t>(nfft) + 2), d2(d1.size()), d3(d1.size()) {}
    int nfft, n;
    Number a, b, out, tmp1, tmp2;
    std::vector<double> d1, d2, d3;
};

void BM_mp_mul(benchmark::State &state) {
    Fixture f(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        mp_mul(f.n, radix, f.a.get(), f.b.get(), f.out.get(), f.tmp1.get(), f.nfft, f.d1.data(),
               f.d2.data(), f.d3.data());
    }
}

void BM_mp_squ(benchmark::State &state) {
    Fixture f(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        mp_squ(f.n, radix, f.a.get(), f.out.get(), f.tmp1.get(), f.nfft, f.d1.data(), f.d2.data());
    }
}

void BM_mp_mulh(benchmark::State &state) {
    Fixture f(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        mp_mulh(f.n, radix, f.a.get(), f.b.get(), f.out.get(), f.nfft, f.d1.data(), f.d2.data());
    }
}

// The linear passes over the digits: an addition, a subtraction of numbers of the same
// exponent, packing into a work array and halving.
void BM_mp_add(benchmark::State &state) {
    Fixture f(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        mp_add(f.n, radix, f.a.get(), f.b.get(), f.out.get());
    }
}

void BM_mp_sub(benchmark::State &state) {
    Fixture f(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        mp_sub(f.n, radix, f.a.get(), f.b.get(), f.out.get());
    }
}

void BM_mp_mul_i2d(benchmark::State &state) {
    Fixture f(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        mp_mul_i2d(f.n, radix, f.nfft, 0, f.a.get(), f.d1.data());
    }
}

void BM_mp_idiv_2(benchmark::State &state) {
    Fixture f(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        mp_idiv_2(f.n, radix, f.a.get(), f.out.get());
    }
}

// Conversion alone: a product's terms are copied in before each timed call.
void BM_mp_mul_d2i(benchmark::State &state) {
    Fixture f(static_cast<int>(state.range(0)));
    mp_mul_i2d(f.n, radix, f.nfft, 0, f.a.get(), f.d1.data());
    mp_mul_i2d(f.n, radix, f.nfft, 0, f.b.get(), f.d2.data());
    mp_mul_cmul(f.nfft, f.d1.data(), f.d2.data());
    for (auto _ : state) {
        state.PauseTiming();
        f.d3 = f.d2;
        state.ResumeTiming();
        mp_mul_d2i(f.n, radix, f.nfft, f.d3.data(), f.out.get());
    }
}

// A work array of random values in [-1, 1), as a spectrum.
void fill_random(std::vector<double> &d, uint64_t seed) {
    std::mt19937_64 gen(seed);
    std::uniform_real_distribution<double> value(-1, 1);
    for (double &x : d) {
        x = value(gen);
    }
}

// The bin-pair kernels alone, on random spectra: the heaviest (two splits, the product and the
// merge) and the lightest (the square and the merge).
void BM_mp_mul_rcmul(benchmark::State &state) {
    Fixture f(static_cast<int>(state.range(0)));
    fill_random(f.d1, 6);
    fill_random(f.d2, 7);
    for (auto _ : state) {
        mp_mul_rcmul(f.nfft, f.d1.data() + 1, f.d2.data() + 1);
    }
}

void BM_mp_mul_rcsqu_nt_in(benchmark::State &state) {
    Fixture f(static_cast<int>(state.range(0)));
    fill_random(f.d1, 8);
    for (auto _ : state) {
        mp_mul_rcsqu_nt_in(f.nfft, f.d1.data() + 1);
    }
}

void BM_mp_inv(benchmark::State &state) {
    Fixture f(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        mp_inv(f.n, radix, f.a.get(), f.out.get(), f.tmp1.get(), f.tmp2.get(), f.nfft, f.d1.data(),
               f.d2.data());
    }
}

void BM_mp_sqrt(benchmark::State &state) {
    Fixture f(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        mp_sqrt(f.n, radix, f.a.get(), f.out.get(), f.tmp1.get(), f.tmp2.get(), f.nfft, f.d1.data(),
                f.d2.data());
    }
}

void BM_mp_invisqrt(benchmark::State &state) {
    Fixture f(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        mp_invisqrt(f.n, radix, 8, f.out.get(), f.tmp1.get(), f.tmp2.get(), f.nfft, f.d1.data(),
                    f.d2.data());
    }
}

#define TESSARY_LENGTHS RangeMultiplier(8)->Range(1 << 12, 1 << 21)->Unit(benchmark::kMillisecond)
BENCHMARK(BM_mp_mul)->TESSARY_LENGTHS;
BENCHMARK(BM_mp_squ)->TESSARY_LENGTHS;
BENCHMARK(BM_mp_mulh)->TESSARY_LENGTHS;
BENCHMARK(BM_mp_add)->TESSARY_LENGTHS;
BENCHMARK(BM_mp_sub)->TESSARY_LENGTHS;
BENCHMARK(BM_mp_mul_i2d)->TESSARY_LENGTHS;
BENCHMARK(BM_mp_idiv_2)->TESSARY_LENGTHS;
BENCHMARK(BM_mp_mul_d2i)->TESSARY_LENGTHS;
BENCHMARK(BM_mp_mul_rcmul)->TESSARY_LENGTHS;
BENCHMARK(BM_mp_mul_rcsqu_nt_in)->TESSARY_LENGTHS;
BENCHMARK(BM_mp_inv)->TESSARY_LENGTHS;
BENCHMARK(BM_mp_sqrt)->TESSARY_LENGTHS;
BENCHMARK(BM_mp_invisqrt)->TESSARY_LENGTHS;

} // namespace

BENCHMARK_MAIN();
