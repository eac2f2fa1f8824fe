#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/fix_number.h"
#include "platform/utf8.h"

// Any bytes under any option values: the converter must return, give valid UTF-8 for valid
// UTF-8 and hand back anything else byte for byte. With "old codes only" (and no custom
// replacement) a number comes back as given or as it would without the option, and a second
// conversion of a changed number changes nothing.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider provider(data, size);
  dialmend::NumberOptions options;
  options.style = dialmend::StyleFromNumber(provider.ConsumeIntegralInRange(-1, 4));
  options.prefix = dialmend::PrefixFromNumber(provider.ConsumeIntegralInRange(-1, 3));
  options.leading_zero = dialmend::ZeroFromNumber(provider.ConsumeIntegralInRange(-1, 3));
  options.old_codes_only = provider.ConsumeBool();
  options.replace = provider.ConsumeBool();
  if (options.replace) {
    options.find = provider.ConsumeRandomLengthString(8);
    options.replacement = provider.ConsumeRandomLengthString(8);
  }
  const std::string number = provider.ConsumeRemainingBytesAsString();

  const std::string result = dialmend::FixNumber(number, options);

  const bool texts_valid =
      dialmend::IsValidUtf8(options.find) && dialmend::IsValidUtf8(options.replacement);
  if (!dialmend::IsValidUtf8(number)) {
    if (result != number) std::abort();
  } else if (texts_valid && !dialmend::IsValidUtf8(result)) {
    std::abort();
  }
  if (options.style == dialmend::NumberStyle::Unchanged) {
    if (result != number) std::abort();
  }
  if (number.empty() && !result.empty()) std::abort();
  if (options.old_codes_only && !options.replace && result != number) {
    dialmend::NumberOptions every = options;
    every.old_codes_only = false;
    if (result != dialmend::FixNumber(number, every)) std::abort();
    if (dialmend::FixNumber(result, options) != result) std::abort();
  }
  return 0;
}
