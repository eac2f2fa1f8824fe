#pragma once

#include <filesystem>
#include <string_view>

// Real folders and files for tests that work on a file system.

namespace dialmend {

// An empty folder of the running test's own, named `prefix`, its suite and its name: ctest runs
// each test in its own process, in parallel, so tests must never share one.
std::filesystem::path FreshTestFolder(std::string_view prefix);

// Writes `text` as the whole of `path`, making its folders first.
void WriteTestFile(const std::filesystem::path& path, std::string_view text);

}  // namespace dialmend
