#include "window/textmapping.h"

#include <QMimeData>
#include <QResizeEvent>
#include <QScopedValueRollback>
#include <QTextLayout>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include "replytext/replytext.h"
#include "window/standins.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace window {

namespace {

// A stand-in's format has object type kMarkBase + the code unit it stands for.
constexpr int kMarkBase = QTextFormat::UserObject + 1;

constexpr char16_t kParagraphBreak = 0x2029;  // how the document separates lines

// Up to this many units the document is read whole, which is several times faster than reading
// it in pieces; above it, in pieces of kPieceSize, so that the text is not held twice in full.
constexpr qsizetype kWholeReadLimit = qsizetype{16} << 20;
constexpr qsizetype kPieceSize = qsizetype{1} << 20;

// Qt wraps a line at word boundaries by scanning to the end of the word for every row it makes,
// which for a long run without a break (a URL list, Base64) is quadratic in its length: a
// megabyte of it freezes the box for half a minute. Text holding a run longer than this is
// wrapped anywhere instead, which costs what ordinary text costs.
constexpr qsizetype kLongestWrappedWord = 1000;

// Whether text holds a run of more than kLongestWrappedWord units with no space, tab, line
// break or CJK character (after each of which Qt may break a line).
bool HasLongWord(QStringView text) {
  qsizetype run = 0;
  for (const QChar c : text) {
    const char16_t unit = c.unicode();
    const bool breaks = unit == u' ' || unit == u'\t' || unit == u'\n' || unit == kParagraphBreak || (unit >= 0x2E80 && unit < 0xD800);
    run = breaks ? 0 : run + 1;
    if (run > kLongestWrappedWord) return true;
  }
  return false;
}

QString ShownText(const std::u16string& text) {
  return QString::fromRawData(reinterpret_cast<const QChar*>(text.data()), static_cast<qsizetype>(text.size()));
}

// Marks the stand-ins of text shown from position base on, in one edit block, so the box lays
// the text out once at its end rather than once per stand-in (quadratic in a long line).
void MarkStandIns(QTextDocument& document, qsizetype base, const std::vector<Original>& originals) {
  QTextCursor cursor(&document);
  cursor.beginEditBlock();
  for (const Original& original : originals) {
    const qsizetype position = base + static_cast<qsizetype>(original.position);
    cursor.setPosition(position);
    cursor.setPosition(position + 1, QTextCursor::KeepAnchor);
    QTextCharFormat format;
    format.setObjectType(kMarkBase + original.unit);
    cursor.mergeCharFormat(format);
  }
  cursor.endEditBlock();
}

// Whether any character of the document may be a marked stand-in. The document keeps every
// format it has used, so this can say yes for a stand-in since deleted, never no for one present.
bool MayHoldStandIns(const QTextDocument& document) {
  const QList<QTextFormat> formats = document.allFormats();
  return std::any_of(formats.begin(), formats.end(),
                     [](const QTextFormat& format) { return format.objectType() >= kMarkBase; });
}

// Calls visit(position, unit, breaks) for every position in [from, to) whose format marks it as
// the stand-in for unit, breaks being the line breaks passed since from. (A character typed next
// to a stand-in may carry its mark while not being one: visit checks the character.)
template <typename Visit>
void ForEachMark(const QTextDocument& document, qsizetype from, qsizetype to, Visit&& visit) {
  if (!MayHoldStandIns(document)) return;
  std::size_t breaks = 0;
  for (QTextBlock block = document.findBlock(from); block.isValid() && block.position() < to;
       block = block.next(), ++breaks) {
    for (auto fragment = block.begin(); !fragment.atEnd(); ++fragment) {
      const QTextFragment piece = fragment.fragment();
      const int type = piece.charFormat().objectType();
      if (type < kMarkBase) continue;
      const qsizetype end = std::min<qsizetype>(piece.position() + piece.length(), to);
      for (qsizetype position = std::max<qsizetype>(piece.position(), from); position < end; ++position)
        visit(position, static_cast<char16_t>(type - kMarkBase), breaks);
    }
  }
}

// The wrap mode for text shown: at word boundaries, unless it holds a word too long for that.
QTextOption::WrapMode WrapModeFor(const std::u16string& shown) {
  return HasLongWord(ShownText(shown)) ? QTextOption::WrapAnywhere : QTextOption::WrapAtWordBoundaryOrAnywhere;
}

}  // namespace

