#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/generated_profile.h"
#include "stores/eds/eds_session.h"
#include "stores/eds/eds_store.h"
#include "stores/vcard_folder/vcard_folder_store.h"
#include "tests/fakes/quiet_run.h"
#include "tests/stores/eds/eds_test_book.h"

// A run over one EDS address book holding the generated store's cards, beside the folder store's
// run over the same cards, and the floor of reading the book's cards as the store does. EDS works
// in its own processes, so the times are wall-clock. Runs in an EDS of its own:
//   tests/stores/eds/with_eds.sh build/bin/dialmend-eds-bench

namespace dialmend {
namespace {

namespace fs = std::filesystem;

// The generated store, made once per machine and count.
const fs::path& Profile() {
  static const std::size_t count = BenchCount("DIALMEND_BENCH_EDS_CONTACTS", 10000);
  static const fs::path profile =
      GeneratedProfile("dialmend-bench-eds-" + std::to_string(count), count);
  return profile;
}

std::vector<std::string> CardTexts() {
  std::vector<fs::path> paths;
  for (const auto& entry : fs::recursive_directory_iterator(Profile())) {
    if (entry.is_regular_file() && entry.path().extension() == ".vcf") paths.push_back(entry);
  }
  std::sort(paths.begin(), paths.end());
  std::vector<std::string> texts;
  for (const fs::path& path : paths) {
    std::ifstream in(path, std::ios::binary);
    texts.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return texts;
}

// An EDS book on this computer named "Bench" holding every generated card EDS takes; removed
// when it goes.
struct BenchBook {
  BenchBook() {
    const std::vector<std::string> texts = CardTexts();
    book.Save(texts);
    cards = texts.size();
  }
  static std::string NewUid() {
    static int made = 0;
    return "dialmend-bench-" + std::to_string(++made);
  }
  TestBook book{NewUid(), "Bench"};
  std::size_t cards = 0;
};

RunCounters Run(ContactStore& store, bool update, benchmark::State& state) {
  const QuietRun run = RunQuietly(store, NumberOptions{}, update);
  if (!run.profile_failures.empty()) state.SkipWithError(run.profile_failures.front().c_str());
  return run.counters;
}

void Report(benchmark::State& state, const RunCounters& counters) {
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * counters.checked));
  state.counters["contacts"] = static_cast<double>(counters.checked);
  state.counters["updated"] = static_cast<double>(counters.updated);
  state.counters["problems"] = static_cast<double>(counters.problems);
}

// The query for the cards of `uids`, as the store asks for a batch.
GCharPtr CardsOf(const std::vector<std::string>& uids, std::size_t first, std::size_t last) {
  std::vector<EBookQuery*> tests;
  for (std::size_t i = first; i < last; ++i) {
    tests.push_back(e_book_query_field_test(E_CONTACT_UID, E_BOOK_QUERY_IS, uids[i].c_str()));
  }
  EBookQuery* query = e_book_query_or(static_cast<gint>(tests.size()), tests.data(), TRUE);
  GCharPtr text = TakeGChar(e_book_query_to_string(query));
  e_book_query_unref(query);
  return text;
}

// The floor of a simulation: every card's text from EDS, by UID in batches of 100, as the store
// reads them, and nothing done with it.
void BM_EdsReadEveryCard(benchmark::State& state) {
  const BenchBook bench;
  EBookClient* client = bench.book.Client();
  const EdsSession::Scope scope = bench.book.Session().Enter();
  std::size_t bytes = 0;
  for (auto _ : state) {
    EBookQuery* every = e_book_query_any_field_contains("");
    const GCharPtr every_text = TakeGChar(e_book_query_to_string(every));
    e_book_query_unref(every);
    GSList* listed = nullptr;
    (void)e_book_client_get_contacts_uids_sync(client, every_text.get(), &listed, nullptr, nullptr);
    std::vector<std::string> uids;
    for (GSList* at = listed; at != nullptr; at = at->next) {
      uids.emplace_back(static_cast<const char*>(at->data));
    }
    g_slist_free_full(listed, g_free);
    for (std::size_t first = 0; first < uids.size(); first += 100) {
      GSList* contacts = nullptr;
      (void)e_book_client_get_contacts_sync(
          client, CardsOf(uids, first, std::min(uids.size(), first + 100)).get(), &contacts,
          nullptr, nullptr);
      for (GSList* card = contacts; card != nullptr; card = card->next) {
        bytes += std::strlen(
            TakeGChar(e_vcard_to_string(E_VCARD(card->data), EVC_FORMAT_VCARD_30)).get());
      }
      g_slist_free_full(contacts, g_object_unref);
    }
  }
  benchmark::DoNotOptimize(bytes);
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * bench.cards));
  state.counters["contacts"] = static_cast<double>(bench.cards);
}
BENCHMARK(BM_EdsReadEveryCard)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// The floor of an update: EDS saving the cards back as they are, a hundred to a call, as the
// store saves a book's batch of changed cards.
void BM_EdsSaveEveryCard(benchmark::State& state) {
  const BenchBook bench;
  EBookClient* client = bench.book.Client();
  const EdsSession::Scope scope = bench.book.Session().Enter();
  EBookQuery* every = e_book_query_any_field_contains("");
  const GCharPtr every_text = TakeGChar(e_book_query_to_string(every));
  e_book_query_unref(every);
  GSList* contacts = nullptr;
  (void)e_book_client_get_contacts_sync(client, every_text.get(), &contacts, nullptr, nullptr);
  for (auto _ : state) {
    for (GSList* first = contacts; first != nullptr;) {
      GSList* batch = nullptr;
      for (int i = 0; i < 100 && first != nullptr; ++i, first = first->next) {
        batch = g_slist_prepend(batch, first->data);
      }
      (void)e_book_client_modify_contacts_sync(client, batch, E_BOOK_OPERATION_FLAG_NONE, nullptr,
                                               nullptr);
      g_slist_free(batch);
    }
  }
  g_slist_free_full(contacts, g_object_unref);
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * bench.cards));
  state.counters["contacts"] = static_cast<double>(bench.cards);
}
BENCHMARK(BM_EdsSaveEveryCard)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

