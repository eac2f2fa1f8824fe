#include <benchmark/benchmark.h>
#include <phonenumbers/phonenumberutil.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "bench/number_corpus.h"
#include "cli/convert_command.h"
#include "engine/fix_number.h"

// Every allocation of the program is counted, so a benchmark can report its own per item.
// Kept out of line: inlined next to a new-expression, GCC takes free() for a mismatch.
namespace {
std::atomic<std::uint64_t> allocations{0};
}  // namespace

[[gnu::noinline]] void* operator new(std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* p) noexcept {
  std::free(p);
}
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}

namespace dialmend {
namespace {

constexpr std::size_t kCorpusSize = 12000;
constexpr std::size_t kCliLines = 1000000;

const std::vector<std::string>& Corpus() {
  static const std::vector<std::string> corpus = NumberCorpus(kCorpusSize);
  return corpus;
}

// The least any converter must do for a number: look at each character once and return a
// fresh text, reserved once. Its rule (collapse runs of spaces, a full stop or hyphen read as
// a space) only makes every output character depend on the input.
std::string Floor(std::string_view number) {
  std::string out;
  out.reserve(number.size());
  char last = ' ';
  for (char c : number) {
    if (c == '.' || c == '-') c = ' ';
    if (c != ' ' || last != ' ') out.push_back(c);
    last = c;
  }
  return out;
}

// Runs `convert` over the corpus, and reports the allocations it made per number.
template <class Convert>
void ConvertCorpus(benchmark::State& state, Convert convert) {
  const auto& corpus = Corpus();
  const std::uint64_t allocations_before = allocations.load(std::memory_order_relaxed);
  for (auto _ : state) {
    for (const std::string& number : corpus) benchmark::DoNotOptimize(convert(number));
  }
  const auto numbers = static_cast<double>(state.iterations() * corpus.size());
  state.SetItemsProcessed(static_cast<std::int64_t>(numbers));
  state.counters["allocs_per_number"] =
      static_cast<double>(allocations.load(std::memory_order_relaxed) - allocations_before) /
      numbers;
}

void BM_FixNumber(benchmark::State& state) {
  const NumberOptions options;
  ConvertCorpus(state, [&options](std::string_view number) { return FixNumber(number, options); });
}
BENCHMARK(BM_FixNumber)->Unit(benchmark::kMillisecond);

void BM_FixNumberFloor(benchmark::State& state) {
  ConvertCorpus(state, Floor);
}
BENCHMARK(BM_FixNumberFloor)->Unit(benchmark::kMillisecond);

// The CPU time this thread has used, in seconds: time spent waiting for a core on a loaded
// machine does not count.
double ThreadSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// FixNumber and the floor in turns over the same numbers, each pass timed on its own, so that a
// load which comes and goes on a shared machine falls on both alike. Reports the ratio of the
// two times; the order alternates, so neither always runs on the other's warm caches.
void BM_FixNumberToFloor(benchmark::State& state) {
  const auto& corpus = Corpus();
  const NumberOptions options;
  const auto pass = [&corpus](auto convert) {
    const double start = ThreadSeconds();
    for (const std::string& number : corpus) benchmark::DoNotOptimize(convert(number));
    return ThreadSeconds() - start;
  };
  const auto fix = [&options](std::string_view number) { return FixNumber(number, options); };
  double engine = 0;
  double floor = 0;
  bool engine_first = true;
  for (auto _ : state) {
    if (engine_first) {
      engine += pass(fix);
      floor += pass(Floor);
    } else {
      floor += pass(Floor);
      engine += pass(fix);
    }
    engine_first = !engine_first;
  }
  state.counters["ratio"] = engine / floor;
}
BENCHMARK(BM_FixNumberToFloor)->Unit(benchmark::kMillisecond);

void BM_LibPhoneNumber(benchmark::State& state) {
  using i18n::phonenumbers::PhoneNumber;
  using i18n::phonenumbers::PhoneNumberUtil;
  const auto& corpus = Corpus();
  const PhoneNumberUtil& util = *PhoneNumberUtil::GetInstance();
  PhoneNumber parsed;
  std::string formatted;
  for (auto _ : state) {
    for (const std::string& number : corpus) {
      if (util.Parse(number, "GB", &parsed) == PhoneNumberUtil::NO_PARSING_ERROR) {
        util.Format(parsed, PhoneNumberUtil::INTERNATIONAL, &formatted);
      }
      benchmark::DoNotOptimize(formatted);
    }
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * corpus.size()));
}
BENCHMARK(BM_LibPhoneNumber)->Unit(benchmark::kMillisecond);

// The command-line converter's whole per-line cost: reading, splitting, converting, writing.
void BM_ConvertCli(benchmark::State& state) {
  const auto& corpus = Corpus();
  std::FILE* in = std::tmpfile();
  for (std::size_t i = 0; i < kCliLines; ++i) {
    const std::string& number = corpus[i % corpus.size()];
    std::fwrite(number.data(), 1, number.size(), in);
    std::fputc('\n', in);
  }
  std::FILE* out = std::fopen("/dev/null", "w");
  for (auto _ : state) {
    std::rewind(in);
    if (const Status converted = ConvertStream(in, out, NumberOptions{}, false); !converted.Ok()) {
      state.SkipWithError(converted.Message().c_str());
      break;
    }
  }
  std::fclose(out);
  std::fclose(in);
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kCliLines));
}
BENCHMARK(BM_ConvertCli)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace dialmend