void SetReplyText(QPlainTextEdit& box, std::u16string text) {
  const std::vector<Original> originals = ShowStandIns(text, u"\n");
  // The box gives the whole new text the format its cursor would type with, which next to a
  // stand-in is the stand-in's: start from a plain one.
  box.moveCursor(QTextCursor::Start);
  box.setCurrentCharFormat(QTextCharFormat());
  const QTextOption::WrapMode wrap = WrapModeFor(text);
  if (box.wordWrapMode() != wrap) {
    box.clear();  // so that changing the mode lays out no old text
    box.setWordWrapMode(wrap);
  }
  // The box copies the shown text into its document, so the text is held once more, not twice.
  bool unused = false;
  auto* reply = dynamic_cast<ReplyTextBox*>(&box);
  {
    const QScopedValueRollback<bool> replacing(reply ? reply->replacing_ : unused, true);
    box.setPlainText(ShownText(text));
  }
  if (originals.empty()) return;
  QTextDocument& document = *box.document();
  document.setUndoRedoEnabled(false);  // marking the stand-ins is not an edit of the operator's
  MarkStandIns(document, 0, originals);
  document.setUndoRedoEnabled(true);
}

void ReplaceShownText(QPlainTextEdit& box, const std::u16string& shown, const std::vector<Original>& originals) {
  const QTextOption::WrapMode wrap = WrapModeFor(shown);
  if (box.wordWrapMode() != wrap) box.setWordWrapMode(wrap);
  QTextCursor cursor(box.document());
  const int caret = box.textCursor().position();
  bool unused = false;  // the box's own check for long words is not needed: the mode is chosen
  auto* reply = dynamic_cast<ReplyTextBox*>(&box);
  {
    const QScopedValueRollback<bool> replacing(reply ? reply->replacing_ : unused, true);
    cursor.beginEditBlock();
    cursor.select(QTextCursor::Document);
    cursor.removeSelectedText();
    cursor.insertText(ShownText(shown), QTextCharFormat());  // each U+2029 starts a block
    MarkStandIns(*box.document(), 0, originals);
    cursor.endEditBlock();
  }
  cursor.setPosition(std::min(caret, box.document()->characterCount() - 1));
  box.setTextCursor(cursor);
}

std::vector<Original> StandInsOf(const QPlainTextEdit& box) {
  std::vector<Original> originals;
  const QTextDocument& document = *box.document();
  ForEachMark(document, 0, document.characterCount() - 1, [&](qsizetype position, char16_t unit, std::size_t) {
    if (document.characterAt(position).unicode() == StandIn(unit))
      originals.push_back({static_cast<std::size_t>(position), unit});
  });
  return originals;
}

void InsertReplyText(QTextCursor& cursor, std::u16string text) {
  const std::vector<Original> originals = ShowStandIns(text, u"\n");
  cursor.beginEditBlock();
  cursor.removeSelectedText();
  const qsizetype base = cursor.position();
  cursor.insertText(ShownText(text), QTextCharFormat());
  MarkStandIns(*cursor.document(), base, originals);
  cursor.endEditBlock();
}

namespace {

// Appends piece to text with each paragraph break as CR LF.
void AppendAsReplyText(std::u16string& text, QStringView piece) {
  const char16_t* run = reinterpret_cast<const char16_t*>(piece.data());
  const char16_t* const end = run + piece.size();
  while (run != end) {
    const char16_t* at = std::find(run, end, kParagraphBreak);
    text.append(run, static_cast<std::size_t>(at - run));
    if (at == end) break;
    text.append(u"\r\n");
    run = at + 1;
  }
}

// Puts the original code units back where the document marks a stand-in in [from, to), which
// text holds from its start. Positions in text run ahead of document positions by one for every
// line break (CR LF for one paragraph break) passed.
void RestoreOriginals(const QTextDocument& document, qsizetype from, qsizetype to, std::u16string& text) {
  ForEachMark(document, from, to, [&](qsizetype position, char16_t unit, std::size_t breaks) {
    char16_t& shown = text[static_cast<std::size_t>(position - from) + breaks];
    if (shown == StandIn(unit)) shown = unit;
  });
}

}  // namespace

std::u16string ReplyTextOf(const QPlainTextEdit& box) {
  return ReplyTextOf(box, kWholeReadLimit, kPieceSize);
}

std::u16string ReplyTextOf(const QPlainTextEdit& box, qsizetype wholeReadLimit, qsizetype pieceSize) {
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
  RestoreOriginals(document, 0, size, text);
  return text;
}

