#include "tests/fakes/test_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

namespace dialmend {
namespace {

// The folders this test program made, removed when it ends so the temporary folder keeps
// nothing of a run; a child process forked from it that exits leaves them to its parent.
class MadeFolders {
 public:
  void Add(const std::filesystem::path& root) {
    const std::lock_guard<std::mutex> hold(m_mutex);
    m_roots.push_back(root);
  }
  ~MadeFolders() {
    if (getpid() != m_owner) return;
    for (const std::filesystem::path& root : m_roots) {
      std::error_code ignored;
      std::filesystem::remove_all(root, ignored);
    }
  }

 private:
  const int m_owner = static_cast<int>(getpid());
  std::mutex m_mutex;
  std::vector<std::filesystem::path> m_roots;
};

MadeFolders& Made() {
  static MadeFolders made;
  return made;
}

}  // namespace

std::filesystem::path FreshTestFolder(std::string_view prefix) {
  const auto* info = testing::UnitTest::GetInstance()->current_test_info();
  // The working folder tells two build trees' runs of one test apart in the shared temp folder,
  // yet names the same folder run after run, so a run that crashed leaves nothing to pile up.
  const size_t tree = std::hash<std::string>{}(std::filesystem::current_path().string());
  std::string name = std::string(prefix) + "_" + info->test_suite_name() + "_" + info->name() +
                     "_" + std::to_string(tree % 1000000);
  // Parameterised tests put '/' in their names.
  std::replace(name.begin(), name.end(), '/', '_');
  const std::filesystem::path root = std::filesystem::path(testing::TempDir()) / name;
  std::filesystem::remove_all(root);
  std::filesystem::create_directories(root);
  Made().Add(root);
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

std::map<std::string, std::string> ReadTestTree(const std::filesystem::path& root) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    if (entry.is_regular_file()) {
      files[std::filesystem::relative(entry.path(), root).generic_string()] =
          ReadTestFile(entry.path());
    }
  }
  return files;
}

std::string LfLineEnds(std::string text) {
  for (std::size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos;) text.erase(at, 1);
  return text;
}

}  // namespace dialmend
