#include "platform/atomic_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <grp.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <functional>
#endif

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "platform/atomic_file_common.h"
#include "platform/utf8_path.h"
#include "tests/platform/atomic_file_fixture.h"

// Each platform has its own system calls below ReadFileSnapshot and WriteFileAtomically; the
// tests that hold on both run on both, then come those that reach below the standard library on
// Windows (atomic_file_posix_test.cpp has those on POSIX systems).

namespace dialmend {
namespace {

namespace fs = std::filesystem;
using testing::ElementsAre;
using testing::HasSubstr;

TEST_F(AtomicFile, ReadsTheBytesAndTheStampOfTheFile) {
  const std::string bytes = std::string("BEGIN:VCARD\r\n\0\xff", 15);
  const fs::path path = Write("Ann.vcf", bytes);
  const FileSnapshot snapshot = ReadFileSnapshot(path, bytes.size());
  ASSERT_TRUE(snapshot.status.Ok()) << snapshot.status.Message();
  EXPECT_EQ(snapshot.bytes, bytes);
  EXPECT_EQ(snapshot.stamp.size, bytes.size());
  EXPECT_NE(snapshot.stamp.mtime_ns, 0);
  EXPECT_EQ(Snapshot(path), snapshot.stamp);
#ifndef _WIN32
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(snapshot.stamp,
            (FileStamp{bytes.size(), info.st_mtim.tv_sec * 1'000'000'000LL + info.st_mtim.tv_nsec,
                       info.st_ino, info.st_dev}));
#endif
}

struct ReadRefusal {
  const char* name;
  const char* file;
  std::size_t limit;
  const char* reason;
};

class AtomicFileRead : public AtomicFile, public testing::WithParamInterface<ReadRefusal> {};

TEST_P(AtomicFileRead, NamesTheFileAndTheReasonWhenItIsRefused) {
  fs::create_directory(m_folder / "Folder.vcf");
  Write("Big.vcf", std::string(17, 'x'));
  Write("Huge.vcf", std::string(kLimit + 1, 'x'));
#ifndef _WIN32
  ASSERT_EQ(::mkfifo((m_folder / "Pipe.vcf").c_str(), 0600), 0);
#endif
  const fs::path path = m_folder / GetParam().file;
  const FileSnapshot snapshot = ReadFileSnapshot(path, GetParam().limit);
  EXPECT_FALSE(snapshot.status.Ok());
  EXPECT_EQ(snapshot.status.Reason(), GetParam().reason);
  EXPECT_EQ(snapshot.status.Message(),
            "Cannot read \"" + path.string() + "\": " + GetParam().reason + ".");
}

const ReadRefusal kReadRefusals[] = {
    {"MissingFile", "Missing.vcf", kLimit, "no such file or directory"},
    {"Folder", "Folder.vcf", kLimit, "it is not a regular file"},
#ifndef _WIN32
    {"Fifo", "Pipe.vcf", kLimit, "it is not a regular file"},
#endif
    {"OverTheLimit", "Big.vcf", 16, "it is larger than 16 bytes"},
    {"OverFourMiB", "Huge.vcf", kLimit, "it is larger than 4 MiB"}};
INSTANTIATE_TEST_SUITE_P(Refusals, AtomicFileRead, testing::ValuesIn(kReadRefusals),
                         RowName<ReadRefusal>);

struct NameRow {
  const char* name;
  std::string file;
};

class AtomicFileName : public AtomicFile, public testing::WithParamInterface<NameRow> {};

TEST_P(AtomicFileName, CreatesAndReplacesTheContentAndLeavesNoOtherFile) {
  const fs::path path = m_folder / PathFromUtf8(GetParam().file);
  ASSERT_TRUE(WriteFileAtomically(path, "old").Ok());
  const FileStamp stamp = Snapshot(path);
  const Status status = WriteFileAtomically(path, "new\r\n", stamp);
  ASSERT_TRUE(status.Ok()) << status.Message();
  EXPECT_EQ(Contents(path), "new\r\n");
  EXPECT_THAT(Names(), ElementsAre(GetParam().file));
#ifndef _WIN32
  EXPECT_NE(Snapshot(path).inode, stamp.inode) << "the file was written in place, not renamed";
#endif
  ASSERT_TRUE(WriteFileAtomically(path, "again").Ok());
  EXPECT_EQ(Contents(path), "again");
}

// A POSIX file name takes 255 bytes; on Windows the whole path must fit in 260 characters, so
// the temporary name of a long one is shortened.
#ifdef _WIN32
constexpr std::size_t kLongName = 200;
#else
constexpr std::size_t kLongName = 250;
#endif
INSTANTIATE_TEST_SUITE_P(Names, AtomicFileName,
                         testing::Values(NameRow{"Short", "Ann.vcf"},
                                         NameRow{"Long", std::string(kLongName, 'a') + ".vcf"},
                                         NameRow{"BeyondTheCodePage", kWideName}),
                         RowName<NameRow>);

struct TempNameRow {
  const char* name;
  std::string file;
  bool ours;
};

class AtomicTempName : public testing::TestWithParam<TempNameRow> {};

TEST_P(AtomicTempName, IsRecognisedOnlyAsTheWriterMakesIt) {
  EXPECT_EQ(IsAtomicTempName(GetParam().file), GetParam().ours) << GetParam().file;
}

INSTANTIATE_TEST_SUITE_P(
    Names, AtomicTempName,
    testing::Values(
        TempNameRow{"Card", ".Ann.vcf.dialmend-a1B2c3.tmp", true},
        TempNameRow{"HiddenFile", "..hidden.dialmend-ZZZZZZ.tmp", true},
        TempNameRow{"LongestKeptName", "." + std::string(200, 'a') + ".dialmend-000000.tmp", true},
        TempNameRow{"KeptNameTooLong", "." + std::string(201, 'a') + ".dialmend-000000.tmp", false},
        TempNameRow{"NoName", "..dialmend-a1B2c3.tmp", false},
        TempNameRow{"NotHidden", "Ann.vcf.dialmend-a1B2c3.tmp", false},
        TempNameRow{"FiveLetters", ".Ann.vcf.dialmend-a1B2c.tmp", false},
        TempNameRow{"SevenLetters", ".Ann.vcf.dialmend-a1B2c3d.tmp", false},
        TempNameRow{"NotALetter", ".Ann.vcf.dialmend-a1B2c_.tmp", false},
        TempNameRow{"OtherMarker", ".Ann.vcf.dialmand-a1B2c3.tmp", false},
        TempNameRow{"OtherSuffix", ".Ann.vcf.dialmend-a1B2c3.tmp~", false},
        TempNameRow{"MarkerAlone", ".dialmend-a1B2c3.tmp", false}),
    RowName<TempNameRow>);

struct WriteRefusal {
  const char* name;
  void (*disturb)(AtomicFile&, const fs::path&);  // after the file was read
  const char* reason;
  const char* contents;  // of the file afterwards
  bool file_left;
};

class AtomicFileWrite : public AtomicFile, public testing::WithParamInterface<WriteRefusal> {};

TEST_P(AtomicFileWrite, LeavesTheFileOfAnotherProgram) {
  const fs::path path = Write("Ann.vcf", "old");
  const FileStamp stamp = Snapshot(path);
  GetParam().disturb(*this, path);
  const Status status = WriteFileAtomically(path, "ours", stamp);
  EXPECT_FALSE(status.Ok());
  EXPECT_EQ(status.Message(), "Cannot save \"" + path.string() + "\": " + GetParam().reason + ".");
  EXPECT_EQ(Contents(path), GetParam().contents);
  EXPECT_EQ(Names(), GetParam().file_left ? std::vector<std::string>{"Ann.vcf"}
                                          : std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, AtomicFileWrite,
    testing::Values(
        WriteRefusal{"ChangedSinceItWasRead",
                     [](AtomicFile& t, auto&) { t.Write("Ann.vcf", "sync"); },
                     "another program changed it after it was read", "sync", true},
        WriteRefusal{"ReplacedByOneOfTheSameSize",
                     [](AtomicFile& t, auto& path) { fs::rename(t.Write("New", "new"), path); },
                     "another program changed it after it was read", "new", true},
        WriteRefusal{"RemovedSinceItWasRead", [](AtomicFile&, auto& path) { fs::remove(path); },
                     "it was removed after it was read", "", false}),
    RowName<WriteRefusal>);

TEST_F(AtomicFile, FailsInWordsWhenTheFolderIsGone) {
  const fs::path path = m_folder / "Gone" / PathFromUtf8(kWideName);
  const Status status = WriteFileAtomically(path, "ours", FileStamp{});
  EXPECT_FALSE(status.Ok());
  EXPECT_THAT(status.Message(), HasSubstr(Utf8FromPath(path)));
  EXPECT_FALSE(fs::exists(m_folder / "Gone"));
}

TEST_F(AtomicFile, ReadsAnOpenedFileFromAnyOffset) {
  const fs::path path = Write("all.vcf", "BEGIN:VCARD\r\nEND:VCARD\r\n");
  OpenedFile file;
  ASSERT_TRUE(file.Open(path).Ok());
  EXPECT_EQ(file.Stamp(), Snapshot(path));
  char buffer[16];
  std::string reason;
  EXPECT_EQ(file.ReadAt(13, buffer, sizeof buffer, reason), std::optional<std::size_t>(11));
  EXPECT_EQ(std::string(buffer, 11), "END:VCARD\r\n");
  EXPECT_EQ(file.ReadAt(24, buffer, sizeof buffer, reason), std::optional<std::size_t>(0));
}

// The pieces written in order and committed; or the replace dropped before its commit; or the
// file changed by another program since it was opened: the file is then left as it is.
TEST_F(AtomicFile, StreamedReplaceWritesThePiecesOrLeavesTheFileAsItIs) {
  const struct {
    const char* theirs;  // written over the file after it was opened; nullptr: none
    bool commit;
    const char* after;
  } rows[] = {{nullptr, true, "new content"},
              {nullptr, false, "old content"},
              {"their longer content", true, "their longer content"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.after);
    const fs::path path = Write("all.vcf", "old content");
    OpenedFile read;
    ASSERT_TRUE(read.Open(path).Ok());
    if (row.theirs != nullptr) Write("all.vcf", row.theirs);
    std::optional<StreamedReplace> replace(
        std::in_place, path, AsRead{read.Stamp(), read.SettledChange(), ContentHash("old content")},
        &read.Held());
    Status status = replace->Begin();
    if (status.Ok()) {
      EXPECT_TRUE(replace->Append("new "));
      EXPECT_TRUE(replace->Append("content"));
      status = row.commit ? replace->Commit() : Status();
    }
    replace.reset();
    EXPECT_EQ(status.Ok(), row.theirs == nullptr) << status.Message();
    EXPECT_EQ(status.Reason().starts_with("another program changed it"), row.theirs != nullptr);
    EXPECT_EQ(Contents(path), row.after);
    EXPECT_THAT(Names(), ElementsAre("all.vcf"));
  }
}

TEST_F(AtomicFile, RefusesAFileRewrittenWithinTheSameClockTick) {
  const fs::path path = Write("Ann.vcf", "TEL:0171 930 8890");
  const FileStamp stamp = Snapshot(path);
  // Same size and file index; put the old write time back so only the content differs.
  std::ofstream(path, std::ios::binary | std::ios::in) << "TEL:0171 000 0000";
  SetWriteTime(path, stamp.mtime_ns);
  ASSERT_EQ(Snapshot(path), stamp) << "the test needs a matching stamp";
  EXPECT_FALSE(WriteFileAtomically(path, "ours", stamp, "TEL:0171 930 8890").Ok());
  EXPECT_EQ(Contents(path), "TEL:0171 000 0000");
  EXPECT_TRUE(WriteFileAtomically(path, "ours", stamp, "TEL:0171 000 0000").Ok());
  EXPECT_EQ(Contents(path), "ours");
}

// The temporary file is written before the rename over the folder fails, and is removed.
TEST_F(AtomicFile, LeavesAFolderOfTheNameAsItWas) {
  const fs::path path = m_folder / "Folder.vcf";
  fs::create_directory(path);
  const Status status = WriteFileAtomically(path, "ours");
  EXPECT_EQ(status.Message(), "Cannot save \"" + path.string() + "\": is a directory.");
  EXPECT_THAT(Names(), ElementsAre("Folder.vcf"));
  EXPECT_TRUE(fs::is_empty(path));
}

#ifdef _WIN32

TEST_F(AtomicFile, KeepsTheAttributesOfTheFile) {
  const fs::path path = Write("Ann.vcf", "old");
  ASSERT_TRUE(::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN));
  const Status status = WriteFileAtomically(path, "new", Snapshot(path));
  ASSERT_TRUE(status.Ok()) << status.Message();
  EXPECT_NE(::GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
  EXPECT_EQ(Contents(path), "new");
}

TEST_F(AtomicFile, LeavesTheFolderAsItWasWhenAnotherProgramHoldsTheFile) {
  const fs::path path = Write("Ann.vcf", "old");
  const FileStamp stamp = Snapshot(path);
  // An editor that has the card open without sharing delete access blocks any replace.
  HANDLE held = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const Status status = WriteFileAtomically(path, "ours", stamp);
  ::CloseHandle(held);
  // Windows says the file is in use; wine says access is denied.
  EXPECT_THAT(status.Message(),
              testing::AnyOf("Cannot save \"" + path.string() + "\": another program has it open.",
                             "Cannot save \"" + path.string() + "\": permission denied."));
  EXPECT_EQ(Contents(path), "old");
  EXPECT_THAT(Names(), ElementsAre("Ann.vcf"));
}

#endif

}  // namespace
}  // namespace dialmend
