#include "platform/system_info.h"

#include <algorithm>
#include <cstring>

namespace dialmend {

void DecodeKeyValue(std::uint32_t type, std::string_view data, std::string& key_val) {
  if (type == kRegistryText) {
    if (!data.empty() && data.back() == '\0') data.remove_suffix(1);
    key_val.assign(data);
  } else if (type == kRegistryNumber) {
    // The number's own bytes, little-endian; its high zero bytes are not a terminating NUL.
    std::uint32_t bits = 0;
    for (std::size_t i = std::min<std::size_t>(data.size(), 4); i-- > 0;) {
      bits = bits << 8 | static_cast<unsigned char>(data[i]);
    }
    std::int32_t value;
    std::memcpy(&value, &bits, sizeof value);
    key_val = std::to_string(value);
  }
}

}  // namespace dialmend
