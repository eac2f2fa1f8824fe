#include <benchmark/benchmark.h>
#include <phonenumbers/phonenumberutil.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench/number_corpus.h"
#include "cli/convert_command.h"
#include "engine/fix_number.h"

namespace dialmend {
namespace {

constexpr std::size_t kCorpusSize = 12000;
constexpr std::size_t kCliLines = 1000000;

const std::vector<std::string>& Corpus() {
  static const std::vector<std::string> corpus = NumberCorpus(kCorpusSize);
  return corpus;
}

void BM_FixNumber(benchmark::State& state) {
  const auto& corpus = Corpus();
  const NumberOptions options;
  for (auto _ : state) {
    for (const std::string& number : corpus) benchmark::DoNotOptimize(FixNumber(number, options));
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * corpus.size()));
}
BENCHMARK(BM_FixNumber)->Unit(benchmark::kMillisecond);

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
