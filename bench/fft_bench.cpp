// Times cdft against FFTW's in-place complex transform of the same length and prints our time
// over FFTW's for each length and direction; also times the real, cosine and sine transforms.
#include "fft/fftsg_h.h"

#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <utility>

#include <unistd.h>

namespace {

constexpr int min_log2 = 10, max_log2 = 21;

// Aligned input of n random doubles, made once per length and copied before every timed call
// so that each transform sees the same data (repeated in-place transforms would overflow).
const double *input_for(int n) {
    static std::map<int, double *> inputs;
    double *&in = inputs[n];
    if (in == nullptr) {
        in = fftw_alloc_real(n + 1);
        std::mt19937_64 gen(n);
        std::uniform_real_distribution<double> dist(-1.0, 1.0);
        for (int i = 0; i <= n; ++i) {
            in[i] = dist(gen);
        }
    }
    return in;
}

double *buffer_for(int n) {
    static std::map<int, double *> buffers;
    double *&buf = buffers[n];
    if (buf == nullptr) {
        buf = fftw_alloc_real(n + 1); // dfct uses n + 1 values
    }
    return buf;
}

// FFTW_MEASURE plans, made once per length and direction before any timing.
fftw_plan plan_for(int n, int sign) {
    static std::map<std::pair<int, int>, fftw_plan> plans;
    fftw_plan &plan = plans[{n, sign}];
    if (plan == nullptr) {
        auto *buf = reinterpret_cast<fftw_complex *>(buffer_for(n));
        // Our forward transform uses exp(+2 pi i jk/N), FFTW's backward sign.
        plan = fftw_plan_dft_1d(n / 2, buf, buf, sign >= 0 ? FFTW_BACKWARD : FFTW_FORWARD,
                                FFTW_MEASURE);
    }
    return plan;
}

double fastest(const std::vector<double> &times) {
    return *std::min_element(times.begin(), times.end());
}

template <class Transform>
void time_transform(benchmark::State &state, int n, Transform transform) {
    const double *in = input_for(n);
    double *buf = buffer_for(n);
    for (auto _ : state) {
        std::memcpy(buf, in, sizeof(double) * (n + 1));
        const auto start = std::chrono::steady_clock::now();
        transform(buf);
        const auto stop = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(buf[0]);
        benchmark::ClobberMemory();
        state.SetIterationTime(std::chrono::duration<double>(stop - start).count());
    }
    state.counters["doubles"] = n;
}

void bm_cdft(benchmark::State &state, int sign) {
    const int n = static_cast<int>(state.range(0));
    time_transform(state, n, [n, sign](double *a) { cdft(n, sign, a); });
}

void bm_fftw(benchmark::State &state, int sign) {
    const int n = static_cast<int>(state.range(0));
    const fftw_plan plan = plan_for(n, sign);
    time_transform(state, n, [plan](double *) { fftw_execute(plan); });
}

// Console output as usual, plus a table of cdft time / FFTW time at the end. With
// --benchmark_repetitions the table uses the fastest repetition, the one least disturbed by
// other work on the machine.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    // Colours only on a terminal, so that redirected output stays plain text.
    RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}

    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            const bool fastest = run.run_type == Run::RT_Aggregate && run.aggregate_name == "min";
            if (run.error_occurred || (run.run_type != Run::RT_Iteration && !fastest)) {
                continue;
            }
            const std::string name = run.run_name.str();
            const double time = run.GetAdjustedRealTime();
            const auto known = times_.find(name);
            times_[name] = known == times_.end() ? time : std::min(known->second, time);
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        std::string rows;
        for (int l = min_log2; l <= max_log2; ++l) {
            const int n = 1 << l;
            const std::string forward = ratio("forward", n), backward = ratio("backward", n);
            if (forward != "-" || backward != "-") {
                char row[80];
                std::snprintf(row, sizeof row, "%-10d %-22s %s\n", n, forward.c_str(),
                              backward.c_str());
                rows += row;
            }
        }
        if (!rows.empty()) {
            std::printf("\n%-10s %-22s %s\n%s", "doubles", "forward cdft/FFTW",
                        "backward cdft/FFTW", rows.c_str());
        }
    }

  private:
    std::string ratio(const char *direction, int n) const {
        const std::string suffix =
            std::string(direction) + "/" + std::to_string(n) + "/manual_time";
        const auto ours = times_.find("cdft/" + suffix);
        const auto theirs = times_.find("fftw/" + suffix);
        if (ours == times_.end() || theirs == times_.end()) {
            return "-";
        }
        char text[32];
        std::snprintf(text, sizeof text, "%.2f", ours->second / theirs->second);
        return text;
    }

    std::map<std::string, double> times_;
};

void register_complex_benchmarks() {
    for (const auto &[direction, sign] : {std::pair{"forward", 1}, std::pair{"backward", -1}}) {
        const std::string d = direction;
        const int s = sign;
        benchmark::RegisterBenchmark(("cdft/" + d).c_str(),
                                     [s](benchmark::State &st) { bm_cdft(st, s); })
            ->RangeMultiplier(2)
            ->Range(1 << min_log2, 1 << max_log2)
            ->UseManualTime()
            ->ComputeStatistics("min", fastest);
        benchmark::RegisterBenchmark(("fftw/" + d).c_str(),
                                     [s](benchmark::State &st) { bm_fftw(st, s); })
            ->RangeMultiplier(2)
            ->Range(1 << min_log2, 1 << max_log2)
            ->UseManualTime()
            ->ComputeStatistics("min", fastest);
    }
}

// The real, cosine and sine transforms of n values, on their own (nothing to compare with).
void register_real_benchmarks() {
    struct Entry {
        const char *name;
        void (*run)(int n, double *a);
    };
    static const Entry entries[] = {
        {"rdft/forward", [](int n, double *a) { rdft(n, 1, a); }},
        {"rdft/backward", [](int n, double *a) { rdft(n, -1, a); }},
        {"ddct/forward", [](int n, double *a) { ddct(n, 1, a); }},
        {"ddct/backward", [](int n, double *a) { ddct(n, -1, a); }},
        {"ddst/forward", [](int n, double *a) { ddst(n, 1, a); }},
        {"ddst/backward", [](int n, double *a) { ddst(n, -1, a); }},
        {"dfct", [](int n, double *a) { dfct(n, a); }},
        {"dfst", [](int n, double *a) { dfst(n, a); }},
    };
    for (const Entry &e : entries) {
        benchmark::RegisterBenchmark(e.name,
                                     [run = e.run](benchmark::State &st) {
                                         const int n = static_cast<int>(st.range(0));
                                         time_transform(st, n, [run, n](double *a) { run(n, a); });
                                     })
            ->RangeMultiplier(8)
            ->Range(1 << min_log2, 1 << max_log2)
            ->UseManualTime()
            ->ComputeStatistics("min", fastest);
    }
}

} // namespace

int main(int argc, char **argv) {
    register_complex_benchmarks();
    register_real_benchmarks();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
