// What the editor needs from the window platform. The Qt and Win32 windows implement it; tests
// use a fake.
#pragma once

#include <string>
#include <string_view>

namespace editor {

// Message box buttons and icons, and the pressed button as the platform reports it.
enum class Buttons { Ok, YesNoCancel };
enum class Icon { None, Critical };
enum MessageResult : int { vbOK = 1, vbCancel = 2, vbYes = 6, vbNo = 7 };

class Window {
 public:
  virtual ~Window() = default;

  // True iff path, as DatabasePath gives it, names an ordinary file: a file search that asks for
  // no special attributes, so a directory (and a hidden or system file, where files have such
  // attributes) does not count.
  virtual bool IsOrdinaryFile(std::u16string_view path) const = 0;
  // The whole text of Txt, lines joined by CR LF.
  virtual std::u16string Text() const = 0;
  // Replaces the whole text of Txt; the window then reports TextChanged once. Takes the text
  // over, so that a large table is not held twice while it goes in.
  virtual void SetText(std::u16string text) = 0;
  virtual void SetCaption(std::u16string_view caption) = 0;
  // Shows a modal message box and returns the pressed button.
  virtual int ShowMessage(std::u16string_view text, Buttons buttons, Icon icon,
                          std::u16string_view title) = 0;
  // Ends the run at once; the window is never shown.
  virtual void EndRun() = 0;
  // Sets the pointer of Label3(index) to the link cursor (custom pointer, cursor resource 101).
  virtual void SetLinkCursor(int index) = 0;
  // Moves Txt, in twips.
  virtual void MoveText(int left, int top) = 0;
  // The line of Txt's text (counted from 0, by CR LF) the caret is on; and the caret put at the
  // start of a line (or of the last, if there are fewer), scrolled into view.
  virtual std::size_t CaretLine() const = 0;
  virtual void SetCaretLine(std::size_t line) = 0;
  // The same, with the whole line selected.
  virtual void SelectLine(std::size_t line) = 0;
};

}  // namespace editor
