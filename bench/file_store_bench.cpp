#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "stores/vcard_file/vcard_file_store.h"
#include "tests/fakes/quiet_run.h"

// A run over one exported file of many cards, against the floor of reading it once (cat) and
// of copying it to disk (cp, then fsync). The file is the cards of the generated store, joined
// in path order; it lives on tmpfs by default, as the folder store's does.

namespace dialmend {
namespace {

namespace fs = std::filesystem;

std::size_t ExportCount() {
  const char* n = std::getenv("DIALMEND_BENCH_EXPORT_CONTACTS");
  return n != nullptr ? std::stoul(n) : 10000;
}

fs::path ExportDir() {
  const char* dir = std::getenv("DIALMEND_BENCH_DIR");
  const fs::path base = dir != nullptr           ? fs::path(dir)
                        : fs::exists("/dev/shm") ? fs::path("/dev/shm")
                                                 : fs::temp_directory_path();
  return base / ("dialmend-bench-export-" + std::to_string(ExportCount()));
}

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// The export, made once per machine and count from make_profile's cards.
const fs::path& Export() {
  static const fs::path file = [] {
    const fs::path dir = ExportDir();
    const fs::path out = dir / "contacts.vcf";
    if (!fs::exists(dir / ".complete")) {
      fs::remove_all(dir);
      const fs::path profile = dir / "profile";
      const std::string command = std::string(DIALMEND_MAKE_PROFILE) + " " +
                                  std::to_string(ExportCount()) + " '" + profile.string() +
                                  "' >/dev/null";
      if (std::system(command.c_str()) != 0) std::abort();
      std::vector<fs::path> cards;
      for (const auto& entry : fs::recursive_directory_iterator(profile)) {
        if (entry.is_regular_file() && entry.path().extension() == ".vcf") {
          cards.push_back(entry.path());
        }
      }
      std::sort(cards.begin(), cards.end());
      std::ofstream joined(out, std::ios::binary);
      for (const fs::path& card : cards) joined << ReadAll(card);
      joined.close();
      fs::remove_all(profile);
      std::ofstream(dir / ".complete") << "";
    }
    return out;
  }();
  return file;
}

RunCounters RunFile(const fs::path& file, bool update) {
  auto store = MakeVCardFileStore(file.string());
  const QuietRun run = RunQuietly(*store, NumberOptions{}, update);
  if (!run.profile_failures.empty()) std::abort();
  return run.counters;
}

// The floor of a simulation: `cat` of the file.
void BM_FileCat(benchmark::State& state) {
  const fs::path& file = Export();
  std::size_t bytes = 0;
  for (auto _ : state) {
    bytes = ReadAll(file).size();
    benchmark::DoNotOptimize(bytes);
  }
  state.counters["MiB"] = static_cast<double>(bytes) / (1 << 20);
}
BENCHMARK(BM_FileCat)->Unit(benchmark::kMillisecond);

// The floor of an update: `cp` of the file, flushed to disk.
void BM_FileCopy(benchmark::State& state) {
  const fs::path& file = Export();
  const fs::path copy = ExportDir() / "copy.vcf";
  for (auto _ : state) {
    const std::string bytes = ReadAll(file);
    const int fd = ::open(copy.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()) ||
        ::fsync(fd) != 0 || ::close(fd) != 0) {
      state.SkipWithError("the copy could not be written");
      return;
    }
  }
}
BENCHMARK(BM_FileCopy)->Unit(benchmark::kMillisecond);

void BM_FileSimulate(benchmark::State& state) {
  const fs::path& file = Export();
  RunCounters counters;
  for (auto _ : state) counters = RunFile(file, false);
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * counters.checked));
  state.counters["contacts"] = static_cast<double>(counters.checked);
  state.counters["to_update"] = static_cast<double>(counters.updated);
}
BENCHMARK(BM_FileSimulate)->Unit(benchmark::kMillisecond);

void BM_FileUpdate(benchmark::State& state) {
  const fs::path work = ExportDir() / "work.vcf";
  RunCounters counters;
  for (auto _ : state) {
    state.PauseTiming();
    fs::copy_file(Export(), work, fs::copy_options::overwrite_existing);
    state.ResumeTiming();
    counters = RunFile(work, true);
  }
  if (counters.problems != 0) state.SkipWithError("the update had problems");
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * counters.checked));
  state.counters["updated"] = static_cast<double>(counters.updated);
  state.counters["numbers"] = static_cast<double>(counters.numbers);
}
BENCHMARK(BM_FileUpdate)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace dialmend
