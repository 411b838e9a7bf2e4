// One number to text and back, per number: the command line's writer
// (shortest_text) and reader (read_decimal) beside the standard
// conversions they stand for (std::to_chars, std::from_chars), on the same
// 2^16 standard normal draws (16 to 17 significant digits, as VNORMAL's).
#include <benchmark/benchmark.h>

#include <charconv>
#include <random>
#include <string>
#include <vector>

#include "cli/number_text.cpp"

namespace {

const std::vector<double>& draws() {
  static const std::vector<double> x = [] {
    std::mt19937_64 gen(1);
    std::normal_distribution<double> normal;
    std::vector<double> v(std::size_t(1) << 16);
    for (double& d : v) d = normal(gen);
    return v;
  }();
  return x;
}

const std::string& text() {
  static const std::string t = [] {
    std::string s;
    char buf[mvts::cli::kShortestTextRoom];
    for (double x : draws()) s.append(buf, mvts::cli::shortest_text(buf, x)).push_back(',');
    return s;
  }();
  return t;
}

template <class Write>
void write_all(benchmark::State& state, Write write) {
  std::vector<char> out(draws().size() * 48);
  for (auto _ : state) {
    char* p = out.data();
    for (double x : draws()) {
      p = write(p, x);
      *p++ = ',';
    }
    benchmark::DoNotOptimize(p);
  }
  state.SetItemsProcessed(std::int64_t(state.iterations()) * std::int64_t(draws().size()));
}

template <class Read>
void read_all(benchmark::State& state, Read read) {
  const std::string& t = text();
  for (auto _ : state) {
    double sum = 0;
    for (const char* p = t.data(); p < t.data() + t.size();) {
      double x = 0;
      p = read(p, t.data() + t.size(), &x) + 1;
      sum += x;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(std::int64_t(state.iterations()) * std::int64_t(draws().size()));
}

void BM_ToChars(benchmark::State& state) {
  write_all(state, [](char* p, double x) { return std::to_chars(p, p + 40, x).ptr; });
}
BENCHMARK(BM_ToChars);

void BM_ShortestText(benchmark::State& state) {
  write_all(state, [](char* p, double x) { return mvts::cli::shortest_text(p, x); });
}
BENCHMARK(BM_ShortestText);

void BM_FromChars(benchmark::State& state) {
  read_all(state, [](const char* p, const char* end, double* x) {
    return std::from_chars(p, end, *x).ptr;
  });
}
BENCHMARK(BM_FromChars);

void BM_ReadDecimal(benchmark::State& state) {
  read_all(state, [](const char* p, const char* end, double* x) {
    return p + mvts::cli::read_decimal(std::string_view(p, std::size_t(end - p)), x);
  });
}
BENCHMARK(BM_ReadDecimal);

}  // namespace

BENCHMARK_MAIN();
