#include <gtest/gtest.h>

#include <sys/xattr.h>
#include <unistd.h>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/system_calls.h"
#include "tests/fakes/test_folder.h"

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
  // Whether the failure is reached only when the file has an extended attribute.
  bool needs_attribute = false;
};

void PrintTo(const Failure& failure, std::ostream* out) {
  *out << failure.name;
}

class InjectedFailure : public testing::TestWithParam<Failure> {
 public:
  void TearDown() override { Sys() = RealSystemCalls(); }

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

  const fs::path m_folder = FreshTestFolder("failure");
};

TEST_P(InjectedFailure, LeavesTheFileAsItWasAndNoTemporaryFile) {
  const Failure& failure = GetParam();
  const fs::path path = m_folder / "Ann.vcf";
  std::ofstream(path, std::ios::binary) << "BEGIN:VCARD\r\nTEL:0171 930 8890\r\nEND:VCARD\r\n";
  // An attribute to copy, so the calls that copy one are made.
  if (::setxattr(path.c_str(), "user.dialmend", "kept", 4, 0) != 0 && failure.needs_attribute) {
    GTEST_SKIP() << "this file system keeps no user attributes";
  }
  const std::string before = Contents(path);
  FileSnapshot snapshot = ReadFileSnapshot(path, 1024 * 1024);
  ASSERT_TRUE(snapshot.status.Ok()) << snapshot.status.Message();

  failure.inject(Sys());
  const std::string after = "BEGIN:VCARD\r\nTEL:+44 20 7930 8890\r\nEND:VCARD\r\n";
  const Status status = failure.checked ? WriteFileAtomically(path, after, snapshot.stamp,
                                                              snapshot.bytes, &snapshot.file)
                                        : WriteFileAtomically(path, after);
  Sys() = RealSystemCalls();

  EXPECT_FALSE(status.Ok());
  EXPECT_EQ(status.Message(), "Cannot save \"" + path.string() + "\": " + failure.reason + ".");
  EXPECT_EQ(status.Reason(), failure.reason);
  EXPECT_EQ(Contents(path), before);
  EXPECT_EQ(Names(), std::vector<std::string>{"Ann.vcf"});
}

// A system call that fails with `kError`, for any entry of the table.
template <int kError, typename Result, typename... Args>
Result Refuse(Args...) {
  errno = kError;
  return -1;
}

// Closes, then reports an error that a late write-back may give.
int CloseLate(int fd) {
  (void)RealSystemCalls().close(fd);
  errno = EIO;
  return -1;
}

INSTANTIATE_TEST_SUITE_P(
    AtomicFile, InjectedFailure,
    testing::Values(
        Failure{"TemporaryFileCannotBeMade", [](SystemCalls& c) { c.mkostemps = Refuse<EACCES>; },
                true, "permission denied"},
        Failure{"DiskIsFull", [](SystemCalls& c) { c.write = Refuse<ENOSPC>; }, true,
                "no space left on device"},
        Failure{"AttributesCannotBeListed", [](SystemCalls& c) { c.flistxattr = Refuse<EIO>; },
                true, "its extended attributes could not be copied: input/output error"},
        Failure{"AttributeCannotBeRead", [](SystemCalls& c) { c.fgetxattr = Refuse<EIO>; }, true,
                "its extended attributes could not be copied: user.dialmend: input/output error",
                true},
        Failure{
            "AttributeCannotBeWritten", [](SystemCalls& c) { c.fsetxattr = Refuse<ENOSPC>; }, true,
            "its extended attributes could not be copied: user.dialmend: no space left on device",
            true},
        Failure{"ModeCannotBeSet", [](SystemCalls& c) { c.fchmod = Refuse<EPERM>; }, true,
                "operation not permitted"},
        Failure{"FlushFails", [](SystemCalls& c) { c.fsync = Refuse<EIO>; }, true,
                "input/output error"},
        Failure{"SwapCrossesDevices", [](SystemCalls& c) { c.renameat2 = Refuse<EXDEV>; }, true,
                "invalid cross-device link"},
        Failure{"SwapIsRefused", [](SystemCalls& c) { c.renameat2 = Refuse<EPERM>; }, true,
                "operation not permitted"},
        Failure{"RenameIsRefusedWhereNamesCannotBeSwapped",
                [](SystemCalls& c) {
                  c.renameat2 = Refuse<EINVAL>;
                  c.rename = Refuse<EPERM>;
                },
                true, "operation not permitted"},
        Failure{"AnotherProgramHasItOpenForWriting",
                [](SystemCalls& c) { c.set_lease = Refuse<EAGAIN>; }, true,
                "another program has it open for writing"},
        Failure{"LogDiskIsFull", [](SystemCalls& c) { c.write = Refuse<ENOSPC>; }, false,
                "no space left on device"},
        Failure{"LogFlushFails", [](SystemCalls& c) { c.fsync = Refuse<EIO>; }, false,
                "input/output error"},
        Failure{"LogCloseReportsALateWriteError", [](SystemCalls& c) { c.close = CloseLate; },
                false, "input/output error"},
        Failure{"LogRenameCrossesDevices", [](SystemCalls& c) { c.rename = Refuse<EXDEV>; }, false,
                "invalid cross-device link"}),
    [](const testing::TestParamInfo<Failure>& info) { return info.param.name; });

}  // namespace
}  // namespace dialmend
