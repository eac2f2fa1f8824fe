#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <string_view>

// Real folders and files for tests that work on a file system.

namespace dialmend {

// An empty folder of the running test's own, named `prefix`, its suite, its name and the build
// tree running it: ctest runs each test in its own process, in parallel, and other build trees
// may run the same test at once, so tests must never share one.
std::filesystem::path FreshTestFolder(std::string_view prefix);

// Writes `text` as the whole of `path`, making its folders first.
void WriteTestFile(const std::filesystem::path& path, std::string_view text);

// The whole of `path`, byte for byte; empty when it cannot be read.
std::string ReadTestFile(const std::filesystem::path& path);

// Every regular file under `root`, by its path from `root` with "/" between folders, with its
// bytes: two of them compare equal when nothing under `root` changed.
std::map<std::string, std::string> ReadTestTree(const std::filesystem::path& root);

// `text` with each CR LF made LF, as standard output has a log the file keeps with CR LF.
std::string LfLineEnds(std::string text);

}  // namespace dialmend
