#include "stores/thunderbird/book_database.h"

#include <ctime>
#include <utility>

namespace dialmend {

BookDatabase::BookDatabase(std::string path, std::string file_name, bool writable,
                           std::shared_ptr<std::uint64_t> saves)
    : m_path(std::move(path)),
      m_file_name(std::move(file_name)),
      m_writable(writable),
      m_saves(std::move(saves)) {}

template <class Work>
auto BookDatabase::Guarded(Work work) {
  try {
    Open();
    return work(*m_db);
  } catch (const SqliteError& error) {
    throw StoreError(m_file_name, error.what());
  }
}

void BookDatabase::SetWritable(bool writable) {
  if (writable == m_writable) return;
  m_writable = writable;
  m_db.reset();
}

void BookDatabase::Open() {
  if (m_db) return;
  try {
    auto db = std::make_unique<SqliteDatabase>(
        m_path, m_writable ? SqliteAccess::ReadWrite : SqliteAccess::ReadOnly);
    SqliteStatement version = db->Prepare("PRAGMA user_version");
    const std::int64_t schema = version.Step() ? version.Int(0) : 0;
    if (schema != kAddressBookSchema) {
      throw StoreError(m_file_name, "its database is of version " + std::to_string(schema) +
                                        ", which this store does not know; it is left as it is");
    }
    m_db = std::move(db);
  } catch (const SqliteError& error) {
    throw StoreError(m_file_name, std::string("its database cannot be read: ") + error.what());
  }
}

std::vector<CardRow> BookDatabase::CardsAfter(const std::string& after, std::size_t most) {
  return Guarded([&](SqliteDatabase& db) {
    // "+name" keeps the plan on the card index, in card order: without it SQLite takes the name
    // index and sorts every card for each batch.
    SqliteStatement select = db.Prepare(
        "SELECT card, value, (SELECT d.value FROM properties d WHERE d.card = v.card AND "
        "+d.name = 'DisplayName' LIMIT 1) FROM properties v WHERE v.card > ?1 AND "
        "+v.name = '_vCard' ORDER BY v.card LIMIT ?2");
    select.Bind(1, after);
    select.Bind(2, static_cast<std::int64_t>(most));
    std::vector<CardRow> rows;
    while (select.Step()) {
      rows.push_back(
          {std::string(select.Text(0)), std::string(select.Text(1)), std::string(select.Text(2))});
    }
    return rows;
  });
}

std::vector<ListRow> BookDatabase::Lists() {
  return Guarded([](SqliteDatabase& db) {
    SqliteStatement select = db.Prepare("SELECT uid, name FROM lists ORDER BY uid");
    std::vector<ListRow> rows;
    while (select.Step())
      rows.push_back({std::string(select.Text(0)), std::string(select.Text(1))});
    return rows;
  });
}

std::optional<CardRow> BookDatabase::Card(const std::string& uid) {
  return Guarded([&](SqliteDatabase& db) -> std::optional<CardRow> {
    SqliteStatement select =
        db.Prepare("SELECT value FROM properties WHERE card = ?1 AND +name = '_vCard'");
    select.Bind(1, uid);
    if (!select.Step()) return std::nullopt;
    return CardRow{uid, std::string(select.Text(0)), {}};
  });
}

std::int64_t BookDatabase::CountCards() {
  try {
    // Counting may come before the run says whether it writes: a connection of its own, read-only,
    // so closing it never writes the database.
    SqliteDatabase db(m_path, SqliteAccess::ReadOnly);
    SqliteStatement count = db.Prepare("SELECT count(*) FROM properties WHERE name = '_vCard'");
    return count.Step() ? count.Int(0) : 0;
  } catch (const SqliteError& error) {
    throw StoreError(m_file_name, error.what());
  }
}

std::uint64_t BookDatabase::Hold(std::string uid, std::string old_vcard, std::string new_vcard) {
  const std::uint64_t save = (*m_saves)++;
  m_held.push_back({save, std::move(uid), std::move(old_vcard), std::move(new_vcard)});
  return save;
}

void BookDatabase::WriteHeld(std::vector<Folder::FlushFailure>& failures) {
  SqliteDatabase& db = *m_db;
  SqliteStatement change = db.Prepare(
      "UPDATE properties SET value = ?1 WHERE card = ?2 AND +name = '_vCard' AND value = ?3");
  SqliteStatement stamp =
      db.Prepare("UPDATE properties SET value = ?1 WHERE card = ?2 AND +name = 'LastModifiedDate'");
  SqliteStatement first_stamp =
      db.Prepare("INSERT INTO properties (card, name, value) VALUES (?2, 'LastModifiedDate', ?1)");
  const std::string now = std::to_string(static_cast<std::int64_t>(std::time(nullptr)));
  stamp.Bind(1, now);
  first_stamp.Bind(1, now);
  for (const HeldChange& held : m_held) {
    change.Bind(1, held.new_vcard);
    change.Bind(2, held.uid);
    change.Bind(3, held.old_vcard);
    (void)change.Step();
    change.Reset();
    if (db.Changes() == 0) {
      failures.push_back(
          {{}, "another program changed it since it was read; its change is kept", {held.save}});
      continue;
    }
    stamp.Bind(2, held.uid);
    (void)stamp.Step();
    stamp.Reset();
    if (db.Changes() == 0) {
      first_stamp.Bind(2, held.uid);
      (void)first_stamp.Step();
      first_stamp.Reset();
    }
  }
}

std::vector<Folder::FlushFailure> BookDatabase::Flush() {
  std::vector<Folder::FlushFailure> failures;
  if (m_held.empty()) return failures;
  std::string failed;
  try {
    Open();
    m_db->Execute("BEGIN IMMEDIATE");
    try {
      WriteHeld(failures);
      m_db->Execute("COMMIT");
    } catch (const SqliteError&) {
      try {
        m_db->Execute("ROLLBACK");
      } catch (const SqliteError&) {
        // SQLite has rolled the transaction back itself.
      }
      throw;
    }
  } catch (const StoreError& error) {
    failed = error.Reason();
  } catch (const SqliteError& error) {
    failed = error.what();
  }
  if (!failed.empty()) {
    // Nothing of the transaction stays: every change held fails alike.
    failures = {{m_file_name, std::move(failed), {}}};
    for (const HeldChange& held : m_held) failures.front().saves.push_back(held.save);
  }
  m_held.clear();
  return failures;
}

}  // namespace dialmend
