#include "engine/number_parts.h"

#include <algorithm>
#include <cstring>

#include "engine/byte_words.h"
#include "platform/utf8.h"

namespace dialmend {
namespace {

template <class C>
bool HasDotOrTilde(View<C> t) {
  for (C c : t) {
    if (c == C('.') || c == C('~')) return true;
  }
  return false;
}

template <>
bool HasDotOrTilde(View<char> t) {
  return HasFullStopOrTilde(t);
}

// Holds the result as UTF-8 while it is written and makes the string once, at its final
// length, so the result is the only allocation and only when it is too long for the string's
// own buffer. The writers below take and return the end as a plain pointer, which the compiler
// keeps in a register: stored in this object, every byte written could be the pointer itself.
template <class C>
class Output {
 public:
  // Room for `most` characters.
  explicit Output(std::size_t most) {
    if (most > kFixed / kMostBytes) {
      m_long.resize(most * kMostBytes);
      m_begin = m_long.data();
    }
  }
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  // Where writing starts.
  char* Begin() { return m_begin; }

  // The text from Begin() to `end`. Always inline: as a call it costs as much as the copy.
  [[gnu::always_inline]] std::string Take(const char* end) {
    const auto size = static_cast<std::size_t>(end - m_begin);
    if (m_long.empty()) return std::string(m_begin, size);
    m_long.resize(size);
    return std::move(m_long);
  }

