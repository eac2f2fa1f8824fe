#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

// Passes everything to the display reporter that Google Benchmark's own flags choose
// (--benchmark_format, colour, counters), then prints how the rates compare, since the targets
// are ratios. A ratio uses the median of the repetitions when there are several.
class RatioReporter : public benchmark::BenchmarkReporter {
 public:
  explicit RatioReporter(benchmark::BenchmarkReporter* display) : m_display(display) {}

  bool ReportContext(const Context& context) override {
    m_display->SetOutputStream(&GetOutputStream());
    m_display->SetErrorStream(&GetErrorStream());
    return m_display->ReportContext(context);
  }

  void ReportRuns(const std::vector<Run>& runs) override {
    m_display->ReportRuns(runs);
    for (const Run& run : runs) {
      if (const auto ratio = run.counters.find("ratio");
          ratio != run.counters.end() && !run.error_occurred && run.run_type == Run::RT_Iteration) {
        m_ratios[run.run_name.function_name].push_back(ratio->second.value);
      }
      const auto it = run.counters.find("items_per_second");
      if (it == run.counters.end() || run.error_occurred) continue;
      Rates& rates = m_rates[run.run_name.function_name];
      if (run.run_type == Run::RT_Iteration) {
        rates.each.push_back(it->second.value);
      } else if (run.aggregate_name == "median") {
        rates.median = it->second.value;
      }
    }
  }

  void Finalize() override {
    m_display->Finalize();
    // Anything but the console table is for programs: the comparison goes to stderr then.
    std::FILE* out = dynamic_cast<benchmark::ConsoleReporter*>(m_display) ? stdout : stderr;
    std::fflush(stdout);
    const double engine = Rate("BM_FixNumber");
    const double floor = Rate("BM_FixNumberFloor");
    const double library = Rate("BM_LibPhoneNumber");
    const double cli = Rate("BM_ConvertCli");
    std::fprintf(out, "\n");
    if (engine > 0 && floor > 0) {
      std::fprintf(out,
                   "FixNumber %.0f ns per number, the floor %.0f ns: %.2f times the floor "
                   "(target: at most 1.5)\n",
                   1e9 / engine, 1e9 / floor, floor / engine);
    }
    if (const auto it = m_ratios.find("BM_FixNumberToFloor"); it != m_ratios.end()) {
      std::vector<double> ratios = it->second;
      std::sort(ratios.begin(), ratios.end());
      std::fprintf(out,
                   "In turns over the same numbers: FixNumber %.2f times the floor (median of %zu "
                   "repetitions' ratios, %.2f to %.2f)\n",
                   Median(ratios), ratios.size(), ratios.front(), ratios.back());
    }
    const double disk = Rate("BM_UpdateOnDisk");
    const double copy = Rate("BM_CopyAndSyncOnDisk");
    if (engine > 0 && library > 0) {
      std::fprintf(out,
                   "FixNumber %.0f numbers/s, libphonenumber %.0f numbers/s: %.1f times faster "
                   "(target: at least 20)\n",
                   engine, library, engine / library);
    }
    if (disk > 0 && copy > 0) {
      std::fprintf(out,
                   "Update on disk %.0f cards/s, cp -r + sync %.0f cards/s: %.2f times as long "
                   "(target: at most 3)\n",
                   disk, copy, copy / disk);
    }
    if (engine > 0 && cli > 0) {
      std::fprintf(out,
                   "dialmend-convert %.0f ns per line, FixNumber %.0f ns per number: %.2f times "
                   "(target: at most 2)\n",
                   1e9 / cli, 1e9 / engine, engine / cli);
    }
    std::fflush(out);
  }

 private:
  struct Rates {
    std::vector<double> each;  // one per repetition
    double median = 0;         // from Google Benchmark's own aggregate, when it made one
  };

  // Items per second, the median over the repetitions; 0 when the benchmark did not run.
  double Rate(const std::string& name) const {
    const auto it = m_rates.find(name);
    if (it == m_rates.end()) return 0;
    const Rates& rates = it->second;
    if (rates.median > 0 || rates.each.empty()) return rates.median;
    std::vector<double> each = rates.each;
    std::sort(each.begin(), each.end());
    return Median(each);
  }

  // The middle of `sorted`, which is not empty.
  static double Median(const std::vector<double>& sorted) {
    const std::size_t n = sorted.size();
    return n % 2 == 1 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
  }

  benchmark::BenchmarkReporter* m_display;
  std::map<std::string, Rates> m_rates;
  std::map<std::string, std::vector<double>> m_ratios;  // a "ratio" counter, per repetition
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  const std::unique_ptr<benchmark::BenchmarkReporter> display(
      benchmark::CreateDefaultDisplayReporter());
  RatioReporter reporter(display.get());
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
