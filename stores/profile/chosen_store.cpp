#include "stores/profile/chosen_store.h"

#include <iterator>
#include <utility>

namespace dialmend {
namespace {

class ChosenStore : public ContactStore {
 public:
  ChosenStore(std::unique_ptr<ContactStore> inner, StoreExtras extras)
      : m_inner(std::move(inner)), m_extras(std::move(extras)) {}

  void SetWriting(bool writing) override {
    m_writing = writing;
    m_inner->SetWriting(writing);
  }
  Status Open() override { return m_inner->Open(); }
  std::string CurrentUser() override { return m_inner->CurrentUser(); }
  std::string Found() override { return m_extras.found; }
  std::unique_ptr<FolderCursor> Folders() override { return m_inner->Folders(); }
  std::optional<std::int64_t> CountContacts() override { return m_inner->CountContacts(); }
  StoreIdentity Identity() override { return m_inner->Identity(); }
  std::unique_ptr<Folder> FindContacts(std::vector<ContactIdentity> identities) override {
    return m_inner->FindContacts(std::move(identities));
  }
  std::unique_ptr<Folder> FindContactsAsRead(std::unique_ptr<IdentityCursor> identities) override {
    return m_inner->FindContactsAsRead(std::move(identities));
  }

  std::vector<StoreNote> TakeNotes() override {
    std::vector<StoreNote> notes = m_inner->TakeNotes();
    if (m_writing && m_extras.after_update) {
      std::vector<StoreNote> after = m_extras.after_update();
      std::move(after.begin(), after.end(), std::back_inserter(notes));
    }
    return notes;
  }

 private:
  std::unique_ptr<ContactStore> m_inner;
  StoreExtras m_extras;
  bool m_writing = false;
};

}  // namespace

std::unique_ptr<ContactStore> WithExtras(std::unique_ptr<ContactStore> inner, StoreExtras extras) {
  return std::make_unique<ChosenStore>(std::move(inner), std::move(extras));
}

}  // namespace dialmend
