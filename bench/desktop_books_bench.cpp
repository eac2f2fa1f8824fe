#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "stores/profile/desktop_books.h"
#include "stores/thunderbird/sqlite.h"
#include "stores/thunderbird/thunderbird_store.h"
#include "stores/vcard_folder/vcard_folder_store.h"
#include "tests/fakes/quiet_run.h"

// A run over one Thunderbird address book of 10,000 cards and over KDE's vCard Directory folder
// of the same cards (named by UID alone), beside a run of the folder store over them, one .vcf
// file each, in one folder. The book has Thunderbird's schema and the properties Thunderbird
// writes for a card; all live on tmpfs by default (DIALMEND_BENCH_DIR to choose), as the other
// stores' benchmarks do.

namespace dialmend {
namespace {

namespace fs = std::filesystem;

std::size_t CardCount() {
  const char* n = std::getenv("DIALMEND_BENCH_THUNDERBIRD_CONTACTS");
  return n != nullptr ? std::stoul(n) : 10000;
}

fs::path BenchRoot() {
  const char* dir = std::getenv("DIALMEND_BENCH_DIR");
  const fs::path base = dir != nullptr           ? fs::path(dir)
                        : fs::exists("/dev/shm") ? fs::path("/dev/shm")
                                                 : fs::temp_directory_path();
  return base / ("dialmend-bench-desktop-" + std::to_string(CardCount()));
}

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Each card's FN, for Thunderbird's DisplayName property.
std::string DisplayName(const std::string& card) {
  const std::size_t at = card.find("\nFN");
  if (at == std::string::npos) return {};
  const std::size_t colon = card.find(':', at);
  const std::size_t end = card.find_first_of("\r\n", colon);
  return card.substr(colon + 1, end - colon - 1);
}

// Thunderbird's book (abook.sqlite in a profile folder), KDE's folder and the folder of the
// same cards.
void MakeStores(const fs::path& root) {
  const fs::path generated = root / "generated";
  const std::string command = std::string(DIALMEND_MAKE_PROFILE) + " " +
                              std::to_string(CardCount()) + " '" + generated.string() +
                              "' >/dev/null";
  if (std::system(command.c_str()) != 0) std::abort();
  std::vector<fs::path> cards;
  for (const auto& entry : fs::recursive_directory_iterator(generated)) {
    if (entry.is_regular_file() && entry.path().extension() == ".vcf") {
      cards.push_back(entry.path());
    }
  }
  std::sort(cards.begin(), cards.end());
  fs::create_directories(root / "profile");
  fs::create_directories(root / "folder" / "cards");
  fs::create_directories(root / "kde");
  SqliteDatabase db((root / "profile" / "abook.sqlite").string(), SqliteAccess::Create);
  db.Execute("PRAGMA journal_mode = WAL");
  db.Execute("CREATE TABLE properties (card TEXT, name TEXT, value TEXT)");
  db.Execute(
      "CREATE TABLE lists (uid TEXT PRIMARY KEY, name TEXT, nickName TEXT, description TEXT)");
  db.Execute("CREATE TABLE list_cards (list TEXT, card TEXT, PRIMARY KEY(list, card))");
  db.Execute("CREATE INDEX properties_card ON properties(card)");
  db.Execute("CREATE INDEX properties_name ON properties(name)");
  db.Execute("PRAGMA user_version = 4");
  db.Execute("BEGIN");
  SqliteStatement insert = db.Prepare("INSERT INTO properties VALUES (?1, ?2, ?3)");
  for (const fs::path& card : cards) {
    const std::string uid = card.stem().string();
    const std::string bytes = ReadAll(card);
    fs::copy_file(card, root / "folder" / "cards" / card.filename());
    fs::copy_file(card, root / "kde" / uid);
    for (const auto& [name, value] : {std::pair<std::string, std::string>{"PopularityIndex", "0"},
                                      {"LastModifiedDate", "1700000000"},
                                      {"_vCard", bytes},
                                      {"DisplayName", DisplayName(bytes)}}) {
      insert.Bind(1, uid);
      insert.Bind(2, name);
      insert.Bind(3, value);
      (void)insert.Step();
      insert.Reset();
    }
  }
  db.Execute("COMMIT");
  fs::remove_all(generated);
}

const fs::path& Stores() {
  static const fs::path root = [] {
    const fs::path r = BenchRoot();
    if (!fs::exists(r / ".complete")) {
      fs::remove_all(r);
      MakeStores(r);
      std::ofstream(r / ".complete") << "";
    }
    return r;
  }();
  return root;
}

RunCounters Run(std::unique_ptr<ContactStore> store, bool update) {
  const QuietRun run = RunQuietly(*store, NumberOptions{}, update);
  if (!run.profile_failures.empty() || run.counters.problems != 0) std::abort();
  return run.counters;
}

enum class Kind { Thunderbird, Kde, Folder };

std::unique_ptr<ContactStore> Store(const fs::path& root, Kind kind) {
  switch (kind) {
    case Kind::Thunderbird:
      return MakeThunderbirdStore((root / "profile").string(), "bench");
    case Kind::Kde:
      // With no resource on the bus, the update ends by saying so in the log.
      return MakeKdeStore({{"akonadi_vcarddir_resource_0",
                            {(root / "kde").string(), "Contacts", CardNaming::AnyFile}}});
    case Kind::Folder:
      break;
  }
  return MakeVCardStore((root / "folder").string());
}

void Simulate(benchmark::State& state, Kind kind) {
  const fs::path& stores = Stores();
  RunCounters counters;
  for (auto _ : state) counters = Run(Store(stores, kind), false);
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * counters.checked));
  state.counters["contacts"] = static_cast<double>(counters.checked);
  state.counters["to_update"] = static_cast<double>(counters.updated);
}

// A fresh copy of both stores for each update, made outside the timing.
void Update(benchmark::State& state, Kind kind) {
  const fs::path work = BenchRoot().string() + "-work";
  RunCounters counters;
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove_all(work);
    fs::copy(Stores(), work, fs::copy_options::recursive);
    state.ResumeTiming();
    counters = Run(Store(work, kind), true);
  }
  fs::remove_all(work);
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * counters.checked));
  state.counters["updated"] = static_cast<double>(counters.updated);
}

void BM_ThunderbirdSimulate(benchmark::State& state) {
  Simulate(state, Kind::Thunderbird);
}
BENCHMARK(BM_ThunderbirdSimulate)->Unit(benchmark::kMillisecond);

void BM_ThunderbirdFolderSimulate(benchmark::State& state) {
  Simulate(state, Kind::Folder);
}
BENCHMARK(BM_ThunderbirdFolderSimulate)->Unit(benchmark::kMillisecond);

void BM_ThunderbirdUpdate(benchmark::State& state) {
  Update(state, Kind::Thunderbird);
}
BENCHMARK(BM_ThunderbirdUpdate)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ThunderbirdFolderUpdate(benchmark::State& state) {
  Update(state, Kind::Folder);
}
BENCHMARK(BM_ThunderbirdFolderUpdate)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_KdeSimulate(benchmark::State& state) {
  Simulate(state, Kind::Kde);
}
BENCHMARK(BM_KdeSimulate)->Unit(benchmark::kMillisecond);

void BM_KdeUpdate(benchmark::State& state) {
  Update(state, Kind::Kde);
}
BENCHMARK(BM_KdeUpdate)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace dialmend
