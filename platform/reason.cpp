#include "platform/reason.h"

#include <utility>

namespace dialmend {

std::string AsReason(std::string text) {
  if (text.size() > 1 && text[0] >= 'A' && text[0] <= 'Z' && !(text[1] >= 'A' && text[1] <= 'Z')) {
    text[0] = static_cast<char>(text[0] - 'A' + 'a');
  }
  return text;
}

std::string ErrorText(const std::error_code& error) {
  return AsReason(error.message());
}

}  // namespace dialmend
