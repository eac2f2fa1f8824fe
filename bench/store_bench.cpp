#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/generated_profile.h"
#include "stores/vcard_folder/vcard_folder_store.h"
#include "tests/fakes/quiet_run.h"

// A whole run over a large vCard store, against the floor of touching the same files.
// The store lives on tmpfs by default (DIALMEND_BENCH_DIR to choose), so the figures measure
// our work rather than the disk's fsync.

namespace dialmend {
namespace {

namespace fs = std::filesystem;

std::size_t ContactCount() {
  return BenchCount("DIALMEND_BENCH_CONTACTS", 100000);
}

// The generated store, made once per machine and count.
const fs::path& Profile() {
  static const fs::path profile =
      GeneratedProfile("dialmend-bench-" + std::to_string(ContactCount()), ContactCount());
  return profile;
}

double PeakRssMiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// With `record_folder`, an update keeps its undo record there.
RunCounters RunOnce(const fs::path& root, bool update, std::size_t* log_bytes = nullptr,
                    const fs::path* record_folder = nullptr) {
  auto store = MakeVCardStore(root.string());
  const QuietRun run = record_folder != nullptr
                           ? RunQuietly(*store, NumberOptions{}, record_folder->string())
                           : RunQuietly(*store, NumberOptions{}, update);
  if (!run.profile_failures.empty()) std::abort();
  if (log_bytes != nullptr) *log_bytes = run.log.size();
  return run.counters;
}

std::vector<fs::path> Cards(const fs::path& root) {
  std::vector<fs::path> cards;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file() && entry.path().extension() == ".vcf")
      cards.push_back(entry.path());
  }
  return cards;
}

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// The floor of a simulation: finding and reading every card once, as `cat` would.
void BM_ReadEveryCard(benchmark::State& state) {
  const fs::path& root = Profile();
  std::size_t files = 0;
  for (auto _ : state) {
    std::size_t bytes = 0;
    const auto cards = Cards(root);
    for (const auto& card : cards) bytes += ReadAll(card).size();
    files = cards.size();
    benchmark::DoNotOptimize(bytes);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * files));
}
BENCHMARK(BM_ReadEveryCard)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_SimulateStore(benchmark::State& state) {
  const fs::path& root = Profile();
  RunCounters counters;
  std::size_t log_bytes = 0;
  for (auto _ : state) counters = RunOnce(root, false, &log_bytes);
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * counters.checked));
  state.counters["contacts"] = static_cast<double>(counters.checked);
  state.counters["numbers"] = static_cast<double>(counters.numbers);
  state.counters["log_MiB"] = static_cast<double>(log_bytes) / (1 << 20);
  state.counters["peak_rss_MiB"] = PeakRssMiB();
}
BENCHMARK(BM_SimulateStore)->Unit(benchmark::kMillisecond)->Iterations(3);

// A fresh copy for each update, made outside the timing.
fs::path FreshCopy() {
  const fs::path copy = BenchDir() / "dialmend-bench-work";
  fs::remove_all(copy);
  fs::copy(Profile(), copy, fs::copy_options::recursive);
  return copy;
}

void BM_UpdateStore(benchmark::State& state) {
  RunCounters counters;
  for (auto _ : state) {
    state.PauseTiming();
    const fs::path copy = FreshCopy();
    state.ResumeTiming();
    counters = RunOnce(copy, true);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * counters.checked));
  state.counters["updated"] = static_cast<double>(counters.updated);
  state.counters["peak_rss_MiB"] = PeakRssMiB();
}
BENCHMARK(BM_UpdateStore)->Unit(benchmark::kMillisecond)->Iterations(2);

// The same update keeping its undo record: what the record costs per changed contact.
void BM_UpdateStoreRecorded(benchmark::State& state) {
  RunCounters counters;
  const fs::path records = BenchDir() / "dialmend-bench-runs";
  for (auto _ : state) {
    state.PauseTiming();
    const fs::path copy = FreshCopy();
    fs::remove_all(records);
    state.ResumeTiming();
    counters = RunOnce(copy, true, nullptr, &records);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * counters.checked));
  state.counters["updated"] = static_cast<double>(counters.updated);
}
BENCHMARK(BM_UpdateStoreRecorded)->Unit(benchmark::kMillisecond)->Iterations(2);

// The floor of an update: reading every card and writing a plain copy of each one the
// update changes.
void BM_CopyChangedCards(benchmark::State& state) {
  std::vector<fs::path> changed;
  {
    const fs::path copy = FreshCopy();
    RunOnce(copy, true);
    for (const auto& card : Cards(copy)) {
      const fs::path original = Profile() / fs::relative(card, copy);
      if (ReadAll(card) != ReadAll(original)) changed.push_back(original);
    }
  }
  const fs::path out = BenchDir() / "dialmend-bench-copies";
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove_all(out);
    fs::create_directories(out);
    state.ResumeTiming();
    std::size_t bytes = 0;
    for (const auto& card : Cards(Profile())) bytes += ReadAll(card).size();
    std::size_t n = 0;
    for (const auto& card : changed) {
      std::ofstream(out / (std::to_string(n++) + ".vcf"), std::ios::binary) << ReadAll(card);
    }
    benchmark::DoNotOptimize(bytes);
  }
  state.counters["changed"] = static_cast<double>(changed.size());
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * changed.size()));
}
BENCHMARK(BM_CopyChangedCards)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace
}  // namespace dialmend
