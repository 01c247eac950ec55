#include "store/record.h"

// Header-only: nothing to link, in the Windows build too.
#define XXH_INLINE_ALL
#include <xxhash.h>

#include <cstdint>
#include <string>

namespace store {

namespace {
constexpr std::u16string_view kSeparator = u"###";
}

TextKey LineKey(std::u16string_view line) {
  const XXH128_hash_t hash = XXH3_128bits(line.data(), line.size() * sizeof(char16_t));
  return {hash.low64, hash.high64};
}

TextKey LineKey(std::u16string_view ask, std::u16string_view answer) {
  // (Compared as addresses: pointer arithmetic across two unrelated texts is not defined.)
  const auto at = [](std::u16string_view text) { return reinterpret_cast<std::uintptr_t>(text.data()); };
  if (at(answer) == at(ask) + (ask.size() + kSeparator.size()) * sizeof(char16_t) &&
      std::u16string_view(ask.data() + ask.size(), kSeparator.size()) == kSeparator)
    return LineKey({ask.data(), ask.size() + kSeparator.size() + answer.size()});
  thread_local std::u16string line;
  line.assign(ask).append(kSeparator).append(answer);
  return LineKey(line);
}

std::uint64_t HintOf(std::u16string_view text) { return XXH3_64bits(text.data(), text.size() * sizeof(char16_t)); }

}  // namespace store