std::u16string SelectedReplyText(const QTextCursor& cursor) {
  std::u16string text;
  AppendAsReplyText(text, cursor.selectedText());
  RestoreOriginals(*cursor.document(), cursor.selectionStart(), cursor.selectionEnd(), text);
  return text;
}

// ---- ReplyTextBox ----

ReplyTextBox::ReplyTextBox(QWidget* parent) : QPlainTextEdit(parent) {
  connect(this, &QPlainTextEdit::updateRequest, this, &ReplyTextBox::MarkLinesLeftOut);
  // Text typed or pasted with a long word switches to wrapping anywhere before the box lays it
  // out (the document reports a change before its layout sees it).
  connect(document(), &QTextDocument::contentsChange, this, [this](int position, int, int added) {
    if (added == 0 || replacing_ || wordWrapMode() == QTextOption::WrapAnywhere) return;
    for (QTextBlock block = document()->findBlock(position); block.isValid() && block.position() <= position + added;
         block = block.next()) {
      if (HasLongWord(block.text())) {
        setWordWrapMode(QTextOption::WrapAnywhere);
        return;
      }
    }
  });
}

void ReplyTextBox::MarkLinesLeftOut() {
  QList<QTextEdit::ExtraSelection> marks;
  std::vector<int> lines;
  const int bottom = viewport()->rect().bottom();
  for (QTextBlock block = firstVisibleBlock(); block.isValid(); block = block.next()) {
    if (blockBoundingGeometry(block).translated(contentOffset()).top() > bottom) break;
    // Stand-ins are neither spaces nor '#', so the shown line parses as its reply text does.
    const QString shown = block.text();
    const std::u16string_view line(reinterpret_cast<const char16_t*>(shown.utf16()), static_cast<std::size_t>(shown.size()));
    if (!replytext::IsLeftOut(line)) continue;
    // A full-width mark is one row of the box: one for every row the line wraps into.
    const QTextLayout* rows = block.layout();
    for (int row = 0; row < std::max(1, rows->lineCount()); ++row) {
      QTextEdit::ExtraSelection mark;
      mark.cursor = QTextCursor(block);
      if (row > 0) mark.cursor.setPosition(block.position() + rows->lineAt(row).textStart());
      mark.format.setBackground(QColor(255, 228, 228));
      mark.format.setProperty(QTextFormat::FullWidthSelection, true);
      marks.append(mark);
      lines.push_back(block.blockNumber());  // once a row, so a line that wraps anew is marked anew
    }
  }
  // Setting them repaints, which calls this again: only a change of the marked lines is set.
  if (lines == linesLeftOut_) return;
  linesLeftOut_ = std::move(lines);
  setExtraSelections(marks);
}

void ReplyTextBox::resizeEvent(QResizeEvent* event) {
  QPlainTextEdit::resizeEvent(event);
  if (event->oldSize().width() != event->size().width()) MarkLinesLeftOut();  // lines may wrap into other rows now
}

QMimeData* ReplyTextBox::createMimeDataFromSelection() const {
  const std::u16string text = SelectedReplyText(textCursor());
  auto* data = new QMimeData;
  data->setData(QString::fromLatin1(kReplyTextMime),
                QByteArray(reinterpret_cast<const char*>(text.data()),
                           static_cast<qsizetype>(text.size() * sizeof(char16_t))));
  // Other programs get the same characters, with the line ends of this platform's plain text.
  data->setText(QString::fromStdU16String(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
  return data;
}

bool ReplyTextBox::canInsertFromMimeData(const QMimeData* source) const {
  return source->hasFormat(QString::fromLatin1(kReplyTextMime)) || QPlainTextEdit::canInsertFromMimeData(source);
}

void ReplyTextBox::insertFromMimeData(const QMimeData* source) {
  QTextCursor cursor = textCursor();
  const QString velmora = QString::fromLatin1(kReplyTextMime);
  if (source->hasFormat(velmora)) {
    const QByteArray bytes = source->data(velmora);
    std::u16string text(static_cast<std::size_t>(bytes.size()) / sizeof(char16_t), u'\0');
    std::memcpy(text.data(), bytes.data(), text.size() * sizeof(char16_t));
    InsertReplyText(cursor, std::move(text));
  } else if (source->hasText()) {
    // Inserted as plain text, each CR LF makes a line and nothing is marked.
    const std::u16string lines = PastedLines(source->text().toStdU16String());
    cursor.insertText(QString::fromStdU16String(lines), QTextCharFormat());
  }
  setTextCursor(cursor);
  ensureCursorVisible();
}

}  // namespace window
