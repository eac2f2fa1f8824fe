#include "tests/fakes/test_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

namespace dialmend {

std::filesystem::path FreshTestFolder(std::string_view prefix) {
  const auto* info = testing::UnitTest::GetInstance()->current_test_info();
  // The working folder tells two build trees' runs of one test apart in the shared temp folder,
  // yet names the same folder run after run, so nothing piles up.
  const size_t tree = std::hash<std::string>{}(std::filesystem::current_path().string());
  std::string name = std::string(prefix) + "_" + info->test_suite_name() + "_" + info->name() +
                     "_" + std::to_string(tree % 1000000);
  // Parameterised tests put '/' in their names.
  std::replace(name.begin(), name.end(), '/', '_');
  const std::filesystem::path root = std::filesystem::path(testing::TempDir()) / name;
  std::filesystem::remove_all(root);
  std::filesystem::create_directories(root);
  return root;
}

void WriteTestFile(const std::filesystem::path& path, std::string_view text) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  if (!out.flush()) ADD_FAILURE() << "cannot write the test file " << path;
}

std::string ReadTestFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::string LfLineEnds(std::string text) {
  for (std::size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos;) text.erase(at, 1);
  return text;
}

}  // namespace dialmend
