#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "stores/vcard_folder/vcard_folder_store.h"
#include "tests/fakes/quiet_run.h"

// An update on a real disk, where every changed card must survive a power cut, against the floor
// of copying the same cards with `cp -r` and making them durable with `sync`. The store lives in
// the bench's own folder on the build disk (never tmpfs: there a flush costs nothing).

namespace dialmend {
namespace {

namespace fs = std::filesystem;

// Four address books of this many cards in all, each with one old number to change.
std::size_t DiskCardCount() {
  const char* n = std::getenv("DIALMEND_BENCH_DISK_CARDS");
  return n != nullptr ? std::stoul(n) : 2000;
}

// The build folder's own, unless DIALMEND_BENCH_DISK_DIR names another folder on a real disk.
fs::path DiskDir() {
  const char* dir = std::getenv("DIALMEND_BENCH_DISK_DIR");
  return fs::path(dir != nullptr ? dir : DIALMEND_BENCH_DISK_DIR);
}

// The store as made, copied afresh for each run.
const fs::path& DiskTemplate() {
  static const fs::path folder = [] {
    const fs::path p = DiskDir() / ("template-" + std::to_string(DiskCardCount()));
    if (!fs::exists(p / ".complete")) {
      fs::remove_all(p);
      for (std::size_t i = 0; i < DiskCardCount(); ++i) {
        const fs::path book = p / ("book" + std::to_string(i % 4));
        fs::create_directories(book);
        const std::string number = std::to_string(1000 + i % 9000);
        std::ofstream(book / ("card-" + std::to_string(i) + ".vcf"), std::ios::binary)
            << "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:card-" << i << "\r\nFN:Card " << i
            << "\r\nN:" << i << ";Card;;;\r\nEMAIL;TYPE=HOME:card" << i
            << "@example.org\r\nTEL;TYPE=HOME:0171 930 " << number << "\r\nTEL;TYPE=CELL:07700 900"
            << number.substr(1) << "\r\nEND:VCARD\r\n";
      }
      std::ofstream(p / ".complete") << "";
    }
    return p;
  }();
  return folder;
}

void Run(const std::string& command) {
  if (std::system(command.c_str()) != 0) std::abort();
}

// A copy of the store with everything on disk already, so a run pays only for its own writes.
fs::path FreshDiskCopy(const std::string& name) {
  const fs::path copy = DiskDir() / name;
  fs::remove_all(copy);
  Run("cp -r '" + DiskTemplate().string() + "' '" + copy.string() + "' && sync");
  return copy;
}

void BM_UpdateOnDisk(benchmark::State& state) {
  RunCounters counters;
  for (auto _ : state) {
    state.PauseTiming();
    const fs::path copy = FreshDiskCopy("update");
    state.ResumeTiming();
    auto store = MakeVCardStore(copy.string());
    counters = RunQuietly(*store, NumberOptions{}, /*update=*/true).counters;
  }
  if (counters.updated != static_cast<std::int64_t>(DiskCardCount())) std::abort();
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * counters.updated));
  state.counters["updated"] = static_cast<double>(counters.updated);
}
BENCHMARK(BM_UpdateOnDisk)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// The floor: the changed cards copied whole and made durable, as a careful user would by hand.
void BM_CopyAndSyncOnDisk(benchmark::State& state) {
  const fs::path from = FreshDiskCopy("copy-from");
  const fs::path to = DiskDir() / "copy-to";
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove_all(to);
    Run("sync");
    state.ResumeTiming();
    Run("cp -r '" + from.string() + "' '" + to.string() + "' && sync");
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * DiskCardCount()));
}
BENCHMARK(BM_CopyAndSyncOnDisk)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace
}  // namespace dialmend
