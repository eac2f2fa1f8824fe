#include "stores/vcard_folder/display_name.h"

#include <cstddef>

#include "platform/file_start.h"

namespace dialmend {
namespace {

// The first line of a folder's `displayname` is its name; more than this is not a name, and
// reading no further keeps a huge or endless file from costing memory.
constexpr std::size_t kMaxDisplayNameBytes = 4096;

}  // namespace

Result<std::string> ReadDisplayName(const std::string& folder) {
  Result<FileStart> start = ReadFileStart(folder + "/displayname", kMaxDisplayNameBytes);
  if (!start.Ok()) return Result<std::string>::Failure(start.Message());
  std::string& bytes = start.Value().bytes;
  const std::size_t end = bytes.find('\n');
  if (end == std::string::npos && start.Value().more) {
    return Result<std::string>::Failure("its first line is longer than 4 KiB");
  }
  if (end != std::string::npos) bytes.resize(end);
  return std::move(bytes);
}

}  // namespace dialmend
