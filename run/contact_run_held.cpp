#include "run/contact_run.h"

#include <cstdio>
#include <utility>

// The contacts whose saves wait for the folder's Flush(), with their reports, most of them in a
// temporary file.

namespace dialmend {
namespace {

// How many held contacts stay in memory before they go to the temporary file.
constexpr std::size_t kHeldInMemory = 4096;

// The fixed part of a held contact in the temporary file; its texts follow it.
struct SpilledHead {
  std::uint64_t save = 0;
  std::int64_t numbers = 0;
  std::uint64_t where_size = 0;
  std::uint64_t report_size = 0;
  std::uint64_t kept_size = 0;
  std::uint64_t records_size = 0;
  bool has_save = false;
};

}  // namespace

void ContactRun::HeldContacts::push_back(HeldContact contact) {
  m_recent.push_back(std::move(contact));
  if (m_recent.size() >= kHeldInMemory && !m_spill_failed) Spill();
}

void ContactRun::HeldContacts::Spill() {
  // Without a temporary file the reports simply stay in memory.
  if (!m_spill) m_spill.reset(std::tmpfile());
  if (!m_spill || std::fseek(m_spill.get(), m_end, SEEK_SET) != 0) {
    m_spill_failed = true;
    return;
  }
  for (const HeldContact& contact : m_recent) {
    const SpilledHead head{contact.save.value_or(0), contact.numbers,     contact.where.size(),
                           contact.report.size(),    contact.kept.size(), contact.records.size(),
                           contact.save.has_value()};
    const auto put = [this](const std::string& text) {
      return std::fwrite(text.data(), 1, text.size(), m_spill.get()) == text.size();
    };
    if (std::fwrite(&head, sizeof head, 1, m_spill.get()) != 1 || !put(contact.where) ||
        !put(contact.report) || !put(contact.kept) || !put(contact.records)) {
      // The contacts after the last whole batch stay in memory.
      m_spill_failed = true;
      return;
    }
  }
  const long end = std::ftell(m_spill.get());
  if (std::fflush(m_spill.get()) != 0 || end < 0) {
    m_spill_failed = true;
    return;
  }
  m_end = end;
  m_count += m_recent.size();
  m_recent.clear();
}

std::size_t ContactRun::HeldContacts::ForEach(const std::function<void(HeldContact&)>& settle) {
  std::size_t unread = 0;
  if (m_count != 0 && std::fseek(m_spill.get(), 0, SEEK_SET) != 0) unread = m_count;
  for (std::size_t i = 0; i < m_count && unread == 0; ++i) {
    SpilledHead head;
    HeldContact contact;
    const auto get = [this](std::string& text, std::uint64_t size) {
      text.resize(size);
      return std::fread(text.data(), 1, size, m_spill.get()) == size;
    };
    const bool read = std::fread(&head, sizeof head, 1, m_spill.get()) == 1 &&
                      get(contact.where, head.where_size) &&
                      get(contact.report, head.report_size) && get(contact.kept, head.kept_size) &&
                      get(contact.records, head.records_size);
    if (!read) {
      unread = m_count - i;
      break;
    }
    if (head.has_save) contact.save = head.save;
    contact.numbers = head.numbers;
    settle(contact);
  }
  for (HeldContact& contact : m_recent) settle(contact);
  return unread;
}

}  // namespace dialmend