 private:
  static constexpr std::size_t kMostBytes = sizeof(C) == 1 ? 1 : 4;  // per code point in UTF-8
  static constexpr std::size_t kFixed = 256;
  char m_fixed[kFixed];
  std::string m_long;
  char* m_begin = m_fixed;
};

template <class C>
char* Put(char* end, C c) {
  if constexpr (sizeof(C) == 1) {
    *end++ = c;
    return end;
  } else {
    if (c < 0x80) {
      *end++ = static_cast<char>(c);
      return end;
    }
    return EncodeUtf8(c, end);
  }
}

template <class C>
char* Put(char* end, View<C> v) {
  if constexpr (sizeof(C) == 1) {
    return CopyBytes(end, v.data(), v.size());
  } else {
    for (C c : v) end = Put(end, c);
    return end;
  }
}

template <class C>
char* PutWithoutSpaces(char* end, View<C> v) {
  for (C c : v) {
    if (c != C(' ')) end = Put(end, c);
  }
  return end;
}

}  // namespace

template <class C>
std::string Verbatim(View<C> text) {
  Output<C> out(text.size());
  return out.Take(Put(out.Begin(), text));
}

template <class C>
std::string LabelAndAsFound(const Parts<C>& parts, View<C> as_found) {
  Output<C> out(parts.label.size() + as_found.size() + 1);
  char* end = out.Begin();
  if (parts.has_label) {
    end = Put(end, parts.label);
    end = Put(end, C(' '));
  }
  end = Put(end, as_found);
  return out.Take(end);
}

template <class C>
bool ApplyPrefixOption(Parts<C>& parts, Scratch<C>& scratch, const NumberOptions& options) {
  static constexpr C kUk[] = {C('4'), C('4')};
  if (options.prefix == PrefixAction::Remove && parts.uk_prefix) {
    parts.has_prefix = parts.uk_prefix = false;
    if (parts.zero_added && parts.area[0] == C('0')) {
      // The "(0)" of "+44 (0)20 ..." is the trunk zero, not a code: kept as one, the result
      // would begin "(00)", an international access code. The code is the zero and the
      // digits after it; a number with no digit left after those is not guessed at.
      const View<C> local = parts.local;
      std::size_t run = 0;
      while (run < local.size() && IsDigit(local[run])) ++run;
      std::size_t next = run;
      while (next < local.size() && IsSeparator(local[next])) ++next;
      const View<C> after = From(local, next);
      if (run == 0 || !HasDigit(after)) return false;
      C* const trunk_code = scratch.Take(run + 1);
      trunk_code[0] = C('0');
      std::copy(local.begin(), local.begin() + run, trunk_code + 1);
      parts.area = View<C>(trunk_code, run + 1);
      parts.local = after;
      parts.zero_before_area = false;
    } else if (!parts.zero_before_area && parts.area.size() >= 2 && parts.area[0] != C('0')) {
      // Without +44 a code written with no zero could not be dialled, so the zero goes back.
      parts.zero_before_area = true;
    }
  } else if (options.prefix == PrefixAction::Add && !parts.has_prefix) {
    parts.has_prefix = parts.uk_prefix = true;
    parts.country = View<C>(kUk, 2);
  }
  return true;
}

template <class C>
void ApplyZeroOption(Parts<C>& parts, const NumberOptions& options) {
  if (!parts.uk_prefix) return;
  const bool starts_with_zero = parts.zero_before_area || parts.area[0] == C('0');
  // Option 2 never adds a second zero: it removes one that the converter put there itself.
  const bool drop = options.leading_zero == LeadingZero::Remove
                        ? starts_with_zero
                        : options.leading_zero != LeadingZero::Untouched && parts.zero_added;
  if (!drop) return;
  if (parts.zero_before_area) {
    parts.zero_before_area = false;
  } else {
    parts.area.remove_prefix(1);
  }
}

template <class C>
std::string Write(const Parts<C>& parts, const NumberOptions& options) {
  const bool compact = options.style == NumberStyle::Compact;
  // At most eight more than the parts: the label's space, "+", the country's space, the zero
  // and "() ". Only a long text needs the room counted.
  const std::size_t written = parts.label.size() + parts.country.size() + parts.area.size();
  Output<C> out(written + parts.local.size() + 8);
  char* end = out.Begin();
  if (parts.has_label) {
    end = Put(end, parts.label);
    end = Put(end, C(' '));
  }
  if (parts.has_prefix) {
    end = Put(end, C('+'));
    if (compact) {
      end = PutWithoutSpaces(end, parts.country);
    } else {
      end = Put(end, parts.country);
      end = Put(end, C(' '));
    }
  }
  if (options.style == NumberStyle::Brackets) end = Put(end, C('('));
  if (parts.zero_before_area) end = Put(end, C('0'));
  end = Put(end, parts.area);
  switch (options.style) {
    case NumberStyle::Brackets:
      end = Put(end, C(')'));
      end = Put(end, C(' '));
      break;
    case NumberStyle::Hyphen:
      end = Put(end, C('-'));
      break;
    case NumberStyle::Spaces:
      end = Put(end, C(' '));
      break;
    case NumberStyle::Compact:
    case NumberStyle::Unchanged:
      break;
  }
  // A full stop or tilde between two digits reads as a space.
  const View<C> local = parts.local;
  if (!compact && !HasDotOrTilde(local)) return out.Take(Put(end, local));
  for (std::size_t k = 0; k < local.size(); ++k) {
    C c = local[k];
    if ((c == C('.') || c == C('~')) && k > 0 && k + 1 < local.size() && IsDigit(local[k - 1]) &&
        IsDigit(local[k + 1])) {
      c = C(' ');
    }
    if (c != C(' ') || !compact) end = Put(end, c);
  }
  return out.Take(end);
}

template bool ApplyPrefixOption(Parts<char>&, Scratch<char>&, const NumberOptions&);
template bool ApplyPrefixOption(Parts<char32_t>&, Scratch<char32_t>&, const NumberOptions&);
template void ApplyZeroOption(Parts<char>&, const NumberOptions&);
template void ApplyZeroOption(Parts<char32_t>&, const NumberOptions&);
template std::string Write(const Parts<char>&, const NumberOptions&);
template std::string Write(const Parts<char32_t>&, const NumberOptions&);
template std::string LabelAndAsFound(const Parts<char>&, View<char>);
template std::string LabelAndAsFound(const Parts<char32_t>&, View<char32_t>);
template std::string Verbatim(View<char>);
template std::string Verbatim(View<char32_t>);

}  // namespace dialmend
