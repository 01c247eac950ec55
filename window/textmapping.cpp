#include "window/textmapping.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <utility>
#include <vector>

namespace window {

namespace {

// Character format property holding the code unit a stand-in replaces.
constexpr int kOriginalProperty = QTextFormat::UserProperty + 1;

constexpr char16_t kParagraphBreak = 0x2029;  // how the document separates lines

// The stand-in shown for a code unit the box cannot hold inside a line, or 0 if it needs none.
char16_t StandIn(char16_t c) {
  switch (c) {
    case u'\n':
      return 0x240A;  // SYMBOL FOR LINE FEED
    case u'\r':
      return 0x240D;  // SYMBOL FOR CARRIAGE RETURN
    case 0x2028:
      return 0x2424;  // SYMBOL FOR NEWLINE
    case 0x2029:
      return 0x00B6;  // PILCROW SIGN
    case 0xFDD0:
    case 0xFDD1:
      return 0xFFFD;  // REPLACEMENT CHARACTER
    default:
      return 0;
  }
}

bool IsStandIn(char16_t c) {
  return c == 0x240A || c == 0x240D || c == 0x2424 || c == 0x00B6 || c == 0xFFFD;
}

}  // namespace

void SetReplyText(QPlainTextEdit& box, std::u16string_view text) {
  QString shown(static_cast<qsizetype>(text.size()), Qt::Uninitialized);
  char16_t* out = reinterpret_cast<char16_t*>(shown.data());
  qsizetype length = 0;
  std::vector<std::pair<qsizetype, char16_t>> originals;  // position in the box, code unit
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
      out[length++] = u'\n';  // a line break of the reply text
      ++i;
    } else if (const char16_t standIn = StandIn(c)) {
      originals.emplace_back(length, c);
      out[length++] = standIn;
    } else {
      out[length++] = c;
    }
  }
  shown.truncate(length);
  box.setPlainText(shown);
  if (originals.empty()) return;

  QTextDocument& document = *box.document();
  document.setUndoRedoEnabled(false);  // marking the stand-ins is not an edit of the user's
  QTextCursor cursor(&document);
  // One edit block, so the box lays the text out once at its end rather than once per stand-in
  // (which is quadratic in a long line).
  cursor.beginEditBlock();
  for (const auto& [position, original] : originals) {
    cursor.setPosition(position);
    cursor.setPosition(position + 1, QTextCursor::KeepAnchor);
    QTextCharFormat format;
    format.setProperty(kOriginalProperty, static_cast<int>(original));
    cursor.mergeCharFormat(format);
  }
  cursor.endEditBlock();
  document.setUndoRedoEnabled(true);
}

std::u16string ReplyTextOf(const QPlainTextEdit& box) {
  const QTextDocument& document = *box.document();
  const QString raw = document.toRawText();
  const auto* in = reinterpret_cast<const char16_t*>(raw.constData());
  const std::size_t size = static_cast<std::size_t>(raw.size());

  std::size_t breaks = 0;
  bool standIns = false;
  for (std::size_t i = 0; i < size; ++i) {
    breaks += in[i] == kParagraphBreak;
    standIns = standIns || IsStandIn(in[i]);
  }
  std::u16string text;
  text.reserve(size + breaks);
  for (std::size_t i = 0; i < size; ++i) {
    if (in[i] == kParagraphBreak) {
      text.append(u"\r\n");
    } else {
      text.push_back(in[i]);
    }
  }
  if (!standIns) return text;

  // Put the original code units back where the document marks a stand-in. Positions in text
  // run ahead of document positions by one for every line break before them.
  std::size_t shift = 0;
  for (QTextBlock block = document.begin(); block.isValid(); block = block.next(), ++shift) {
    for (auto fragment = block.begin(); !fragment.atEnd(); ++fragment) {
      const QTextFragment piece = fragment.fragment();
      const QVariant original = piece.charFormat().property(kOriginalProperty);
      if (!original.isValid()) continue;
      const char16_t unit = static_cast<char16_t>(original.toInt());
      const std::size_t start = static_cast<std::size_t>(piece.position()) + shift;
      for (std::size_t i = start; i < start + static_cast<std::size_t>(piece.length()); ++i)
        if (text[i] == StandIn(unit)) text[i] = unit;
    }
  }
  return text;
}

}  // namespace window
