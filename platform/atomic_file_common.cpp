#include "platform/atomic_file_common.h"

#include <algorithm>
#include <utility>

namespace dialmend {
namespace {

// The length of a name as the writer's kTempNameKeep counts it: bytes, or UTF-16 units on
// Windows, where the name is cut before it becomes UTF-8.
std::size_t KeptLength(std::string_view utf8) {
#ifdef _WIN32
  std::size_t units = 0;
  for (const char c : utf8) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte & 0xC0) != 0x80) ++units;
    // Four bytes make a character outside the basic plane: two UTF-16 units.
    if (byte >= 0xF0) ++units;
  }
  return units;
#else
  return utf8.size();
#endif
}

bool IsLetterOrDigit(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

}  // namespace

bool IsAtomicTempName(std::string_view name) {
  if (name.size() < 1 + kTempMarker.size() + kTempRandomLength + kTempSuffix.size() + 1 ||
      name.front() != '.' || !name.ends_with(kTempSuffix)) {
    return false;
  }
  name.remove_suffix(kTempSuffix.size());
  if (!std::all_of(name.end() - kTempRandomLength, name.end(), IsLetterOrDigit)) return false;
  name.remove_suffix(kTempRandomLength);
  if (!name.ends_with(kTempMarker)) return false;
  name.remove_suffix(kTempMarker.size());
  name.remove_prefix(1);
  return !name.empty() && KeptLength(name) <= kTempNameKeep;
}

LeftoverRemoval RemoveLeftovers(const std::filesystem::path& folder, std::string_view for_name) {
  namespace fs = std::filesystem;
  LeftoverRemoval removal;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const std::string name = PathText(it->path().filename());
    if (!IsAtomicTempName(name)) continue;
    if (!for_name.empty()) {
      const std::string_view kept = std::string_view(name).substr(
          1, name.size() - 1 - kTempMarker.size() - kTempRandomLength - kTempSuffix.size());
      if (kept != for_name && !(KeptLength(kept) == kTempNameKeep && for_name.starts_with(kept))) {
        continue;
      }
    }
    std::error_code type_error;
    if (!it->is_regular_file(type_error) || it->is_symlink(type_error)) continue;
    std::error_code removed;
    fs::remove(it->path(), removed);
    if (!removed) {
      ++removal.removed;
    } else if (removed != std::errc::no_such_file_or_directory) {
      removal.failures.emplace_back(name, ErrorText(removed));
    }
  }
  return removal;
}

Status FileFailure(std::string_view doing, const std::filesystem::path& path, std::string reason) {
  std::string message = std::string(doing) + " \"" + PathText(path) + "\": " + reason + ".";
  return Status::Failure(std::move(message), std::move(reason));
}

std::string SizeText(std::size_t bytes) {
  constexpr std::size_t kMiB = 1024 * 1024;
  if (bytes % kMiB == 0) return std::to_string(bytes / kMiB) + " MiB";
  if (bytes % 1024 == 0) return std::to_string(bytes / 1024) + " KiB";
  return std::to_string(bytes) + " bytes";
}

FileSnapshot ReadOpenFile(OpenFile& file, const std::filesystem::path& path, std::size_t max_bytes,
                          const FileStamp& before) {
  FileSnapshot snapshot;
  const std::string too_large = "it is larger than " + SizeText(max_bytes);
  if (before.size > max_bytes) {
    snapshot.status = FileFailure(kCannotRead, path, too_large);
    return snapshot;
  }
  std::string& bytes = snapshot.bytes;
  bytes.resize(static_cast<std::size_t>(before.size) + 1);
  std::size_t total = 0;
  std::string reason;
  for (;;) {
    if (total == bytes.size()) {
      if (total > max_bytes) break;
      bytes.resize(std::min(bytes.size() * 2 + 4096, max_bytes + 1));
    }
    const std::optional<std::size_t> got =
        file.Read(bytes.data() + total, bytes.size() - total, reason);
    if (!got) {
      snapshot.status = FileFailure(kCannotRead, path, std::move(reason));
      bytes.clear();
      return snapshot;
    }
    if (*got == 0) break;
    total += *got;
  }
  bytes.resize(total);
  if (total > max_bytes) {
    snapshot.status = FileFailure(kCannotRead, path, too_large);
    bytes.clear();
    return snapshot;
  }
  const std::optional<FileStamp> after = file.Stamp(reason);
  if (!after) {
    snapshot.status = FileFailure(kCannotRead, path, std::move(reason));
    bytes.clear();
    return snapshot;
  }
  snapshot.stamp = *after;
  if (before != snapshot.stamp || total != snapshot.stamp.size) {
    snapshot.status =
        FileFailure(kCannotRead, path, "another program changed it while it was being read");
    bytes.clear();
    return snapshot;
  }
  return snapshot;
}

void ContentHasher::Add(std::string_view bytes) {
  // FNV-1a: cards are small, and only a card read in the tick it last changed is hashed again.
  for (const char c : bytes) {
    m_value ^= static_cast<unsigned char>(c);
    m_value *= 1099511628211ull;
  }
}

std::uint64_t ContentHash(std::string_view bytes) {
  ContentHasher hasher;
  hasher.Add(bytes);
  return hasher.Value();
}

Status CheckStillAsRead(const std::filesystem::path& path, const std::filesystem::path& target,
                        const FileStamp& now, const FileStamp& expected, const ContentCheck& check,
                        std::string_view changed_reason) {
  if (now != expected) return FileFailure(kCannotSave, path, std::string(changed_reason));
  // A write within the clock's last tick can keep size and time: the content tells.
  if (check.bytes || check.hash) {
    FileSnapshot current = ReadFileSnapshot(target, static_cast<std::size_t>(expected.size));
    const bool same =
        current.status.Ok() &&
        (check.bytes ? current.bytes == *check.bytes : ContentHash(current.bytes) == *check.hash);
    if (!same) return FileFailure(kCannotSave, path, std::string(changed_reason));
  }
  return Status{};
}

SaveSeams& SaveSeamsForTesting() {
  static SaveSeams seams;
  return seams;
}

Status WriteFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                           const FileStamp& expected,
                           std::optional<std::string_view> expected_content, const HeldFile* read) {
  return WriteAtomically(path, bytes, &expected,
                         ContentCheck{expected_content, std::nullopt, std::nullopt}, read);
}

Status WriteFileAtomically(const std::filesystem::path& path, std::string_view bytes) {
  return WriteAtomically(path, bytes, nullptr, ContentCheck{}, nullptr);
}

SaveBatch::SaveBatch() = default;
SaveBatch::~SaveBatch() = default;
SaveBatch::SaveBatch(SaveBatch&&) noexcept = default;
SaveBatch& SaveBatch::operator=(SaveBatch&&) noexcept = default;

void SaveBatch::Add(std::filesystem::path path, std::string bytes, AsRead as_read, HeldFile read) {
  m_entries.push_back({std::move(path), std::move(bytes), as_read, std::move(read)});
}

}  // namespace dialmend
