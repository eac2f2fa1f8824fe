#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/atomic_file_common.h"
#include "tests/platform/atomic_file_fixture.h"

// What a save keeps of the file on POSIX systems: its mode, links, extended attributes, ACL and
// owner, and the edits other programs make around the replace.

namespace dialmend {
namespace {

namespace fs = std::filesystem;
using testing::ElementsAre;
using testing::HasSubstr;

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

}  // namespace
}  // namespace dialmend
