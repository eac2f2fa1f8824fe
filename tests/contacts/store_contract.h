#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>

#include "contacts/contact_store.h"
#include "tests/fakes/test_folder.h"

// The contract every store passes: the walk relies on nothing else. A test program instantiates
// it for its stores with INSTANTIATE_TYPED_TEST_SUITE_P(Name, StoreContract, Traits).
//
// Each store holds the same profile: Work (Riverside Dental, a group, Acme in Clients below) and
// a calendar folder. Traits gives the store and says where Dental's two numbers stand:
//   std::unique_ptr<ContactStore> Make(const std::filesystem::path& root);
//   ContactStore& Reread(std::unique_ptr<ContactStore>& store, const std::filesystem::path& root);
//   kPhoneCount, kHomeIndex, kMobileIndex: the size of Phones() and the two numbers' places.
//   kOneFolder (optional, false when absent): the store is one folder, Work alone, with no
//   Clients below and no calendar (a file of many cards).

namespace dialmend {

// Traits for the stores that give a contact's numbers alone, in field order.
struct NumbersOnlyTraits {
  static constexpr std::size_t kPhoneCount = 2;
  static constexpr std::size_t kHomeIndex = 0;
  static constexpr std::size_t kMobileIndex = 1;
};

template <class Traits>
constexpr bool IsOneFolder() {
  if constexpr (requires { Traits::kOneFolder; }) {
    return Traits::kOneFolder;
  } else {
    return false;
  }
}

template <class Traits>
class StoreContract : public testing::Test {
 protected:
  void SetUp() override {
    // ctest runs each test in its own process, in parallel: one folder per test.
    m_root = FreshTestFolder("contract");
    m_store = m_traits.Make(m_root);
    ASSERT_TRUE(m_store->Open().Ok());
  }
  ContactStore& Reread() {
    ContactStore& store = m_traits.Reread(m_store, m_root);
    EXPECT_TRUE(store.Open().Ok());
    return store;
  }
  // Riverside Dental, the first item of the first folder.
  static std::unique_ptr<ContactItem> Dental(ContactStore& store) {
    return store.Folders()->Next()->Items()->Next();
  }
  // Riverside Dental with the folder it is in, which writes what it holds when flushed.
  struct HeldDental {
    std::unique_ptr<FolderCursor> folders;
    std::unique_ptr<Folder> folder;
    std::unique_ptr<ItemCursor> items;
    std::unique_ptr<ContactItem> item;
  };
  static HeldDental DentalInFolder(ContactStore& store) {
    HeldDental held;
    held.folders = store.Folders();
    held.folder = held.folders->Next();
    held.items = held.folder->Items();
    held.item = held.items->Next();
    return held;
  }
  Traits m_traits;
  std::filesystem::path m_root;
  std::unique_ptr<ContactStore> m_store;
};

TYPED_TEST_SUITE_P(StoreContract);

TYPED_TEST_P(StoreContract, WalksFoldersAndItemsInOrderOnce) {
  auto folders = this->m_store->Folders();
  auto work = folders->Next();
  ASSERT_NE(work, nullptr);
  EXPECT_EQ(work->Name(), "Work");
  EXPECT_EQ(work->Kind(), FolderKind::Contacts);
  auto items = work->Items();
  auto first = items->Next();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->Kind(), ItemKind::Contact);
  EXPECT_EQ(first->FileAs(), "Riverside Dental");
  auto second = items->Next();
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->Kind(), ItemKind::Group);
  EXPECT_EQ(items->Next(), nullptr);
  EXPECT_EQ(items->Next(), nullptr);

  if constexpr (IsOneFolder<TypeParam>()) {
    EXPECT_EQ(work->Folders()->Next(), nullptr);
    EXPECT_EQ(folders->Next(), nullptr);
    return;
  }
  auto sub = work->Folders()->Next();
  ASSERT_NE(sub, nullptr);
  EXPECT_EQ(sub->Name(), "Clients");
  EXPECT_EQ(sub->Items()->Next()->FileAs(), "Acme");

  auto calendar = folders->Next();
  ASSERT_NE(calendar, nullptr);
  EXPECT_EQ(calendar->Name(), "Calendar");
  EXPECT_EQ(calendar->Kind(), FolderKind::Other);
  EXPECT_EQ(folders->Next(), nullptr);
}

TYPED_TEST_P(StoreContract, GivesPhonesInFieldOrder) {
  const auto phones = this->Dental(*this->m_store)->Phones();
  ASSERT_EQ(phones.size(), TypeParam::kPhoneCount);
  for (std::size_t i = 1; i < phones.size(); ++i) {
    EXPECT_LT(phones[i - 1].field, phones[i].field);
  }
  EXPECT_EQ(phones[TypeParam::kHomeIndex].field, PhoneField::Home);
  EXPECT_EQ(phones[TypeParam::kHomeIndex].number, "0171 930 8890");
  EXPECT_EQ(phones[TypeParam::kMobileIndex].field, PhoneField::Mobile);
  EXPECT_EQ(phones[TypeParam::kMobileIndex].number, "0370 123456");
  // A store that gives every field gives the others empty.
  for (std::size_t i = 0; i < phones.size(); ++i) {
    if (i != TypeParam::kHomeIndex && i != TypeParam::kMobileIndex) {
      EXPECT_EQ(phones[i].number, "");
    }
  }
}

TYPED_TEST_P(StoreContract, AssignmentWithoutSaveLeavesTheStoredContact) {
  {
    auto item = this->Dental(*this->m_store);
    item->SetPhone(TypeParam::kHomeIndex, "(020) 7930 8890");
  }
  EXPECT_EQ(this->Dental(this->Reread())->Phones()[TypeParam::kHomeIndex].number, "0171 930 8890");
}

TYPED_TEST_P(StoreContract, SaveKeepsEveryAssignmentOnceTheFolderIsFlushed) {
  {
    auto dental = this->DentalInFolder(*this->m_store);
    dental.item->SetPhone(TypeParam::kHomeIndex, "(020) 7930 8890");
    dental.item->SetPhone(TypeParam::kMobileIndex, "(07770) 123456");
    dental.item->Save();
    EXPECT_TRUE(dental.folder->Flush().empty());
  }
  const auto phones = this->Dental(this->Reread())->Phones();
  ASSERT_EQ(phones.size(), TypeParam::kPhoneCount);
  EXPECT_EQ(phones[TypeParam::kHomeIndex].number, "(020) 7930 8890");
  EXPECT_EQ(phones[TypeParam::kMobileIndex].number, "(07770) 123456");
}

TYPED_TEST_P(StoreContract, FlushWithNothingSavedFailsNothing) {
  auto dental = this->DentalInFolder(*this->m_store);
  EXPECT_EQ(dental.item->HeldSave(), std::nullopt);
  EXPECT_TRUE(dental.folder->Flush().empty());
  EXPECT_EQ(this->Dental(this->Reread())->Phones()[TypeParam::kHomeIndex].number, "0171 930 8890");
}

REGISTER_TYPED_TEST_SUITE_P(StoreContract, WalksFoldersAndItemsInOrderOnce, GivesPhonesInFieldOrder,
                            AssignmentWithoutSaveLeavesTheStoredContact,
                            SaveKeepsEveryAssignmentOnceTheFolderIsFlushed,
                            FlushWithNothingSavedFailsNothing);

}  // namespace dialmend
