#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace dialmend {

// A fixed, varied list of telephone number texts as people type them: every code-change row,
// labels, international forms, service codes and junk. The same on every run and machine.
[[nodiscard]] std::vector<std::string> NumberCorpus(std::size_t size);

}  // namespace dialmend
