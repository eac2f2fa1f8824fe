#include "ui/log_store.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/reason.h"

namespace dialmend {
namespace {

std::string Reason(int error) {
  return ErrorText(std::error_code(error, std::generic_category()));
}

// An unlinked file in `folder`, or -1 with errno set.
int OpenUnlinked(const std::string& folder) {
  int fd = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) return fd;
  // A file system without O_TMPFILE: a named file, unlinked at once.
  std::string path = folder + "/dialmend-log-XXXXXX";
  fd = mkostemp(path.data(), O_CLOEXEC);
  if (fd >= 0 && unlink(path.c_str()) != 0) {
    const int error = errno;
    close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

// $TMPDIR when set; else /var/tmp before /tmp, because /tmp is often memory and the file
// is there to keep the text out of memory.
int OpenTemporary(std::string& problem) {
  std::vector<std::string> folders;
  if (const char* tmpdir = std::getenv("TMPDIR"); tmpdir != nullptr && *tmpdir != '\0') {
    folders.emplace_back(tmpdir);
  }
  folders.emplace_back("/var/tmp");
  folders.emplace_back("/tmp");
  for (const std::string& folder : folders) {
    const int fd = OpenUnlinked(folder);
    if (fd >= 0) return fd;
    if (problem.empty()) {
      problem = "Cannot keep the log pane's text in a temporary file in \"" + folder +
                "\": " + Reason(errno) + "; the pane keeps it in memory.";
    }
  }
  return -1;
}

// Appends the part of `line` (as kept, CR included) from shown byte `begin` to shown byte `end`,
// shown bytes being those that are not CR.
void AppendShown(std::string_view line, std::size_t begin, std::size_t end, std::string& out) {
  std::size_t shown = 0;
  for (const char c : line) {
    if (c == '\r') continue;
    if (shown >= end) return;
    if (shown >= begin) out.push_back(c);
    ++shown;
  }
}

}  // namespace

LogStore::~LogStore() {
  if (m_fd >= 0) close(m_fd);
}

void LogStore::Append(std::string_view text) {
  if (text.empty()) return;
  if (!m_tried_file) {
    m_tried_file = true;
    std::string problem;
    m_fd = OpenTemporary(problem);
    if (m_fd < 0 && m_problem.empty()) m_problem = problem;
  }
  if (m_fd >= 0) {
    std::size_t done = 0;
    while (done < text.size()) {
      const ssize_t wrote =
          pwrite(m_fd, text.data() + done, text.size() - done, static_cast<off_t>(m_size + done));
      if (wrote < 0 && errno == EINTR) continue;
      if (wrote <= 0) {
        MoveIntoMemory(wrote < 0 ? Reason(errno) : "the file system took nothing more");
        break;
      }
      done += static_cast<std::size_t>(wrote);
    }
  }
  if (m_fd < 0) m_memory.append(text);

  const int first_changed = m_line_count == 0 ? 0 : (m_line_count - 1) / kLinesPerBlock;
  if (m_line_count == 0) {
    m_line_count = 1;
    m_block_starts.push_back(0);
  }
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\n') {
      m_widest = std::max(m_widest, m_last_line_chars);
      m_last_line_chars = 0;
      if (m_line_count % kLinesPerBlock == 0) m_block_starts.push_back(m_size + i + 1);
      ++m_line_count;
    } else if (c != '\r' && (static_cast<unsigned char>(c) & 0xC0) != 0x80) {
      ++m_last_line_chars;  // UTF-8 continuation bytes add no character
    }
  }
  m_size += text.size();
  for (CachedBlock& cached : m_cache) {
    if (cached.block >= first_changed) cached = CachedBlock{};
  }
}

void LogStore::Clear() {
  if (m_fd >= 0 && ftruncate(m_fd, 0) != 0 && m_problem.empty()) {
    m_problem = "Cannot empty the log pane's temporary file: " + Reason(errno) + ".";
  }
  std::string().swap(m_memory);
  std::vector<std::size_t>().swap(m_block_starts);
  m_size = 0;
  m_line_count = 0;
  m_widest = 0;
  m_last_line_chars = 0;
  m_cache = {};
}

std::string LogStore::Line(int index) const {
  return Block(index / kLinesPerBlock)[index % kLinesPerBlock];
}

std::string LogStore::Shown(int from_line, int from_byte, int to_line, int to_byte) const {
  std::string out;
  const auto from = static_cast<std::size_t>(from_byte);
  const auto to = static_cast<std::size_t>(to_byte);
  std::string raw;
  for (int block = from_line / kLinesPerBlock; block <= to_line / kLinesPerBlock; ++block) {
    const std::size_t begin = m_block_starts[block];
    const std::size_t end =
        block + 1 < static_cast<int>(m_block_starts.size()) ? m_block_starts[block + 1] : m_size;
    raw = Read(begin, end - begin);
    std::string_view rest = raw;
    const int last = std::min(to_line, (block + 1) * kLinesPerBlock - 1);
    for (int line = block * kLinesPerBlock; line <= last; ++line) {
      const std::size_t lf = rest.find('\n');
      const std::string_view bytes = rest.substr(0, lf);
      rest.remove_prefix(lf == std::string_view::npos ? rest.size() : lf + 1);
      if (line < from_line) continue;
      if (line > from_line) out.push_back('\n');
      AppendShown(bytes, line == from_line ? from : 0,
                  line == to_line ? to : std::string_view::npos, out);
    }
  }
  return out;
}

std::string LogStore::Text() const {
  return Read(0, m_size);
}

std::string LogStore::TakeProblem() {
  return std::exchange(m_problem, std::string());
}

std::string LogStore::Read(std::size_t offset, std::size_t length) const {
  if (m_fd < 0) return m_memory.substr(offset, length);
  std::string bytes(length, '\0');
  std::size_t done = 0;
  while (done < length) {
    const ssize_t got =
        pread(m_fd, bytes.data() + done, length - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      if (m_problem.empty()) {
        m_problem = "Cannot read the log pane's text back from its temporary file: " +
                    (got < 0 ? Reason(errno) : std::string("it is shorter than written")) + ".";
      }
      bytes.resize(done);
      break;
    }
    done += static_cast<std::size_t>(got);
  }
  return bytes;
}

const std::vector<std::string>& LogStore::Block(int block) const {
  for (const CachedBlock& cached : m_cache) {
    if (cached.block == block) return cached.lines;
  }
  CachedBlock& slot = m_cache[m_next_slot];
  m_next_slot = (m_next_slot + 1) % m_cache.size();
  slot.block = block;
  slot.lines.clear();
  const int count = std::min(kLinesPerBlock, m_line_count - block * kLinesPerBlock);
  const std::size_t begin = m_block_starts[block];
  const std::size_t end =
      block + 1 < static_cast<int>(m_block_starts.size()) ? m_block_starts[block + 1] : m_size;
  const std::string raw = Read(begin, end - begin);
  std::string_view rest = raw;
  for (int i = 0; i < count; ++i) {
    const std::size_t lf = rest.find('\n');
    std::string& line = slot.lines.emplace_back();
    AppendShown(rest.substr(0, lf), 0, std::string_view::npos, line);
    rest.remove_prefix(lf == std::string_view::npos ? rest.size() : lf + 1);
  }
  return slot.lines;
}

void LogStore::MoveIntoMemory(std::string reason) {
  m_memory = Read(0, m_size);
  close(m_fd);
  m_fd = -1;
  if (m_problem.empty()) {
    m_problem = "Cannot keep the log pane's text in its temporary file: " + reason +
                "; the pane keeps it in memory.";
  }
}

}  // namespace dialmend
