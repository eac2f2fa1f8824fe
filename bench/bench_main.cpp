#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

namespace {

// Prints the usual table, then how the rates compare, since the targets are ratios.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      const auto it = run.counters.find("items_per_second");
      if (it != run.counters.end() && run.run_type == Run::RT_Iteration) {
        m_rates[run.run_name.function_name] = it->second.value;
      }
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    const double engine = Rate("BM_FixNumber");
    const double library = Rate("BM_LibPhoneNumber");
    const double cli = Rate("BM_ConvertCli");
    const double disk = Rate("BM_UpdateOnDisk");
    const double copy = Rate("BM_CopyAndSyncOnDisk");
    std::printf("\n");
    if (engine > 0 && library > 0) {
      std::printf(
          "FixNumber %.0f numbers/s, libphonenumber %.0f numbers/s: %.1f times faster "
          "(target: at least 20)\n",
          engine, library, engine / library);
    }
    if (disk > 0 && copy > 0) {
      std::printf(
          "Update on disk %.0f cards/s, cp -r + sync %.0f cards/s: %.2f times as long "
          "(target: at most 3)\n",
          disk, copy, copy / disk);
    }
    if (engine > 0 && cli > 0) {
      std::printf(
          "dialmend-convert %.0f ns per line, FixNumber %.0f ns per number: %.2f times "
          "(target: at most 2)\n",
          1e9 / cli, 1e9 / engine, engine / cli);
    }
  }

 private:
  double Rate(const std::string& name) const {
    const auto it = m_rates.find(name);
    return it == m_rates.end() ? 0 : it->second;
  }
  std::map<std::string, double> m_rates;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
