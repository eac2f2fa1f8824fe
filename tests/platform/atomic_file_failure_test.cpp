#include <gtest/gtest.h>

#include <unistd.h>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/system_calls.h"

// Each system call the writer makes fails in turn, as a full disk or a broken file system would
// make it fail; the file must come through untouched whichever it is.

namespace dialmend {
namespace {

namespace fs = std::filesystem;

struct Failure {
  const char* name;
  // Makes one call of the table fail.
  void (*inject)(SystemCalls& calls);
  // Whether the save checks the file against the one read, as a card's does; else a log's.
  bool checked;
  std::string reason;
};

void PrintTo(const Failure& failure, std::ostream* out) {
  *out << failure.name;
}

class InjectedFailure : public testing::TestWithParam<Failure> {
 public:
  void SetUp() override {
    m_folder =
        fs::temp_directory_path() / ("dialmend-failure-" + std::to_string(std::random_device()()));
    ASSERT_TRUE(fs::create_directory(m_folder));
  }
  void TearDown() override {
    Sys() = RealSystemCalls();
    std::error_code ignored;
    fs::remove_all(m_folder, ignored);
  }

  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(m_folder)) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  }

  static std::string Contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  fs::path m_folder;
};

TEST_P(InjectedFailure, LeavesTheFileAsItWasAndNoTemporaryFile) {
  const Failure& failure = GetParam();
  const fs::path path = m_folder / "Ann.vcf";
  std::ofstream(path, std::ios::binary) << "BEGIN:VCARD\r\nTEL:0171 930 8890\r\nEND:VCARD\r\n";
  const std::string before = Contents(path);
  FileSnapshot snapshot = ReadFileSnapshot(path, 1024 * 1024);
  ASSERT_TRUE(snapshot.status) << snapshot.status.message;

  failure.inject(Sys());
  const std::string after = "BEGIN:VCARD\r\nTEL:+44 20 7930 8890\r\nEND:VCARD\r\n";
  const FileStatus status = failure.checked ? WriteFileAtomically(path, after, snapshot.stamp,
                                                                  snapshot.bytes, &snapshot.file)
                                            : WriteFileAtomically(path, after);
  Sys() = RealSystemCalls();

  EXPECT_FALSE(status.ok);
  EXPECT_EQ(status.message, "Cannot save \"" + path.string() + "\": " + failure.reason + ".");
  EXPECT_EQ(status.reason, failure.reason);
  EXPECT_EQ(Contents(path), before);
  EXPECT_EQ(Names(), std::vector<std::string>{"Ann.vcf"});
}

INSTANTIATE_TEST_SUITE_P(
    AtomicFile, InjectedFailure,
    testing::Values(
        Failure{"TemporaryFileCannotBeMade",
                [](SystemCalls& calls) {
                  calls.mkostemps = [](char*, int, int) { return errno = EACCES, -1; };
                },
                true, "permission denied"},
        Failure{"DiskIsFull",
                [](SystemCalls& calls) {
                  calls.write = [](int, const void*, std::size_t) -> ssize_t {
                    return errno = ENOSPC, -1;
                  };
                },
                true, "no space left on device"},
        Failure{"AttributesCannotBeListed",
                [](SystemCalls& calls) {
                  calls.flistxattr = [](int, char*, std::size_t) -> ssize_t {
                    return errno = EIO, -1;
                  };
                },
                true, "its extended attributes could not be copied: input/output error"},
        Failure{"ModeCannotBeSet",
                [](SystemCalls& calls) {
                  calls.fchmod = [](int, mode_t) { return errno = EPERM, -1; };
                },
                true, "operation not permitted"},
        Failure{"FlushFails",
                [](SystemCalls& calls) { calls.fsync = [](int) { return errno = EIO, -1; }; }, true,
                "input/output error"},
        Failure{"SwapCrossesDevices",
                [](SystemCalls& calls) {
                  calls.renameat2 = [](int, const char*, int, const char*, unsigned) {
                    return errno = EXDEV, -1;
                  };
                },
                true, "invalid cross-device link"},
        Failure{"SwapIsRefused",
                [](SystemCalls& calls) {
                  calls.renameat2 = [](int, const char*, int, const char*, unsigned) {
                    return errno = EPERM, -1;
                  };
                },
                true, "operation not permitted"},
        Failure{"RenameIsRefusedWhereNamesCannotBeSwapped",
                [](SystemCalls& calls) {
                  calls.renameat2 = [](int, const char*, int, const char*, unsigned) {
                    return errno = EINVAL, -1;
                  };
                  calls.rename = [](const char*, const char*) { return errno = EPERM, -1; };
                },
                true, "operation not permitted"},
        Failure{"AnotherProgramHasItOpenForWriting",
                [](SystemCalls& calls) {
                  calls.set_lease = [](int, int) { return errno = EAGAIN, -1; };
                },
                true, "another program has it open for writing"},
        Failure{"LogDiskIsFull",
                [](SystemCalls& calls) {
                  calls.write = [](int, const void*, std::size_t) -> ssize_t {
                    return errno = ENOSPC, -1;
                  };
                },
                false, "no space left on device"},
        Failure{"LogFlushFails",
                [](SystemCalls& calls) { calls.fsync = [](int) { return errno = EIO, -1; }; },
                false, "input/output error"},
        Failure{"LogCloseReportsALateWriteError",
                [](SystemCalls& calls) {
                  calls.close = [](int fd) { return RealSystemCalls().close(fd), errno = EIO, -1; };
                },
                false, "input/output error"},
        Failure{"LogRenameCrossesDevices",
                [](SystemCalls& calls) {
                  calls.rename = [](const char*, const char*) { return errno = EXDEV, -1; };
                },
                false, "invalid cross-device link"}),
    [](const testing::TestParamInfo<Failure>& info) { return info.param.name; });

}  // namespace
}  // namespace dialmend
