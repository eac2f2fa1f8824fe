#pragma once

#include <string>
#include <string_view>
#include <vector>

// The INI files desktop programs keep their settings in: Mozilla's profiles.ini, and KDE's
// configuration (KConfig, and Qt's QSettings for Akonadi's own files). The reader never throws:
// a line it cannot read is passed over.

namespace dialmend {

enum class IniDialect {
  // Values as written (profiles.ini holds Windows paths with backslashes).
  Plain,
  // KConfig's and QSettings' ways: nested groups "[a][b]", keys "a\b" under a group, escapes
  // (\s \t \n \r \\) in values, and a key marked "[$e]" whose value names variables; a key
  // for another language ("Name[de]") is passed over.
  Kde,
};

struct IniEntry {
  // Groups and key parts joined by '/': "Instances/akonadi_contacts_resource_0/AgentType" for
  // KConfig's "[Instances][akonadi_contacts_resource_0]" and QSettings'
  // "akonadi_contacts_resource_0\AgentType" under "[Instances]" alike.
  std::string key;
  std::string value;
  // The value names variables ($HOME, ${XDG_DATA_HOME}) to be put in.
  bool expand = false;
};

// Every entry of `text`, in file order.
[[nodiscard]] std::vector<IniEntry> ParseIni(std::string_view text, IniDialect dialect);

}  // namespace dialmend
