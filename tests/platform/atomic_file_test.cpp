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

// Each platform has its own system calls below ReadFileSnapshot and WriteFileAtomically; the
// tests that hold on both run on both, then come those that reach below the standard library.

namespace dialmend {
namespace {

namespace fs = std::filesystem;
using testing::ElementsAre;
using testing::HasSubstr;

constexpr std::size_t kLimit = 4 * 1024 * 1024;
// Beyond any ANSI code page: UTF-8 names must reach Windows as UTF-16.
constexpr char kWideName[] = "Zo\xC3\xAB \xE5\xBC\xA0 \xF0\x9F\x93\x9E.vcf";

class AtomicFile : public testing::Test {
 public:
  void SetUp() override {
    m_folder =
        fs::temp_directory_path() / ("dialmend-atomic-" + std::to_string(std::random_device()()));
    ASSERT_TRUE(fs::create_directory(m_folder));
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(m_folder, ignored);
  }

  // Writes the file named by UTF-8 `name` in the test's folder.
  fs::path Write(const std::string& name, const std::string& bytes) {
    const fs::path path = m_folder / PathFromUtf8(name);
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  static std::string Contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(m_folder)) {
      names.push_back(Utf8FromPath(entry.path().filename()));
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  static FileStamp Snapshot(const fs::path& path) {
    const FileSnapshot snapshot = ReadFileSnapshot(path, kLimit);
    EXPECT_TRUE(snapshot.status.Ok()) << snapshot.status.Message();
    return snapshot.stamp;
  }

  // Gives the file the write time `mtime_ns` (since 1970) again.
  static void SetWriteTime(const fs::path& path, std::int64_t mtime_ns) {
#ifdef _WIN32
    HANDLE file = ::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    // The stamp counts from 1970; FILETIME counts 100 ns ticks from 1601.
    const auto ticks = static_cast<std::uint64_t>(mtime_ns / 100 + 116'444'736'000'000'000);
    FILETIME written{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
    EXPECT_TRUE(::SetFileTime(file, nullptr, nullptr, &written)) << ::GetLastError();
    ::CloseHandle(file);
#else
    ::utimensat(AT_FDCWD, path.c_str(), nullptr, 0);
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    const timespec times[2] = {info.st_atim,
                               {static_cast<time_t>(mtime_ns / 1'000'000'000),
                                static_cast<long>(mtime_ns % 1'000'000'000)}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
#endif
  }

  fs::path m_folder;
};

template <class Row>
std::string RowName(const testing::TestParamInfo<Row>& info) {
  return info.param.name;
}

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

TEST_F(AtomicFile, StreamedReplaceWritesThePiecesInOrderAndLeavesNoOtherFile) {
  const fs::path path = Write("all.vcf", "old content");
  OpenedFile read;
  ASSERT_TRUE(read.Open(path).Ok());
  StreamedReplace replace(path, {read.Stamp(), read.SettledChange(), ContentHash("old content")},
                          &read.Held());
  ASSERT_TRUE(replace.Begin().Ok());
  EXPECT_TRUE(replace.Append("new "));
  EXPECT_TRUE(replace.Append("content"));
  const Status committed = replace.Commit();
  EXPECT_TRUE(committed.Ok()) << committed.Message();
  EXPECT_EQ(Contents(path), "new content");
  EXPECT_THAT(Names(), ElementsAre("all.vcf"));
}

TEST_F(AtomicFile, StreamedReplaceDroppedBeforeItsCommitLeavesTheFileAsItWas) {
  const fs::path path = Write("all.vcf", "old content");
  OpenedFile read;
  ASSERT_TRUE(read.Open(path).Ok());
  {
    StreamedReplace replace(path, {read.Stamp(), read.SettledChange(), std::nullopt}, &read.Held());
    ASSERT_TRUE(replace.Begin().Ok());
    EXPECT_TRUE(replace.Append("half of the new"));
  }
  EXPECT_EQ(Contents(path), "old content");
  EXPECT_THAT(Names(), ElementsAre("all.vcf"));
}

TEST_F(AtomicFile, StreamedReplaceLeavesAFileChangedSinceItWasOpened) {
  const fs::path path = Write("all.vcf", "old content");
  OpenedFile read;
  ASSERT_TRUE(read.Open(path).Ok());
  Write("all.vcf", "their longer content");
  StreamedReplace replace(path, {read.Stamp(), read.SettledChange(), std::nullopt}, &read.Held());
  Status status = replace.Begin();
  if (status.Ok()) {
    EXPECT_TRUE(replace.Append("new content"));
    status = replace.Commit();
  }
  EXPECT_FALSE(status.Ok());
  EXPECT_THAT(status.Reason(), HasSubstr("another program changed it"));
  EXPECT_EQ(Contents(path), "their longer content");
  EXPECT_THAT(Names(), ElementsAre("all.vcf"));
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

#else

class AtomicFileMode : public AtomicFile, public testing::WithParamInterface<fs::perms> {};

TEST_P(AtomicFileMode, KeepsThePermissionBitsOfTheFile) {
  const fs::path path = Write("Ann.vcf", "old");
  fs::permissions(path, GetParam(), fs::perm_options::replace);
  const Status status = WriteFileAtomically(path, "new", Snapshot(path));
  ASSERT_TRUE(status.Ok()) << status.Message();
  EXPECT_EQ(fs::status(path).permissions(), GetParam());
}

INSTANTIATE_TEST_SUITE_P(Modes, AtomicFileMode,
                         testing::Values(fs::perms(0600), fs::perms(0640), fs::perms(0644),
                                         fs::perms(0604), fs::perms(0444), fs::perms(0755)));

TEST_F(AtomicFile, WritesItsTemporaryFileHiddenBesideTheTargetAndNotAsACard) {
  const fs::path path = Write("Ann.vcf", "old");
  const FileStamp stamp = Snapshot(path);
  const int watcher = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watcher, 0);
  ASSERT_GE(::inotify_add_watch(watcher, m_folder.c_str(), IN_CREATE), 0);
  ASSERT_TRUE(WriteFileAtomically(path, "new", stamp).Ok());
  alignas(inotify_event) char buffer[4096];
  const ssize_t got = ::read(watcher, buffer, sizeof buffer);
  ::close(watcher);
  ASSERT_GT(got, 0);
  const auto* event = reinterpret_cast<const inotify_event*>(buffer);
  ASSERT_EQ(got, static_cast<ssize_t>(sizeof(inotify_event) + event->len)) << "one file created";
  EXPECT_THAT(event->name, testing::MatchesRegex("\\.Ann\\.vcf\\..*\\.tmp"));
  EXPECT_TRUE(IsAtomicTempName(event->name)) << event->name;
  EXPECT_THAT(Names(), ElementsAre("Ann.vcf"));
}

TEST_F(AtomicFile, ReplacesTheFileASymbolicLinkNamesAndKeepsTheLink) {
  const fs::path target = Write("Ann.vcf", "old");
  const fs::path link = m_folder / "Link.vcf";
  fs::create_symlink(target, link);
  const Status status = WriteFileAtomically(link, "new", Snapshot(link));
  ASSERT_TRUE(status.Ok()) << status.Message();
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(Contents(target), "new");
}

// Plays another program that writes the card at one moment of a save.
constexpr char kChangedWhileSaving[] = "another program changed it while it was being saved";
constexpr char kOpenForWriting[] = "another program has it open for writing";

struct RaceRow {
  const char* name;
  bool after_replace;  // else between the last check and the replace
  bool no_exchange;    // the file system cannot swap names
  // What the other program does, given the card's path and a descriptor it opened for writing
  // before the save began (-1 unless `holds`).
  void (*edit)(const fs::path& path, int held);
  bool holds;
  const char* refusal;  // nullptr: the save goes through
};

void PrintTo(const RaceRow& row, std::ostream* out) {
  *out << row.name;
}

void WriteInPlace(const fs::path& path, int) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << "theirs";
}

void WriteByRename(const fs::path& path, int) {
  const fs::path temp = path.parent_path() / ".their-edit";
  std::ofstream(temp, std::ios::binary) << "theirs";
  fs::rename(temp, path);
}

// An editor that opened the card before the save and writes through that descriptor.
void WriteThroughHeldDescriptor(const fs::path&, int held) {
  ASSERT_EQ(::ftruncate(held, 0), 0);
  ASSERT_EQ(::pwrite(held, "theirs", 6, 0), 6);
}

class AtomicFileRace : public AtomicFile, public testing::WithParamInterface<RaceRow> {
 public:
  void TearDown() override {
    SaveSeamsForTesting() = SaveSeams{};
    AtomicFile::TearDown();
  }
};

TEST_P(AtomicFileRace, KeepsTheEditOfAnotherProgramMadeAroundTheReplace) {
  const RaceRow& row = GetParam();
  const fs::path path = Write("Ann.vcf", "BEGIN:VCARD old");
  FileSnapshot read = ReadFileSnapshot(path, kLimit);
  ASSERT_TRUE(read.status.Ok()) << read.status.Message();
  const int held = row.holds ? ::open(path.c_str(), O_WRONLY | O_CLOEXEC) : -1;
  ASSERT_TRUE(!row.holds || held >= 0);
  SaveSeams& seams = SaveSeamsForTesting();
  seams.no_exchange = row.no_exchange;
  bool edited = false;
  (row.after_replace ? seams.after_replace : seams.before_replace) = [&] {
    row.edit(path, held);
    edited = true;
  };
  const Status status = WriteFileAtomically(path, "ours", read.stamp, read.bytes, &read.file);
  // A save that stopped before the moment of the edit leaves the editor to write afterwards.
  if (!edited) row.edit(path, held);
  if (held >= 0) ::close(held);
  if (row.refusal == nullptr) {
    EXPECT_TRUE(status.Ok()) << status.Message();
  } else {
    EXPECT_EQ(status.Reason(), row.refusal);
  }
  EXPECT_EQ(Contents(path), "theirs");
  EXPECT_THAT(Names(), ElementsAre("Ann.vcf"));
}

INSTANTIATE_TEST_SUITE_P(
    Edits, AtomicFileRace,
    testing::Values(
        RaceRow{"InPlaceBeforeTheReplace", false, false, WriteInPlace, false, kChangedWhileSaving},
        RaceRow{"ByRenameBeforeTheReplace", false, false, WriteByRename, false,
                kChangedWhileSaving},
        RaceRow{"ThroughAnOpenDescriptorBeforeTheReplace", false, false, WriteThroughHeldDescriptor,
                true, kOpenForWriting},
        RaceRow{"ThroughAnOpenDescriptorJustAfterTheReplace", true, false,
                WriteThroughHeldDescriptor, true, kOpenForWriting},
        RaceRow{"ThroughAnOpenDescriptorWithoutExchange", true, true, WriteThroughHeldDescriptor,
                true, kOpenForWriting},
        RaceRow{"InPlaceJustAfterTheReplace", true, false, WriteInPlace, false, nullptr},
        RaceRow{"ByRenameJustAfterTheReplace", true, false, WriteByRename, false, nullptr},
        RaceRow{"InPlaceBeforeARenameWithoutExchange", false, true, WriteInPlace, false,
                kChangedWhileSaving},
        RaceRow{"ByRenameBeforeARenameWithoutExchange", false, true, WriteByRename, false,
                kChangedWhileSaving}),
    RowName<RaceRow>);

// Waits until process `pid` sleeps in the kernel waiting for a lease to be let go.
bool WaitsForLease(pid_t pid) {
  for (int tries = 0; tries < 5000; ++tries) {
    std::ifstream wchan("/proc/" + std::to_string(pid) + "/wchan");
    std::string where;
    std::getline(wchan, where);
    if (where.find("lease") != std::string::npos) return true;
    ::usleep(1000);
  }
  return false;
}

// An editor that found the old file by its name just before the swap and opens it for writing
// during it: its open waits on the lease, the save sees that and puts the old file back, and the
// editor's write lands in the card.
TEST_F(AtomicFile, PutsTheOldFileBackForAnEditorOpeningItDuringTheSwap) {
  const fs::path path = Write("Ann.vcf", "BEGIN:VCARD old");
  FileSnapshot read = ReadFileSnapshot(path, kLimit);
  ASSERT_TRUE(read.status.Ok()) << read.status.Message();
  pid_t editor = -1;
  bool waited = false;
  SaveSeamsForTesting().after_replace = [&] {
    // The old file now has the temporary name: the editor opens it there, as if by the name it
    // had a moment ago.
    fs::path old_file;
    for (const auto& entry : fs::directory_iterator(m_folder)) {
      if (IsAtomicTempName(Utf8FromPath(entry.path().filename()))) old_file = entry.path();
    }
    editor = ::fork();
    if (editor == 0) {
      const int fd = ::open(old_file.c_str(), O_WRONLY | O_TRUNC);
      const bool wrote = fd >= 0 && ::write(fd, "theirs", 6) == 6;
      ::_exit(wrote ? 0 : 1);
    }
    waited = WaitsForLease(editor);
  };
  const Status status = WriteFileAtomically(path, "ours", read.stamp, read.bytes, &read.file);
  SaveSeamsForTesting() = SaveSeams{};
  ASSERT_GT(editor, 0);
  int editor_status = 0;
  ASSERT_EQ(::waitpid(editor, &editor_status, 0), editor);
  ASSERT_TRUE(waited) << "the editor never waited on the lease";
  EXPECT_EQ(status.Reason(), kChangedWhileSaving);
  EXPECT_TRUE(WIFEXITED(editor_status) && WEXITSTATUS(editor_status) == 0);
  EXPECT_EQ(Contents(path), "theirs");
  EXPECT_THAT(Names(), ElementsAre("Ann.vcf"));
}

TEST_F(AtomicFile, SavesThroughAPlainRenameWhereNamesCannotBeSwapped) {
  const fs::path path = Write("Ann.vcf", "old");
  FileSnapshot read = ReadFileSnapshot(path, kLimit);
  SaveSeamsForTesting().no_exchange = true;
  const Status status = WriteFileAtomically(path, "new", read.stamp, read.bytes, &read.file);
  SaveSeamsForTesting() = SaveSeams{};
  ASSERT_TRUE(status.Ok()) << status.Message();
  EXPECT_EQ(Contents(path), "new");
  EXPECT_THAT(Names(), ElementsAre("Ann.vcf"));
}

TEST_F(AtomicFile, LeavesAFileWithAnotherHardLinkAndSaysWhy) {
  const fs::path path = Write("Ann.vcf", "old");
  fs::create_hard_link(path, m_folder / "Other.vcf");
  const Status status = WriteFileAtomically(path, "new", Snapshot(path), "old");
  EXPECT_EQ(status.Reason(), "it has another hard link, which a replace would break");
  EXPECT_EQ(Contents(path), "old");
  EXPECT_EQ(Contents(m_folder / "Other.vcf"), "old");
  EXPECT_EQ(fs::hard_link_count(path), 2u);
  EXPECT_THAT(Names(), ElementsAre("Ann.vcf", "Other.vcf"));
}

// An access ACL as the kernel stores it: a version, then {tag, permissions, id} entries in order.
std::string AccessAcl(std::initializer_list<std::array<std::uint32_t, 3> > entries) {
  std::string acl;
  const auto put = [&acl](std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) acl += static_cast<char>((value >> (8 * i)) & 0xFF);
  };
  put(2, 4);
  for (const auto& [tag, permissions, id] : entries) {
    put(tag, 2);
    put(permissions, 2);
    put(id, 4);
  }
  return acl;
}

constexpr std::uint32_t kUserObj = 0x01, kUser = 0x02, kGroupObj = 0x04, kMask = 0x10,
                        kOther = 0x20, kNoId = 0xFFFFFFFF;

std::string Attribute(const fs::path& path, const char* name) {
  char value[256];
  const ssize_t got = ::getxattr(path.c_str(), name, value, sizeof value);
  return got < 0 ? std::string("(none: ") + std::strerror(errno) + ")" : std::string(value, got);
}

TEST_F(AtomicFile, KeepsTheExtendedAttributesAndTheAclOfTheFile) {
  const fs::path path = Write("Ann.vcf", "old");
  if (::setxattr(path.c_str(), "user.dialmend.colour", "blue", 4, 0) != 0) {
    GTEST_SKIP() << "this file system refuses user attributes: " << std::strerror(errno);
  }
  // The owner reads and writes, the group reads, user 65534 reads and writes (so the mask is rw).
  const std::string acl = AccessAcl({{kUserObj, 6, kNoId},
                                     {kUser, 6, 65534},
                                     {kGroupObj, 4, kNoId},
                                     {kMask, 6, kNoId},
                                     {kOther, 0, kNoId}});
  ASSERT_EQ(::setxattr(path.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0), 0)
      << std::strerror(errno);
  const fs::perms mode = fs::status(path).permissions();
  const Status status = WriteFileAtomically(path, "new", Snapshot(path), "old");
  ASSERT_TRUE(status.Ok()) << status.Message();
  EXPECT_EQ(Contents(path), "new");
  EXPECT_EQ(Attribute(path, "user.dialmend.colour"), "blue");
  EXPECT_EQ(Attribute(path, "system.posix_acl_access"), acl);
  EXPECT_EQ(fs::status(path).permissions(), mode);
}

TEST_F(AtomicFile, GivesTheNewFileNoAclTheOldOneLacked) {
  const fs::path path = Write("Ann.vcf", "old");
  // The folder's default ACL would hand the temporary file an ACL of its own.
  const std::string acl = AccessAcl({{kUserObj, 7, kNoId},
                                     {kUser, 7, 65534},
                                     {kGroupObj, 5, kNoId},
                                     {kMask, 7, kNoId},
                                     {kOther, 5, kNoId}});
  if (::setxattr(m_folder.c_str(), "system.posix_acl_default", acl.data(), acl.size(), 0) != 0) {
    GTEST_SKIP() << "this file system refuses ACLs: " << std::strerror(errno);
  }
  fs::permissions(path, fs::perms(0600), fs::perm_options::replace);
  const Status status = WriteFileAtomically(path, "new", Snapshot(path), "old");
  ASSERT_TRUE(status.Ok()) << status.Message();
  EXPECT_EQ(::getxattr(path.c_str(), "system.posix_acl_access", nullptr, 0), -1);
  EXPECT_EQ(fs::status(path).permissions(), fs::perms(0600));
}

TEST_F(AtomicFile, RootKeepsTheOwnerGroupAndSetIdBitsOfAnotherUsersFile) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root may give a file to another user";
  const fs::path path = Write("Ann.vcf", "old");
  ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
  ASSERT_EQ(::chmod(path.c_str(), 06755), 0);
  const Status status = WriteFileAtomically(path, "new", Snapshot(path), "old");
  ASSERT_TRUE(status.Ok()) << status.Message();
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_uid, 65534u);
  EXPECT_EQ(info.st_gid, 65534u);
  EXPECT_EQ(info.st_mode & 07777, 06755u);
  EXPECT_EQ(Contents(path), "new");
}

// A card an ordinary user (65534) saves: who owns it, its mode, and what is left unsaved.
struct UserRow {
  const char* name;
  uid_t owner;
  gid_t group;
  mode_t mode;
  const char* attribute;  // set by root before the save; may be null
  const char* reason;     // empty: saved
};

void PrintTo(const UserRow& row, std::ostream* out) {
  *out << row.name;
}

class AtomicFileUser : public AtomicFile, public testing::WithParamInterface<UserRow> {};

TEST_P(AtomicFileUser, LeavesWhatTheUserMayNotRewriteAndSaysWhy) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to set up another user's files";
  const UserRow& row = GetParam();
  ASSERT_EQ(::chown(m_folder.c_str(), 65534, 65534), 0);
  const fs::path path = Write("Ann.vcf", "old");
  ASSERT_EQ(::chown(path.c_str(), row.owner, row.group), 0);
  ASSERT_EQ(::chmod(path.c_str(), row.mode), 0);
  if (row.attribute != nullptr) {
    ASSERT_EQ(::setxattr(path.c_str(), row.attribute, "x", 1, 0), 0) << std::strerror(errno);
  }
  int report[2];
  ASSERT_EQ(::pipe(report), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(report[0]);
    std::string reason = "could not become user 65534";
    if (::setgroups(0, nullptr) == 0 && ::setresgid(65534, 65534, 65534) == 0 &&
        ::setresuid(65534, 65534, 65534) == 0) {
      const FileSnapshot read = ReadFileSnapshot(path, kLimit);
      const Status status =
          read.status.Ok() ? WriteFileAtomically(path, "new", read.stamp, read.bytes, &read.file)
                           : read.status;
      reason = status.Reason();
    }
    (void)!::write(report[1], reason.data(), reason.size());
    ::_exit(0);
  }
  ::close(report[1]);
  std::string reason;
  char buffer[512];
  for (ssize_t got; (got = ::read(report[0], buffer, sizeof buffer)) > 0;)
    reason.append(buffer, got);
  ::close(report[0]);
  ASSERT_EQ(::waitpid(child, nullptr, 0), child);
  EXPECT_EQ(reason, row.reason);
  EXPECT_EQ(Contents(path), *row.reason == '\0' ? "new" : "old");
  EXPECT_THAT(Names(), ElementsAre("Ann.vcf"));
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_uid, row.owner);
  EXPECT_EQ(info.st_gid, row.group);
  EXPECT_EQ(info.st_mode & 07777, row.mode);
}

INSTANTIATE_TEST_SUITE_P(
    Cards, AtomicFileUser,
    testing::Values(
        UserRow{"OwnCard", 65534, 65534, 0640, nullptr, ""},
        UserRow{"OwnSetGroupIdCard", 65534, 65534, 02750, nullptr, ""},
        UserRow{"ReadOnly", 65534, 65534, 0444, nullptr, "it is read-only"},
        UserRow{"OwnedByRoot", 0, 0, 0666, nullptr, "it is owned by another user"},
        UserRow{"InAGroupTheUserIsNotIn", 65534, 0, 0664, nullptr, "its group could not be kept"},
        UserRow{"WithAnAttributeOnlyAnAdministratorMaySet", 65534, 65534, 0644, "security.dialmend",
                "its extended attributes could not be copied: security.dialmend: operation not "
                "permitted"}),
    RowName<UserRow>);

TEST_F(AtomicFile, AWriteKilledMidwayLeavesTheOldFileOrTheNewOneWhole) {
  const std::string old_bytes = "BEGIN:VCARD\r\nTEL:0171 930 8890\r\nEND:VCARD\r\n";
  const std::string new_bytes(64 << 20, 'n');  // large, so the kill lands inside the write
  for (const int delay_us : {0, 2000, 20000}) {
    const fs::path path = Write("Killed.vcf", old_bytes);
    const FileStamp stamp = Snapshot(path);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      (void)WriteFileAtomically(path, new_bytes, stamp);
      ::_exit(0);
    }
    ::usleep(static_cast<useconds_t>(delay_us));
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    const std::string now = Contents(path);
    EXPECT_TRUE(now == old_bytes || now == new_bytes)
        << "killed after " << delay_us << " us: " << now.size() << " bytes";
  }
}

#endif

}  // namespace
}  // namespace dialmend
