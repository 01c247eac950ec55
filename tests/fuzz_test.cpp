// Seeded random texts, for a bounded time, through splitting, ParseReplyLine, joining and the
// text box. Texts are drawn from the characters that matter to the format (spaces, '#', CR, LF,
// line and paragraph separators, NUL, lone surrogates) so the corners are hit often.
//
// VELMORA_FUZZ_SECONDS sets the time per target (default 3); VELMORA_FUZZ_SEED the first seed.
// Round i uses seed + i, which a failure reports, so any failure can be replayed.
#include <QPlainTextEdit>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <random>

#include "replytext/replytext.h"
#include "tests/support/qtapp.h"
#include "window/textmapping.h"

namespace {

using replytext::ReplyEntry;

// Runs round(random) with a fresh generator per round until the time is up.
void Fuzz(const char* target, const std::function<void(std::mt19937&)>& round) {
  const char* seconds = std::getenv("VELMORA_FUZZ_SECONDS");
  const char* seedText = std::getenv("VELMORA_FUZZ_SEED");
  const auto budget = std::chrono::duration<double>(seconds ? std::atof(seconds) : 3.0);
  const unsigned long seed = seedText ? std::strtoul(seedText, nullptr, 10) : 20261207;
  const auto end = std::chrono::steady_clock::now() + budget;
  unsigned long rounds = 0;
  do {
    std::mt19937 random(static_cast<std::mt19937::result_type>(seed + rounds));
    SCOPED_TRACE("seed " + std::to_string(seed + rounds));
    round(random);
    ++rounds;
    if (testing::Test::HasFailure()) return;
  } while (std::chrono::steady_clock::now() < end);
  std::printf("%s: %lu rounds\n", target, rounds);
}

std::u16string RandomText(std::mt19937& random, std::size_t maxLength) {
  static const char16_t alphabet[] = {u'a', u'问', u' ', u' ', u'#', u'#', u'#', u'\r', u'\n', u'\t',
                                      0x2028, 0x2029, 0xFDD0, 0xFDD1, 0, 0xD800, 0xDC00, 0x3000, 0x00A0, 0x240A, 0x00B6};
  std::u16string text(random() % (maxLength + 1), u'\0');
  for (auto& c : text) c = alphabet[random() % std::size(alphabet)];
  return text;
}

std::u16string_view TrimSpaces(std::u16string_view line) {
  while (!line.empty() && line.front() == u' ') line.remove_prefix(1);
  while (!line.empty() && line.back() == u' ') line.remove_suffix(1);
  return line;
}

std::vector<ReplyEntry> EntriesOf(std::u16string_view text) {
  std::vector<ReplyEntry> entries;
  for (auto line : replytext::SplitReplyText(text))
    if (auto entry = replytext::ParseReplyLine(line))
      entries.push_back({std::u16string(entry->ask), std::u16string(entry->answer)});
  return entries;
}

// Splitting cuts at every CR LF and nowhere else; ParseReplyLine takes exactly the trimmed line
// apart at its first separator, or yields nothing when a side would be empty.
TEST(Fuzz, SplitAndParse) {
  Fuzz("split+parse", [](std::mt19937& random) {
    const std::u16string text = RandomText(random, 60);
    const auto lines = replytext::SplitReplyText(text);
    std::u16string rejoined;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      ASSERT_EQ(lines[i].find(u"\r\n"), std::u16string_view::npos);
      if (i > 0) rejoined += u"\r\n";
      rejoined += lines[i];
    }
    ASSERT_EQ(rejoined, text);
    ASSERT_EQ(lines.empty(), text.empty());

    for (auto line : lines) {
      const auto trimmed = TrimSpaces(line);
      const auto cut = trimmed.find(u"###");
      const bool parses = cut != std::u16string_view::npos && cut > 0 && cut + 3 < trimmed.size();
      const auto entry = replytext::ParseReplyLine(line);
      ASSERT_EQ(entry.has_value(), parses);
      if (entry) {
        ASSERT_EQ(entry->ask, trimmed.substr(0, cut));
        ASSERT_EQ(entry->answer, trimmed.substr(cut + 3));
      }
    }
  });
}

// What a save keeps of any text, joined again as a load does and parsed as the next save does,
// gives the same entries: saving, loading and saving again never changes an entry.
TEST(Fuzz, JoinThenParseKeepsEveryEntry) {
  Fuzz("join+parse", [](std::mt19937& random) {
    const auto entries = EntriesOf(RandomText(random, 200));
    std::u16string joined;
    for (const auto& entry : entries) replytext::AppendReplyLine(joined, entry.ask, entry.answer);
    ASSERT_EQ(EntriesOf(joined), entries);
  });
}

// Any text at all comes back from the text box exactly, whether the box is read whole or in
// pieces (as a large text is), pieces cutting lines and surrogate pairs anywhere.
TEST(Fuzz, TextBoxMapping) {
  testsupport::App();
  QPlainTextEdit box;
  Fuzz("text box", [&box](std::mt19937& random) {
    const std::u16string text = RandomText(random, 80);
    window::SetReplyText(box, text);
    ASSERT_EQ(window::ReplyTextOf(box), text);
    const qsizetype pieceSize = 1 + static_cast<qsizetype>(random() % 16);
    ASSERT_EQ(window::ReplyTextOf(box, 0, pieceSize), text) << "pieces of " << pieceSize;
  });
}

}  // namespace
