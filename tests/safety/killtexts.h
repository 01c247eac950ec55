// The three tables the kill test's save loop writes in turn, each of thousands of entries and
// different from the others in size and content, so a table mixing two of them is never mistaken
// for one of them.
#pragma once

#include <array>
#include <string>

namespace safety {

inline constexpr int kKillTexts = 3;

inline std::u16string KillText(int which) {
  const int entries[kKillTexts] = {3000, 2000, 4000};
  const std::u16string mark(1, static_cast<char16_t>(u'甲' + which));
  std::u16string text;
  for (int i = 0; i < entries[which]; ++i) {
    if (i > 0) text += u"\r\n";
    const std::string n = std::to_string(i);
    text += mark + u"问题" + std::u16string(n.begin(), n.end()) + u"###" + mark +
            u"答案，客服机器人回复的内容" + std::u16string(n.begin(), n.end());
  }
  return text;
}

// Every kill text, by index.
inline std::array<std::u16string, kKillTexts> KillTexts() {
  std::array<std::u16string, kKillTexts> texts;
  for (int i = 0; i < kKillTexts; ++i) texts[static_cast<std::size_t>(i)] = KillText(i);
  return texts;
}

}  // namespace safety
