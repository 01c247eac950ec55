#include "window/textmapping.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <utility>
#include <vector>

namespace window {

namespace {

// Character format property holding the code unit a stand-in replaces.
constexpr int kOriginalProperty = QTextFormat::UserProperty + 1;

constexpr char16_t kParagraphBreak = 0x2029;  // how the document separates lines

// Up to this many units the document is read whole, which is several times faster than reading
// it in pieces; above it, in pieces of kPieceSize, so that the text is not held twice in full.
constexpr qsizetype kWholeReadLimit = qsizetype{16} << 20;
constexpr qsizetype kPieceSize = qsizetype{1} << 20;

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

}  // namespace

void SetReplyText(QPlainTextEdit& box, std::u16string text) {
  // Mapped in place: the shown text is never longer than the reply text, and each unit is
  // written at or before the place it was read from. The box then copies it into its document,
  // so the text is held once more rather than twice.
  char16_t* const data = text.data();
  const std::size_t size = text.size();
  std::size_t length = 0;
  std::vector<std::pair<qsizetype, char16_t>> originals;  // position in the box, code unit
  for (std::size_t i = 0; i < size;) {
    std::size_t end = i;
    // Copied as they are up to the next unit with a stand-in; the CR of a line break is one.
    while (end < size && !StandIn(data[end])) ++end;
    if (length != i) std::char_traits<char16_t>::move(data + length, data + i, end - i);
    length += end - i;
    if (end == size) break;
    const char16_t c = data[end];
    if (c == u'\r' && end + 1 < size && data[end + 1] == u'\n') {
      data[length++] = u'\n';  // a line break of the reply text
      i = end + 2;
    } else {
      originals.emplace_back(static_cast<qsizetype>(length), c);
      data[length++] = StandIn(c);
      i = end + 1;
    }
  }
  box.setPlainText(QString::fromRawData(reinterpret_cast<const QChar*>(text.data()),
                                        static_cast<qsizetype>(length)));
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

namespace {

// Appends piece to text with each paragraph break as CR LF.
void AppendAsReplyText(std::u16string& text, QStringView piece) {
  const char16_t* run = reinterpret_cast<const char16_t*>(piece.data());
  const char16_t* const end = run + piece.size();
  while (run != end) {
    const char16_t* at = run;
    while (at != end && *at != kParagraphBreak) ++at;
    text.append(run, static_cast<std::size_t>(at - run));
    if (at == end) break;
    text.append(u"\r\n");
    run = at + 1;
  }
}

// Whether any character of the document may be a marked stand-in. The document keeps every
// format it has used, so this can say yes for a stand-in since deleted, never no for one present.
bool MayHoldStandIns(const QTextDocument& document) {
  const QList<QTextFormat> formats = document.allFormats();
  return std::any_of(formats.begin(), formats.end(),
                     [](const QTextFormat& format) { return format.hasProperty(kOriginalProperty); });
}

}  // namespace

std::u16string ReplyTextOf(const QPlainTextEdit& box) {
  return ReplyTextOf(box, kWholeReadLimit, kPieceSize);
}

std::u16string ReplyTextOf(const QPlainTextEdit& box, qsizetype wholeReadLimit,
                           qsizetype pieceSize) {
  const QTextDocument& document = *box.document();
  // The document ends with a paragraph break that is not part of the text.
  const qsizetype size = document.characterCount() - 1;
  std::u16string text;
  // Every paragraph break but that last one becomes CR LF.
  text.reserve(static_cast<std::size_t>(size) + static_cast<std::size_t>(document.blockCount()) - 1);

  if (size <= wholeReadLimit) {
    AppendAsReplyText(text, document.toRawText());
  } else {
    // Read in pieces, so that a large text is not held a second time while it is converted.
    QTextCursor cursor(document.begin());
    for (qsizetype start = 0; start < size; start += pieceSize) {
      cursor.setPosition(start);
      cursor.setPosition(std::min(start + pieceSize, size), QTextCursor::KeepAnchor);
      AppendAsReplyText(text, cursor.selectedText());
    }
  }
  if (!MayHoldStandIns(document)) return text;

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
