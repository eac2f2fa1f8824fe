#include "platform/secret_text.h"

#include <fcntl.h>
#include <malloc.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>

#include "platform/file_descriptor.h"

namespace dialmend {
namespace {

// How many secrets are held, and whether the process was dumpable before the first.
std::mutex g_held_lock;
std::size_t g_held = 0;
int g_dumpable_before = 1;

void Hold() {
  const std::lock_guard lock(g_held_lock);
  if (g_held++ > 0) return;
  g_dumpable_before = ::prctl(PR_GET_DUMPABLE, 0, 0, 0, 0);
  ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}

void LetGo() {
  const std::lock_guard lock(g_held_lock);
  if (--g_held > 0) return;
  if (g_dumpable_before >= 0) ::prctl(PR_SET_DUMPABLE, g_dumpable_before, 0, 0, 0);
}

std::size_t PageRounded(std::size_t size) {
  const long page = ::sysconf(_SC_PAGESIZE);
  const std::size_t unit = page > 0 ? static_cast<std::size_t>(page) : 4096;
  return (size + unit - 1) / unit * unit;
}

}  // namespace

SecretText SecretText::WithRoom(std::size_t size) {
  SecretText secret;
  const std::size_t mapped = PageRounded(size + 1);
  void* memory =
      ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) return secret;
  // Out of core dumps and out of swap; a refused lock (a low RLIMIT_MEMLOCK) still leaves the
  // dump excluded.
  ::madvise(memory, mapped, MADV_DONTDUMP);
  ::mlock(memory, mapped);
  Hold();
  secret.m_data = static_cast<char*>(memory);
  secret.m_mapped = mapped;
  secret.m_size = size;
  return secret;
}

SecretText::SecretText(std::string_view text) : SecretText(WithRoom(text.size())) {
  if (m_data == nullptr) {
    m_size = 0;
    return;
  }
  std::memcpy(m_data, text.data(), text.size());
}

SecretText::~SecretText() {
  Release();
}

SecretText::SecretText(SecretText&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)),
      m_size(std::exchange(other.m_size, 0)),
      m_mapped(std::exchange(other.m_mapped, 0)) {}

SecretText& SecretText::operator=(SecretText&& other) noexcept {
  if (this != &other) {
    Release();
    m_data = std::exchange(other.m_data, nullptr);
    m_size = std::exchange(other.m_size, 0);
    m_mapped = std::exchange(other.m_mapped, 0);
  }
  return *this;
}

void SecretText::Shorten(std::size_t size) {
  if (size >= m_size) return;
  ::explicit_bzero(m_data + size, m_size - size);
  m_size = size;
}

void SecretText::Release() {
  if (m_data == nullptr) return;
  ::explicit_bzero(m_data, m_mapped);
  ::munlock(m_data, m_mapped);
  ::munmap(m_data, m_mapped);
  m_data = nullptr;
  m_size = 0;
  m_mapped = 0;
  LetGo();
}

void Wipe(std::string& text) {
  text.resize(text.capacity());
  ::explicit_bzero(text.data(), text.size());
  text.clear();
}

Result<SecretText> ReadSecretFile(const std::string& path, std::size_t most) {
  using Read = Result<SecretText>;
  Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
  if (fd.Get() < 0) return errno == ENOENT ? Read(SecretText()) : Read::Failure(ReasonOf(errno));
  struct stat info {};
  if (::fstat(fd.Get(), &info) != 0) return Read::Failure(ReasonOf(errno));
  if (!S_ISREG(info.st_mode)) return Read::Failure("it is not a regular file");
  if (static_cast<std::size_t>(info.st_size) > most) {
    return Read::Failure("it is larger than " + std::to_string(most) + " bytes");
  }
  SecretText text = SecretText::WithRoom(static_cast<std::size_t>(info.st_size));
  if (text.Data() == nullptr) return Read::Failure("there is no memory to read it into");
  std::size_t got = 0;
  while (got < text.Size()) {
    const ssize_t n = ::read(fd.Get(), text.Data() + got, text.Size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Read::Failure(ReasonOf(errno));
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  text.Shorten(got);
  return text;
}

void* WipingRealloc(void* block, std::size_t size) {
  if (block == nullptr) return std::malloc(size);
  if (size == 0) {
    WipingFree(block);
    return nullptr;
  }
  // A block realloc() moved would leave its old bytes behind: move it here instead.
  const std::size_t had = ::malloc_usable_size(block);
  if (size <= had) return block;
  void* moved = std::malloc(size);
  if (moved == nullptr) return nullptr;
  std::memcpy(moved, block, had);
  WipingFree(block);
  return moved;
}

void WipingFree(void* block) {
  if (block == nullptr) return;
  ::explicit_bzero(block, ::malloc_usable_size(block));
  std::free(block);
}

}  // namespace dialmend