void BM_EdsSimulate(benchmark::State& state) {
  const BenchBook bench;
  RunCounters counters;
  for (auto _ : state) {
    const auto store = MakeEdsStore({"Bench"});
    counters = Run(*store, false, state);
  }
  Report(state, counters);
}
BENCHMARK(BM_EdsSimulate)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_EdsUpdate(benchmark::State& state) {
  RunCounters counters;
  for (auto _ : state) {
    state.PauseTiming();
    {
      const BenchBook bench;
      const auto store = MakeEdsStore({"Bench"});
      state.ResumeTiming();
      counters = Run(*store, true, state);
      state.PauseTiming();
    }
    state.ResumeTiming();
  }
  Report(state, counters);
}
BENCHMARK(BM_EdsUpdate)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

void BM_FolderSimulate(benchmark::State& state) {
  RunCounters counters;
  for (auto _ : state) counters = Run(*MakeVCardStore(Profile().string()), false, state);
  Report(state, counters);
}
BENCHMARK(BM_FolderSimulate)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_FolderUpdate(benchmark::State& state) {
  const fs::path copy = BenchDir() / "dialmend-bench-eds-folder";
  RunCounters counters;
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove_all(copy);
    fs::copy(Profile(), copy, fs::copy_options::recursive);
    state.ResumeTiming();
    counters = Run(*MakeVCardStore(copy.string()), true, state);
  }
  fs::remove_all(copy);
  Report(state, counters);
}
BENCHMARK(BM_FolderUpdate)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

}  // namespace
}  // namespace dialmend
