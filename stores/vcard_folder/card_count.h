#pragma once

#include <cstdint>
#include <string>

#include "stores/vcard_folder/folder_entries.h"

namespace dialmend {

// Adds the card files under `path` to `count` from the names alone, as the walk would take
// them: no file is opened and no entry but one of unknown type is looked at further, so the
// count costs a small part of the walk. Links to folders are not followed; a subfolder that
// cannot be listed counts nothing. False when `path` itself cannot be listed. Never throws.
[[nodiscard]] bool CountCardFiles(const std::string& path, std::int64_t& count,
                                  CardNaming naming = CardNaming::VcfFiles);

}  // namespace dialmend
