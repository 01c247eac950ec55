// Moves reply text in and out of a Qt text box without changing a single code unit.
//
// The box shows one line per CR LF-separated line. A QTextDocument cannot hold a lone CR, a lone
// LF, U+2029 or the frame marks U+FDD0/U+FDD1 inside a line (it breaks the line there), shows
// U+2028 as a line break, and a NUL or a lone surrogate (also the escape of a stored byte that is
// not text) as nothing at all. Each of those is shown as its stand-in (window/standins.h), whose
// format carries the original code unit as its object type; reading the box back restores it.
//
// Qt never passes a format's object type on to text typed or pasted next to it, so a mark stays
// on the stand-in it was made for: a stand-in character the operator types or pastes from another
// program stays what it is. Copies inside Velmora (and between two Velmoras) travel as reply text
// under kReplyTextMime and are marked again where they are pasted or dropped.
#pragma once

#include <QPlainTextEdit>

#include <string>
#include <vector>

#include "window/standins.h"

class QTextCursor;

namespace window {

// The clipboard format of reply text copied from Velmora: its UTF-16 code units, native order.
inline constexpr char kReplyTextMime[] = "application/x-velmora-reply-text";

// Replaces the whole content of box with text; leaves an empty undo history.
void SetReplyText(QPlainTextEdit& box, std::u16string text);

// Replaces the whole content of box with shown text (lines separated by U+2029, as the document
// holds them) and its stand-ins, as one edit, which one undo takes back.
void ReplaceShownText(QPlainTextEdit& box, const std::u16string& shown, const std::vector<Original>& originals);

// The marked stand-ins of box, in order, at their document positions.
std::vector<Original> StandInsOf(const QPlainTextEdit& box);

// The box's content as reply text: lines joined by CR LF, stand-ins restored.
std::u16string ReplyTextOf(const QPlainTextEdit& box);

// The same, reading the document whole if it holds at most wholeReadLimit units, else in pieces
// of pieceSize units.
std::u16string ReplyTextOf(const QPlainTextEdit& box, qsizetype wholeReadLimit, qsizetype pieceSize);

// The selection of cursor as reply text.
std::u16string SelectedReplyText(const QTextCursor& cursor);

// Puts text in place of cursor's selection, stand-ins marked, as one step of the undo history.
void InsertReplyText(QTextCursor& cursor, std::u16string text);

// A text box whose copies, cuts and drags carry reply text, and which takes pasted or dropped
// text from other programs as plain text, its line ends (CR LF, LF or CR) as line breaks. Text
// holding a word too long to wrap at word boundaries cheaply is wrapped anywhere. Lines in view
// that a save would leave out have a pale red background.
class ReplyTextBox : public QPlainTextEdit {
 public:
  explicit ReplyTextBox(QWidget* parent = nullptr);

  // Marks the lines in view that a save would leave out: every line that is not blank and does
  // not read as an entry. Only the lines in view are looked at, so it costs the same for any
  // size of text; the box calls it whenever it repaints.
  void MarkLinesLeftOut();

 protected:
  QMimeData* createMimeDataFromSelection() const override;
  bool canInsertFromMimeData(const QMimeData* source) const override;
  void insertFromMimeData(const QMimeData* source) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  friend void SetReplyText(QPlainTextEdit& box, std::u16string text);
  friend void ReplaceShownText(QPlainTextEdit& box, const std::u16string& shown,
                               const std::vector<Original>& originals);
  bool replacing_ = false;         // SetReplyText is at work, and picks the wrap mode itself
  std::vector<int> linesLeftOut_;  // the block number of every row marked now
};

}  // namespace window
