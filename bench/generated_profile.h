#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

// The stores the benchmarks run over, written by dialmend-make-profile: the same bytes for the
// same count on every machine.

namespace dialmend {

// Where they are kept: DIALMEND_BENCH_DIR, else tmpfs, so that the figures measure our work
// rather than the disk's flushes.
[[nodiscard]] std::filesystem::path BenchDir();

// The whole number the environment variable `variable` holds, else `otherwise`.
[[nodiscard]] std::size_t BenchCount(const char* variable, std::size_t otherwise);

// The store of `contacts` generated cards in BenchDir() / `name`, written the first time it is
// asked for on this machine and kept.
[[nodiscard]] std::filesystem::path GeneratedProfile(const std::string& name, std::size_t contacts);

}  // namespace dialmend
