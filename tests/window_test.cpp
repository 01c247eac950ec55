// What both windows promise the operator, driven through the real window: the Qt one offscreen,
// the Win32 one under wine. Each window has a driver below that works it as an operator would.
// At the end, what only the Qt window does: reading its box in pieces, and its menus.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "tests/support/testdb.h"
#include "window/boxpositions.h"
#include "window/layout.h"
#include "window/standins.h"

#ifdef _WIN32
#include "window/win32/mainform.h"  // windows.h first: dlgs.h needs its types

#include <dlgs.h>
#else
#include <QAbstractTextDocumentLayout>
#include <QClipboard>
#include <QDialog>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QMenu>
#include <QTest>
#include <QTextBlock>
#include <QTimer>

#include "window/mainform.h"
#include "window/textmapping.h"
#endif

using namespace testsupport;
using namespace std::string_literals;

namespace {

// The keys that edit, with Ctrl where a letter is named; then the close prompt's.
enum class Key { Delete, SelectAll, Undo, Save, Copy, Cut, Paste, Redo, ShiftInsert, Enter, Escape };
// The buttons of the find and replace dialogs.
enum class Button { FindNext, Replace, ReplaceAll };
window::Search Find(std::u16string what, std::u16string with = u"", bool matchCase = false, bool wholeWord = false,
                    bool down = true) {
  return {std::move(what), std::move(with), matchCase, wholeWord, down};
}

#ifdef _WIN32

class Driver {
 public:
  explicit Driver(store::Common& common) : form(GetModuleHandleW(nullptr), common) {}
  void Show() {
    form.Show(SW_SHOWNORMAL);
    Pump();
  }
  std::u16string Caption() const { return WindowText(form.Handle()); }
  std::u16string Shown() const { return WindowText(form.Txt()); }
  bool TxtHasFocus() const { return GetFocus() == form.Txt(); }
  bool LinkCursorOver(int control) {  // 0 and 1 are the links, -1 is Txt
    const HWND target = control < 0 ? form.Txt() : form.Label3(control);
    SetCursor(nullptr);
    SendMessageW(form.Handle(), WM_SETCURSOR, WPARAM(target), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    return GetCursor() == LoadCursorW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(101));
  }
  std::vector<int> MarkedLines() {  // the lines in view whose row has a coloured left margin
    UpdateWindow(form.Txt());
    const HDC dc = GetDC(form.Txt());
    RECT box;
    GetClientRect(form.Txt(), &box);
    const COLORREF background = GetPixel(dc, 1, box.bottom - 1);  // below the text
    std::vector<int> marked;
    const int lines = static_cast<int>(SendMessageW(form.Txt(), EM_GETLINECOUNT, 0, 0));
    for (int line = 0; line < lines; ++line) {
      POINTL at = {0, -1};
      SendMessageW(form.Txt(), EM_POSFROMCHAR, WPARAM(&at), SendMessageW(form.Txt(), EM_LINEINDEX, line, 0));
      if (at.y >= 0 && at.y + 2 < box.bottom && GetPixel(dc, 1, at.y + 2) != background) marked.push_back(line);
    }
    ReleaseDC(form.Txt(), dc);
    return marked;
  }
  void Click(int link) {
    SendMessageW(form.Handle(), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(form.Label3(link)), STN_CLICKED),
                 reinterpret_cast<LPARAM>(form.Label3(link)));
  }
  void Select(int from, int to) { SendMessageW(form.Txt(), EM_SETSEL, from, to); }
  void Type(std::u16string_view text) {
    for (const char16_t c : text) SendMessageW(form.Txt(), WM_CHAR, c, 1);
  }
  void Press(Key key) {  // Ctrl with a letter: the key, then the character it types
    if (key != Key::Delete && key != Key::ShiftInsert) {
      PressWith(VK_CONTROL, "\0AZSCXVY"[static_cast<int>(key)]);
      return Type(std::u16string(1, u"\0\x01\x1A\x13\x03\x18\x16\x19"[static_cast<int>(key)]));
    }
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_SHIFT] = key == Key::ShiftInsert ? 0x80 : 0;
    SetKeyboardState(keys);
    SendMessageW(form.Txt(), WM_KEYDOWN, key == Key::Delete ? VK_DELETE : VK_INSERT, 1);
    keys[VK_SHIFT] = 0;
    SetKeyboardState(keys);
  }
  // Copied from another program's text box; or, formatted, from a word processor: the text in
  // bold as HTML and RTF beside the plain text.
  void Paste(const std::u16string& text, bool formatted = false) {
    const HWND other = CreateWindowW(L"EDIT", reinterpret_cast<const wchar_t*>(text.c_str()), ES_MULTILINE, 0, 0, 0,
                                     0, nullptr, nullptr, nullptr, nullptr);
    SendMessageW(other, EM_SETSEL, 0, -1);
    SendMessageW(other, WM_COPY, 0, 0);
    const std::string ascii(text.begin(), text.end());
    if (formatted && OpenClipboard(other)) {  // the box owns what it copied
      for (const auto& [format, markup] :
           {std::pair{L"Rich Text Format", "{\\rtf1{\\b " + ascii + "}}"}, {L"HTML Format", "<b>" + ascii + "</b>"}}) {
        const HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, markup.size() + 1);
        std::memcpy(GlobalLock(block), markup.c_str(), markup.size() + 1);
        GlobalUnlock(block);
        SetClipboardData(RegisterClipboardFormatW(format), block);
      }
      CloseClipboard();
    }
    DestroyWindow(other);
    Press(Key::ShiftInsert);
  }
  // Txt's context menu opened by the keyboard: its entries as shown, each followed by "|", and the
  // letters of those enabled ('-' for one that is not); then the one whose letter is typed, or
  // none for Escape.
  std::pair<std::u16string, std::string> ContextMenu(char16_t letter) {
    menu = {letter, {}};
    const UINT_PTR timer = SetTimer(nullptr, 0, 50, &ReadMenu);
    SendMessageW(form.Txt(), WM_CONTEXTMENU, WPARAM(form.Txt()), -1);
    KillTimer(nullptr, timer);
    return menu.entries;
  }
  bool CloseAnswering(Key key) {  // the real prompt, answered by a key press
    answerKey = key == Key::Enter ? VK_RETURN : VK_ESCAPE;
    const UINT_PTR timer = SetTimer(nullptr, 0, 50, &AnswerPrompt);
    SendMessageW(form.Handle(), WM_CLOSE, 0, 0);
    KillTimer(nullptr, timer);
    return !IsWindow(form.Handle());
  }
  void Resize(int width, int height) {
    SetWindowPos(form.Handle(), nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER);
    Pump();
  }
  int Rows() { return static_cast<int>(SendMessageW(form.Txt(), EM_GETLINECOUNT, 0, 0)); }
  // Txt's width and height and the save link's place, in pixels, as placed and as the rule says.
  std::pair<std::vector<int>, std::vector<int>> Placement() {
    RECT client, outer, txt, link;
    GetClientRect(form.Handle(), &client);
    GetWindowRect(form.Handle(), &outer);
    GetWindowRect(form.Txt(), &txt);
    GetWindowRect(form.Label3(1), &link);
    MapWindowPoints(nullptr, form.Handle(), reinterpret_cast<POINT*>(&link), 2);
    const window::Layout rule = window::LayOut({form.PixelsToTwips(client.right), form.PixelsToTwips(client.bottom),
                                                form.PixelsToTwips(outer.right - outer.left)});
    return {{txt.right - txt.left, txt.bottom - txt.top, link.left, link.top},
            {form.TwipsToPixels(rule.txtWidth), form.TwipsToPixels(rule.txtHeight),
             form.TwipsToPixels(rule.label3Left[1]), form.TwipsToPixels(rule.label3Top[1])}};
  }

  // Ctrl+G, the number typed over the one offered and 转到 pressed: what the dialog offered, and
  // whether it stayed open (then cancelled).
  std::pair<std::u16string, bool> GoToLine(const std::u16string& typed) {
    goTo = {typed, u"", false};
    const UINT_PTR timer = SetTimer(nullptr, 0, 50, &AnswerGoTo);
    PressWith(VK_CONTROL, 'G');
    KillTimer(nullptr, timer);
    return {goTo.offered, goTo.stayed};
  }
  void OpenFind(bool replacing) { PressWith(VK_CONTROL, replacing ? 'H' : 'F'); }
  void FindAgain(bool down) { PressWith(down ? 0 : VK_SHIFT, VK_F3); }
  int FindKind() {  // 0: no dialog, 1: Find, 2: Replace
    const HWND dialog = form.FindDialog();
    return !dialog || !IsWindowVisible(dialog) ? 0 : GetDlgItem(dialog, edt2) ? 2 : 1;
  }
  // What the dialog sends its owner when a button is pressed. (Wine's dialog passes what is typed
  // into it through the ANSI code page, so the test fills in the search as the dialog hands it on.)
  void Search(const window::Search& search, Button button) {
    FINDREPLACEW& dialog = form.DialogSearch();
    const auto fill = [](wchar_t* field, const std::u16string& text) {
      *std::copy(text.begin(), text.end(), field) = L'\0';
    };
    fill(dialog.lpstrFindWhat, search.what);
    fill(dialog.lpstrReplaceWith, search.with);
    const DWORD pressed = button == Button::FindNext ? FR_FINDNEXT : button == Button::Replace ? FR_REPLACE : FR_REPLACEALL;
    dialog.Flags = pressed | (search.down ? FR_DOWN : 0) | (search.matchCase ? FR_MATCHCASE : 0) |
                   (search.wholeWord ? FR_WHOLEWORD : 0);
    SendMessageW(form.Handle(), RegisterWindowMessageW(FINDMSGSTRINGW), 0, reinterpret_cast<LPARAM>(&dialog));
  }
  std::pair<int, int> Selected() {  // in CR LF-counted units: the control counts a line break once
    CHARRANGE range = {};
    SendMessageW(form.Txt(), EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&range));
    std::u16string before(static_cast<std::size_t>(range.cpMax) + 1, u'\0');
    TEXTRANGEW read = {{0, range.cpMax}, reinterpret_cast<wchar_t*>(before.data())};
    before.resize(static_cast<std::size_t>(SendMessageW(form.Txt(), EM_GETTEXTRANGE, 0, reinterpret_cast<LPARAM>(&read))));
    return {static_cast<int>(window::TextPosition(before, static_cast<std::size_t>(range.cpMin))),
            static_cast<int>(window::TextPosition(before, before.size()))};
  }

  window::win32::MainForm form;

 private:
  void PressWith(int modifier, WPARAM key) {
    BYTE keys[256];
    GetKeyboardState(keys);
    if (modifier) keys[modifier] = 0x80;
    SetKeyboardState(keys);
    SendMessageW(form.Txt(), WM_KEYDOWN, key, 1);
    if (modifier) keys[modifier] = 0;
    SetKeyboardState(keys);
  }
  static std::u16string WindowText(HWND window) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return {text.begin(), text.end()};
  }
  static void Pump() {
    for (MSG message; PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE);) DispatchMessageW(&message);
  }
  static void CALLBACK AnswerPrompt(HWND, UINT, UINT_PTR, DWORD) {  // the message box's dialog class
    if (const HWND box = FindWindowW(L"#32770", nullptr)) PostMessageW(box, WM_KEYDOWN, answerKey, 1);
  }
  static inline WPARAM answerKey = 0;
  static void CALLBACK AnswerGoTo(HWND, UINT, UINT_PTR, DWORD) {
    const HWND dialog = FindWindowW(L"#32770", L"转到指定行");
    if (!dialog) return;
    const HWND number = FindWindowExW(dialog, nullptr, L"Edit", nullptr);
    if (!goTo.offered.empty()) {  // pressed once already, and still open
      goTo.stayed = true;
      SendMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
      return;
    }
    goTo.offered = WindowText(number);
    SetWindowTextW(number, reinterpret_cast<const wchar_t*>(goTo.typed.c_str()));
    SendMessageW(dialog, WM_COMMAND, IDOK, 0);
  }
  static inline struct { std::u16string typed, offered; bool stayed; } goTo;
  static void CALLBACK ReadMenu(HWND, UINT, UINT_PTR, DWORD) {
    const HWND shown = FindWindowW(L"#32768", nullptr);
    const auto read = reinterpret_cast<HMENU>(shown ? SendMessageW(shown, MN_GETHMENU, 0, 0) : 0);
    if (!read || !menu.entries.first.empty()) return;
    for (int item = 0; item < GetMenuItemCount(read); ++item) {
      wchar_t caption[64] = {};
      const int length = GetMenuStringW(read, item, caption, 64, MF_BYPOSITION);
      menu.entries.first += std::u16string(caption, caption + length) + u"|";
      if (length) menu.entries.second += GetMenuState(read, item, MF_BYPOSITION) & MF_GRAYED ? '-' : char(caption[length - 2]);
    }
    if (menu.letter) PostMessageW(shown, WM_CHAR, menu.letter, 1);
    else PostMessageW(shown, WM_KEYDOWN, VK_ESCAPE, 1);
  }
  static inline struct { char16_t letter; std::pair<std::u16string, std::string> entries; } menu;
};

#else

// The test run's one QApplication, made at first use and never destroyed: Qt's exit handlers may
// still use it.
QApplication& App() {
  static int argc = 1;
  static char name[] = "velmora_test", *argv[] = {name, nullptr};
  static auto* application = new QApplication(argc, argv);
  return *application;
}

class Driver {
 public:
  explicit Driver(store::Common& common) : form((App(), common)) {}
  void Show() {
    form.show();
    form.activateWindow();
    QApplication::processEvents();
  }
  std::u16string Caption() const { return form.windowTitle().toStdU16String(); }
  std::u16string Shown() {  // lines joined by CR LF, as the EDIT control holds them
    return form.Txt().toPlainText().replace(QStringLiteral("\n"), QStringLiteral("\r\n")).toStdU16String();
  }
  bool TxtHasFocus() { return form.Txt().hasFocus(); }
  bool LinkCursorOver(int control) {
    const QWidget& target = control < 0 ? static_cast<QWidget&>(form.Txt()) : form.Label3(control);
    return target.cursor().shape() == Qt::BitmapCursor;
  }
  std::vector<int> MarkedLines() {
    QApplication::processEvents();
    std::vector<int> marked;
    for (const QTextEdit::ExtraSelection& mark : form.Txt().extraSelections())
      if (marked.empty() || marked.back() != mark.cursor.blockNumber()) marked.push_back(mark.cursor.blockNumber());
    return marked;
  }
  void Click(int link) { QTest::mouseClick(&form.Label3(link), Qt::LeftButton); }
  void Select(int from, int to) {
    QTextCursor cursor = form.Txt().textCursor();
    cursor.setPosition(from);
    cursor.setPosition(to, QTextCursor::KeepAnchor);
    form.Txt().setTextCursor(cursor);
  }
  void Type(std::u16string_view text) {
    for (const char16_t c : text) QTest::sendKeyEvent(QTest::Press, &form.Txt(), Qt::Key_unknown, QChar(c), {});
  }
  void Press(Key key) {
    static const Qt::Key codes[] = {Qt::Key_Delete, Qt::Key_A, Qt::Key_Z, Qt::Key_S,
                                    Qt::Key_C,      Qt::Key_X, Qt::Key_V, Qt::Key_Y, Qt::Key_Insert};
    const Qt::Key code = codes[static_cast<int>(key)];
    QTest::keyClick(&form.Txt(), code, code >= Qt::Key_A && code <= Qt::Key_Z ? Qt::ControlModifier
                                       : code == Qt::Key_Insert             ? Qt::ShiftModifier
                                                                            : Qt::NoModifier);
  }
  void Paste(const std::u16string& text, bool formatted = false) {
    auto* copied = new QMimeData;
    copied->setText(QString::fromStdU16String(text));
    if (formatted) {
      copied->setHtml(QStringLiteral("<b>%1</b>").arg(copied->text()));
      copied->setData(QStringLiteral("text/rtf"), "{\\rtf1{\\b " + copied->text().toUtf8() + "}}");
    }
    QApplication::clipboard()->setMimeData(copied);
    Press(Key::ShiftInsert);
  }
  bool CloseAnswering(Key key) {
    QTimer::singleShot(50, [key] {
      QTest::keyClick(QApplication::activeModalWidget(), key == Key::Enter ? Qt::Key_Return : Qt::Key_Escape);
    });
    return form.close();
  }
  void Resize(int width, int height) {
    form.resize(width, height);
    QApplication::processEvents();
  }
  int Rows() { return form.Txt().document()->documentLayout()->documentSize().height(); }  // of text, in rows
  std::pair<std::vector<int>, std::vector<int>> Placement() {
    const window::Layout rule = window::LayOut({form.PixelsToTwips(form.width()), form.PixelsToTwipsY(form.height()),
                                                form.PixelsToTwips(form.frameGeometry().width())});
    return {{form.Txt().width(), form.Txt().height(), form.Label3(1).x(), form.Label3(1).y()},
            {form.TwipsToPixels(rule.txtWidth), form.TwipsToPixelsY(rule.txtHeight),
             form.TwipsToPixels(rule.label3Left[1]), form.TwipsToPixelsY(rule.label3Top[1])}};
  }

  std::pair<std::u16string, bool> GoToLine(const std::u16string& typed) {
    std::pair<std::u16string, bool> seen{u"", false};
    QTimer::singleShot(0, [&] {
      QWidget* dialog = QApplication::activeModalWidget();
      auto* number = dialog->findChild<QLineEdit*>();
      seen.first = number->text().toStdU16String();
      number->setText(QString::fromStdU16String(typed));
      for (QPushButton* button : dialog->findChildren<QPushButton*>())
        if (button->text() == QStringLiteral("转到")) button->click();
      seen.second = dialog->isVisible();
      if (seen.second) static_cast<QDialog*>(dialog)->reject();
    });
    QTest::keyClick(&form.Txt(), Qt::Key_G, Qt::ControlModifier);
    return seen;
  }
  void OpenFind(bool replacing) {
    QTest::keyClick(&form.Txt(), replacing ? Qt::Key_H : Qt::Key_F, Qt::ControlModifier);
  }
  void FindAgain(bool down) { QTest::keyClick(&form.Txt(), Qt::Key_F3, down ? Qt::NoModifier : Qt::ShiftModifier); }
  int FindKind() {
    window::FindDialog& dialog = form.Finding();
    return !dialog.isVisible() ? 0 : dialog.With().isVisible() ? 2 : 1;
  }
  void Search(const window::Search& search, Button button) {
    window::FindDialog& dialog = form.Finding();
    dialog.What().setText(QString::fromStdU16String(search.what));
    dialog.With().setText(QString::fromStdU16String(search.with));
    dialog.MatchCase().setChecked(search.matchCase);
    dialog.WholeWord().setChecked(search.wholeWord);
    (search.down ? dialog.Down() : dialog.Up()).setChecked(true);
    (button == Button::FindNext  ? dialog.FindNextButton()
     : button == Button::Replace ? dialog.ReplaceButton()
                                 : dialog.ReplaceAllButton()).click();
  }
  std::pair<int, int> Selected() {  // in CR LF-counted units: a line break is one unit in the box
    const QTextCursor cursor = form.Txt().textCursor();
    const auto crLf = [&](int at) { return at + form.Txt().document()->findBlock(at).blockNumber(); };
    return {crLf(cursor.selectionStart()), crLf(cursor.selectionEnd())};
  }

  window::MainForm form;
};

#endif

class WindowContract : public testing::Test {
 protected:
  void Start(const std::string& rows) {
    CreateReplyDatabase(dir.DatabaseFile(), rows);
    window.form.Form().StartUp();
    window.Show();
  }
  TempDir dir;
  store::Common common{dir.AppPath()};
  Driver window{common};
};

TEST_F(WindowContract, StartsWithTheKeyboardInTxtAndSavesAndReloads) {
  Start("('a', '1')");
  EXPECT_EQ(U8(window.Caption()), "Velmora");  // nothing changed yet
  EXPECT_TRUE(window.TxtHasFocus());
  EXPECT_EQ(std::vector<bool>({window.LinkCursorOver(-1), window.LinkCursorOver(0), window.LinkCursorOver(1)}),
            std::vector<bool>({false, true, true}));
  window.form.SetText(u"b###2");  // an assignment is a change, reported by the window itself
  EXPECT_TRUE(window.form.Form().Modified());
  EXPECT_EQ(U8(window.Caption()), "Velmora* ");
  window.Press(Key::Save);  // Ctrl+S
  EXPECT_EQ(std::make_tuple(U8(window.Caption()), U8(window.form.Text()), Dump(dir.DatabaseFile())),
            std::make_tuple("Velmora(保存成功)"s, "b###2"s, "b|2\n"s));
  Sql(dir.DatabaseFile(), "insert into zorvrobot (id, ask, answer) values (0, 'x', 'y')");
  window.form.SetCaretLine(0);
  window.Click(1);  // the save link saves with nothing changed, and shows what another program wrote
  EXPECT_EQ(std::make_tuple(U8(window.Caption()), U8(window.form.Text()), Dump(dir.DatabaseFile())),
            std::make_tuple("Velmora(保存成功)"s, "x###y\r\nb###2"s, "x|y\nb|2\n"s));
  EXPECT_FALSE(window.form.Form().Modified());
  EXPECT_EQ(window.form.CaretLine(), 1u) << "the caret stays on its line";
  window.Type(u"y");
  window.Click(0);  // the reload link drops the edit without asking
  EXPECT_EQ(std::make_pair(U8(window.Caption()), U8(window.form.Text())),
            std::make_pair("Velmora(加载完毕)"s, "x###y\r\nb###2"s));
}

// Ctrl+G offers the caret's line, goes to the start of the line typed, and says so where there is
// no such line, the dialog staying for another. Lines are counted by CR LF, not as wrapped.
TEST_F(WindowContract, GoesToALineByItsNumber) {
  Start("('a', '1'), ('长', replace(hex(zeroblob(300)), '00', 'ww ')), ('c', '3')");
  std::vector<std::string> told;
  window.form.messageHook = [&](std::u16string_view text, auto, auto, std::u16string_view) {
    return told.push_back(U8(text)), editor::vbOK;
  };
  window.form.SetCaretLine(2);
  EXPECT_EQ(window.GoToLine(u"2"), std::make_pair(u"3"s, false));
  EXPECT_EQ(window.form.CaretLine(), 1u);
  const auto start = static_cast<int>(window.Shown().find(u"长###"));
  EXPECT_EQ(window.Selected(), std::make_pair(start, start)) << "the caret at the line's start";
  for (const std::u16string& typed : {u"4"s, u"0"s}) {
    EXPECT_EQ(window.GoToLine(typed), std::make_pair(u"2"s, true)) << U8(typed);
    EXPECT_EQ(window.form.CaretLine(), 1u);
  }
  EXPECT_EQ(told, std::vector<std::string>(2, "行号超出了总行数。"));
}

// A save the table's rules refuse for one entry says which line, left-out lines counted, and the
// box then selects that line.
TEST_F(WindowContract, SelectsTheLineASaveWasRefusedFor) {
  Sql(dir.DatabaseFile(), "create table zorvrobot (id integer primary key, ask text check (length(ask) <= 255), answer "
                          "text); insert into zorvrobot values (1, 'a', '1')");
  window.form.Form().StartUp();
  window.Show();
  std::vector<std::string> told;
  window.form.messageHook = [&](std::u16string_view text, auto, auto, std::u16string_view) {
    return told.push_back(U8(text)), editor::vbOK;
  };
  const std::u16string line = std::u16string(256, u'问') + u"###x";
  window.form.SetText(u"a###1\r\n\r\n" + line);
  window.Press(Key::Save);
  ASSERT_EQ(told.size(), 1u);
  EXPECT_NE(told[0].find("问题出在第 3 行"), std::string::npos) << told[0];
  const auto start = static_cast<int>(window.Shown().find(line));
  EXPECT_EQ(window.Selected(), std::make_pair(start, start + static_cast<int>(line.size())));
  EXPECT_EQ(Dump(dir.DatabaseFile()), "a|1\n");
}

// Every unit a box cannot show as it is, next to every other: shown as the same stand-ins in
// both windows, and given back exactly.
TEST_F(WindowContract, ShowsTheSameStandInsAndGivesBackEveryCodeUnit) {
  Start("");
  const std::u16string units = {u'a', u'问', u' ', u'#', u'\r', u'\n', u'\t', 0x2028, 0x2029, 0xFDD0, 0xFDD1, 0,
                                0xD800, 0xDC00, 0xDCC4, 0x240A, 0x240D, 0x00B6, 0x2424, 0xFFFD, 0xD83D, 0xDE00};
  std::u16string text;
  for (char16_t first : units)
    for (char16_t second : units) text += std::u16string{first, second, u'x'};
  window.form.SetText(text + u"\r\n");
  EXPECT_EQ(window.form.Text(), text + u"\r\n");
  window.form.SetText(u"a\xDCC4###\xD800\0\r\n\u2028b\rc\nd\u2029\r\n"s);
  EXPECT_EQ(U8(window.Shown()), U8(u"a\uFFFD###\uFFFD\u2400\r\n\u2424b\u240Dc\u240Ad\u00B6\r\n"));
}

// Edits next to stand-ins ("a␊b" for a lone LF, "c¶" for U+2029) leave every unit the operator did not
// change as it was; a stand-in character typed, pasted from another program or assigned stays
// what it is; a copy inside the window carries the units it shows.
TEST_F(WindowContract, EditsKeepEveryCodeUnitTheOperatorDidNotChange) {
  const struct {
    const char* name;
    std::function<void(Driver&)> edit;
    std::u16string after;
  } edits[] = {
      {"typed around a stand-in", [](Driver& w) { w.Select(1, 1); w.Type(u"x"); w.Select(3, 3); w.Type(u"y"); },
       u"ax\nyb\r\nc\u2029"},
      {"the same stand-in typed before it", [](Driver& w) { w.Select(1, 1); w.Type(u"\u240A"); },
       u"a\u240A\nb\r\nc\u2029"},
      {"a stand-in deleted", [](Driver& w) { w.Select(1, 1); w.Press(Key::Delete); }, u"ab\r\nc\u2029"},
      {"a stand-in replaced, then undone elsewhere",
       [](Driver& w) { w.Select(1, 2); w.Type(u"z"); w.Select(0, 0); w.Press(Key::Undo); },
       u"a\nb\r\nc\u2029"},
      {"pasted line ends break lines", [](Driver& w) { w.Select(3, 3); w.Paste(u"p\r\nq\nr\rs\u2028t\u2029u\u240A"); },
       u"a\nbp\r\nq\r\nr\r\ns\r\nt\r\nu\u240A\r\nc\u2029"},
      {"all selected and replaced", [](Driver& w) { w.Press(Key::SelectAll); w.Type(u"n"); }, u"n"},
      {"copied and pasted", [](Driver& w) { w.Select(0, 2); w.Press(Key::Copy); w.Select(3, 3); w.Press(Key::Paste); },
       u"a\nba\n\r\nc\u2029"},
      {"all cut and pasted twice",
       [](Driver& w) { w.Press(Key::SelectAll); w.Press(Key::Cut); w.Press(Key::Paste); w.Press(Key::Paste); },
       u"a\nb\r\nc\u2029a\nb\r\nc\u2029"},
      {"text of stand-ins assigned with the cursor by a stand-in",
       [](Driver& w) { w.Select(2, 2); w.form.SetText(u"\u00B6\u240A\u240D\u2424\uFFFD###a"); },
       u"\u00B6\u240A\u240D\u2424\uFFFD###a"},
  };
  Start("");
  for (const auto& edit : edits) {
    SCOPED_TRACE(edit.name);
    window.form.SetText(u"a\nb\r\nc\u2029");
    edit.edit(window);
    EXPECT_EQ(U8(window.form.Text()), U8(edit.after));
  }
}

// Edits undone one by one back to the text as loaded, every unit with it ("␊" shows a lone LF,
// "¶" U+2029), and redone; an undo is a change like typing. A save keeps the history, a reload
// starts it anew, and a thousand pastes are a thousand steps. Text pasted from a word processor
// arrives as its plain text.
TEST_F(WindowContract, UndoesAndRedoesEveryStep) {
  Start("('a', 'x' || char(10) || 'y'), ('b', 'z' || char(8233))");
  std::vector<std::u16string> steps = {window.form.Text()};
  window.Select(5, 6), window.Type(u"1"), steps.push_back(window.form.Text());      // over the ␊
  window.Select(13, 14), window.Paste(u"2"), steps.push_back(window.form.Text());  // over the ¶
  window.Select(0, 0), window.Type(u"3"), steps.push_back(window.form.Text());
  EXPECT_EQ(U8(steps.back()), "3a###x1y\r\nb###z2");
  for (const auto& [key, step] : {std::pair{Key::Undo, 2}, {Key::Undo, 1}, {Key::Undo, 0}, {Key::Redo, 1}, {Key::Redo, 2}, {Key::Redo, 3}}) {
    window.Press(key);
    EXPECT_EQ(U8(window.form.Text()), U8(steps[static_cast<std::size_t>(step)])) << step;
  }
  window.Click(1);
  window.Press(Key::Undo);
  EXPECT_EQ(std::make_pair(U8(window.form.Text()), U8(window.Caption())), std::make_pair(U8(steps[2]), "Velmora* "s));
  window.Click(0);
  window.Press(Key::Undo);
  EXPECT_EQ(std::make_pair(U8(window.form.Text()), U8(window.Caption())),
            std::make_pair(U8(steps[3]), "Velmora(加载完毕)"s)) << "the table as saved, with nothing to undo";
  window.Select(0, 1);
  window.Press(Key::Copy);
  for (int paste = 0; paste < 1000; ++paste) window.Select(0, 0), window.Press(Key::Paste);
  for (int undo = 0; undo < 1001; ++undo) window.Press(Key::Undo);
  EXPECT_EQ(U8(window.form.Text()), U8(steps[3]));
  window.Select(0, 0);
  window.Paste(u"bold", true);
  EXPECT_EQ(U8(window.form.Text()), U8(u"bold" + steps[3]));
}

TEST_F(WindowContract, MarksTheLinesASaveWouldLeaveOut) {
  Start("");
  window.form.SetText(u"a###b\r\n  a ### b  \r\n\r\n   \r\nno separator\r\n###b\r\na###\r\na##b\r\n\n\r\nc###d");
  EXPECT_EQ(window.MarkedLines(), (std::vector<int>{4, 5, 6, 7, 8}));
  window.Select(0, 0);
  window.Press(Key::Delete);  // "###b" now
  EXPECT_EQ(window.MarkedLines(), (std::vector<int>{0, 4, 5, 6, 7, 8}));
  // Typed below the first line of a text longer than the view: a line mended by the character
  // typed loses its mark, one still left out keeps it.
  std::u16string lines;
  for (int line = 0; line < 60; ++line) lines += line == 2 ? u"a##b\r\n" : line == 3 ? u"c###\r\n" : u"q###a\r\n";
  window.form.SetText(lines);
  for (const auto& [at, typed, marked] : {std::tuple{21, u"z", std::vector<int>{2}}, {13, u"x", {2}}, {15, u"#", {}}}) {
    window.Select(at, at);
    window.Type(typed);
    EXPECT_EQ(window.MarkedLines(), marked) << U8(typed);
  }
}

// Find and replace over the text as shown, a stand-in ("␊" for the lone LF) found as what it
// shows: finding wraps round once and changes nothing; replacing all is one edit, counted, which
// one undo takes back, and the stand-ins outside the matches keep their units.
TEST_F(WindowContract, FindsAndReplacesOverTheTextAsShown) {
  Start("('Apple', 'red apple'), ('applet', 'x' || char(10) || 'Apple')");
  const std::u16string loaded = window.form.Text();
  std::vector<std::string> told;
  window.form.messageHook = [&](std::u16string_view text, auto, auto, std::u16string_view title) {
    return told.push_back(U8(std::u16string(title) + u": " + std::u16string(text))), editor::vbOK;
  };
  enum Step { Dialog, Again, Back };  // the dialog's Find Next, F3, Shift+F3
  const struct {
    Step step;
    window::Search search;
    std::pair<int, int> selected;
  } finds[] = {{Dialog, Find(u"apple"), {0, 5}}, {Again, {}, {12, 17}}, {Again, {}, {19, 24}}, {Again, {}, {30, 35}},
               {Again, {}, {0, 5}}, {Back, {}, {30, 35}}, {Dialog, Find(u"Apple", u"", true, false, false), {0, 5}},
               {Dialog, Find(u"APPLE", u"", false, true), {12, 17}}, {Again, {}, {30, 35}},
               {Dialog, Find(u"\u240AApple"), {29, 35}}, {Dialog, Find(u"pear"), {29, 35}}};
  window.Select(0, 0);
  window.OpenFind(false);
  EXPECT_EQ(window.FindKind(), 1);
  for (const auto& find : finds) {
    if (find.step == Dialog) window.Search(find.search, Button::FindNext);
    else window.FindAgain(find.step == Again);
    EXPECT_EQ(window.Selected(), find.selected) << U8(find.search.what);
  }
  EXPECT_EQ(told, std::vector<std::string>{"Velmora: 找不到 “pear”"});
  EXPECT_EQ(std::make_pair(window.form.Text(), window.form.Form().Modified()), std::make_pair(loaded, false));

  window.OpenFind(true);
  EXPECT_EQ(window.FindKind(), 2);
  window.Select(0, 0);
  for (int press = 0; press < 2; ++press) window.Search(Find(u"apple", u"梨"), Button::Replace);  // finds, then replaces
  EXPECT_EQ(window.Selected(), std::make_pair(8, 13));
  const std::u16string replacedOne = window.form.Text();
  EXPECT_EQ(U8(replacedOne), U8(u"梨###red apple\r\napplet###x\nApple"));
  window.Search(Find(u"apple", u"梨"), Button::ReplaceAll);
  EXPECT_EQ(U8(window.form.Text()), U8(u"梨###red 梨\r\n梨t###x\n梨"));
  EXPECT_EQ(U8(window.Caption()), "Velmora* ");
  window.Select(0, 0);
  window.Type(u"z");
  window.Press(Key::Undo);
  window.Press(Key::Undo);
  EXPECT_EQ(U8(window.form.Text()), U8(replacedOne)) << "one undo takes the whole replace back, after typing";
  window.Search(Find(u"###"), Button::ReplaceAll);
  EXPECT_EQ(window.MarkedLines(), (std::vector<int>{0, 1}));
  window.Search(Find(u"x", u"a\nb"), Button::ReplaceAll);
  EXPECT_EQ(told, (std::vector<std::string>{"Velmora: 找不到 “pear”", "Velmora: 已替换 3 处。", "Velmora: 已替换 2 处。",
                                            "Velmora: 查找内容和替换内容都不能包含换行。"}));
}

// Enter takes the prompt's first button, Yes, and saves; Escape is Cancel and keeps the window.
TEST_F(WindowContract, TheClosePromptTakesEnterAsYesAndEscapeAsCancel) {
  Start("('a', '1')");
  window.Select(0, 0);
  window.Type(u"x");
  EXPECT_FALSE(window.CloseAnswering(Key::Escape));
  EXPECT_EQ(Dump(dir.DatabaseFile()), "a|1\n");
  EXPECT_TRUE(window.CloseAnswering(Key::Enter));
  EXPECT_EQ(Dump(dir.DatabaseFile()), "xa|1\n");
}

TEST(LayOut, PlacesTheControlsByTheRule) {
  const struct {
    window::LayoutInput size;  // inner width and height, outer width, in twips
    int txtWidth, txtHeight, labelTop, saveLeft, reloadLeft;
  } cases[] = {
      {{9300, 6375, 9540}, 9300, 6025, 6115, 8540, 7540},   {{9300, 6375, 9300}, 9300, 6025, 6115, 8300, 7300},
      {{1500, 6375, 1740}, 1500, 6025, 6115, 740, -260},    {{9300, 350, 9540}, 9300, 0, 90, 8540, 7540},
      {{9300, 200, 9540}, 9300, 0, -60, 8540, 7540},        {{0, 0, 0}, 0, 0, -260, -1000, -2000},
  };
  for (const auto& c : cases) {
    const window::Layout out = window::LayOut(c.size);
    const std::vector<int> got = {out.txtWidth, out.txtHeight, out.label1Top, out.label2Top, out.label3Top[0],
                                  out.label3Top[1], out.label3Left[1], out.label3Left[0]};
    EXPECT_EQ(got, (std::vector<int>{c.txtWidth, c.txtHeight, c.labelTop, c.labelTop, c.labelTop, c.labelTop,
                                     c.saveLeft, c.reloadLeft}));
  }
}

// The search itself, over shown texts: letters of both cases in the scripts that have them, word
// edges beside Chinese, a match across the blocks the scan looks at, wrapping round upwards; and
// the stand-ins a replace of every match keeps, moved, or drops with the match that covered them.
TEST(Find, MatchesAndReplacesOverShownText) {
  const std::u16string a64(64, u'a'), a130(130, u'a');
  const struct {
    std::u16string text;
    window::Search search;
    window::Stretch from;
    std::optional<std::pair<std::size_t, std::size_t>> found;
  } finds[] = {
      {u"да ПРИВЕТ", Find(u"привет"), {}, std::pair{3, 9}}, {u"型号ＡＢＣ", Find(u"ａｂｃ"), {}, std::pair{2, 5}},
      {u"x\u0100", Find(u"\u0101"), {}, std::pair{1, 2}}, {u"ПРИВЕТ", Find(u"привет", u"", true), {}, std::nullopt},
      {u"申请退款###退款", Find(u"退款", u"", false, true), {}, std::pair{7, 9}},
      {a64 + u"xyz" + a130, Find(u"xyz"), {}, std::pair{64, 67}}, {a130 + u"xyz", Find(u"XYZ"), {}, std::pair{130, 133}},
      {u"ab ab ab", Find(u"ab", u"", false, false, false), {3, 5}, std::pair{0, 2}},
      {u"ab ab ab", Find(u"ab", u"", false, false, false), {0, 2}, std::pair{6, 8}},
      {u"abab", Find(u"ab", u"", false, false, false), {2, 4}, std::pair{0, 2}}, {u"3\u00f72", Find(u"\u00d7"), {}, std::nullopt},
      {a64 + a64.substr(28) + u"Hello" + a130, Find(u"hello"), {}, std::pair{100, 105}},
  };
  for (const auto& find : finds) {
    const auto match = window::FindMatch(find.text, find.search, find.from);
    EXPECT_EQ(match ? std::optional(std::pair{match->start, match->end}) : std::nullopt, find.found) << U8(find.text);
  }
  std::u16string text = u"a\u240Ab a\u240Ab";
  std::vector<window::Original> originals = {{1, u'\n'}, {5, u'\n'}};
  EXPECT_EQ(window::ReplaceMatches(text, originals, Find(u"b", u"cc")), 2u);
  EXPECT_EQ(std::make_tuple(U8(text), originals.size(), originals.back().position), std::make_tuple(U8(u"a\u240Acc a\u240Acc"), 2u, 6u));
  EXPECT_EQ(window::ReplaceMatches(text, originals, Find(u"\u240Acc ")), 1u);
  EXPECT_EQ(std::make_tuple(U8(text), originals.size(), originals.back().position), std::make_tuple(U8(u"aa\u240Acc"), 1u, 2u));
}

// Positions pass between the text, lines ending in CR LF, and a box that holds each line break
// as one character: both ways alike, a place inside a CR LF taken as after it, past the end as
// the end.
TEST(BoxPositions, CountEachLineBreakOnceInTheBox) {
  const std::u16string text = u"ab\r\n\r\nc", box = u"ab\r\rc";
  // A text position, its box position, and that box position's text position.
  const std::size_t rows[][3] = {{0, 0, 0}, {2, 2, 2}, {3, 3, 4}, {4, 3, 4}, {5, 4, 6}, {6, 4, 6}, {7, 5, 7}, {9, 5, 7}};
  for (const auto& [inText, inBox, back] : rows)
    EXPECT_EQ(std::make_pair(window::BoxPosition(text, inText), window::TextPosition(box, inBox)), std::make_pair(inBox, back))
        << inText;
}

// An undo of an edit older than every text the track knows again still gives back the stand-in
// the edit replaced ("a␊b" for a lone LF), once the undos put its text back in place.
TEST(StandInTrack, GivesAReplacedStandInBackBeyondTheTextsItKnows) {
  window::StandInTrack track;
  const std::u16string shown = track.Show(u"a\nb");
  track.Follow(u"azb", 1);
  std::vector<std::u16string> typed;  // then as many other edits, each its own text
  for (char16_t edit = 0; edit <= window::StandInTrack::kTextsKept; ++edit) {
    typed.push_back(u"azb" + std::u16string(1, u'\x4E00' + edit));
    track.Follow(typed.back(), 3);
  }
  for (auto undone = typed.rbegin() + 1; undone != typed.rend(); ++undone) track.Follow(*undone, std::u16string::npos);
  track.Follow(u"azb", std::u16string::npos);
  track.Follow(shown, std::u16string::npos);
  EXPECT_EQ(U8(track.Restore(shown)), U8(u"a\nb"));
}

// The controls go where the rule puts them, and a long line wraps at Txt's width, at any size.
TEST_F(WindowContract, PlacesTheControlsByTheLayoutRuleAndWrapsAtEverySize) {
  Start("('长', replace(hex(zeroblob(300)), '00', 'ww '))");
  std::vector<int> rows;
  for (const auto& [width, height] : {std::pair{800, 600}, {620, 425}, {300, 200}}) {
    window.Resize(width, height);
    const auto [placed, rule] = window.Placement();
    EXPECT_EQ(placed, rule) << width;
    rows.push_back(window.Rows());
  }
  EXPECT_TRUE(rows[0] > 1 && rows[0] < rows[1] && rows[1] < rows[2]) << rows[0] << " " << rows[1] << " " << rows[2];
}

#ifdef _WIN32

// Txt's own menu, read from the menu as it is shown: the system text box's entries, each enabled
// only when it can act, and each doing what its key does (a copy carries the units it shows).
TEST_F(WindowContract, TheTextMenuOffersWhatCanBeDoneAndDoesIt) {
  Start("('a', 'x' || char(10) || 'y')");
  OpenClipboard(nullptr), EmptyClipboard(), CloseClipboard();
  const std::u16string loaded = u"a###x\ny";
  const struct {
    int from, to;         // selected before the menu opens
    char16_t letter;      // typed in the menu
    std::string enabled;  // the entries' letters, '-' for one not enabled
    std::u16string after;
  } steps[] = {{0, 0, u'a', "------A", loaded},         {0, 7, u'c', "--TC-D-", loaded},
               {7, 7, u'p', "----P-A", loaded + loaded}, {7, 7, u'u', "U---P-A", loaded},
               {7, 7, u'r', "-R--P-A", loaded + loaded}, {0, 1, u'd', "U-TCPDA", loaded.substr(1) + loaded},
               {0, 3, u't', "U-TCPDA", loaded.substr(4) + loaded}};
  for (const auto& step : steps) {
    window.Select(step.from, step.to);
    const auto [captions, enabled] = window.ContextMenu(step.letter);
    EXPECT_EQ(U8(captions), "撤消(&U)|重做(&R)||剪切(&T)|复制(&C)|粘贴(&P)|删除(&D)||全选(&A)|");
    EXPECT_EQ(std::make_pair(enabled, U8(window.form.Text())), std::make_pair(step.enabled, U8(step.after))) << step.letter;
  }
}

#endif

#ifndef _WIN32

// Read in pieces that cut lines and pairs anywhere, the box gives back every unit.
TEST(TextMapping, ReadInPiecesTheBoxGivesBackEveryUnit) {
  App();
  const std::u16string text = u"a\r\n\n\r\u2028\u2029\uFDD0\xD800\xDC00\xDCC4\U0001F600\r\n\r\n";
  window::ReplyTextBox box;
  window::SetReplyText(box, text);
  for (const qsizetype piece : {1, 2, 3, 7, 64}) EXPECT_EQ(window::ReplyTextOf(box, 0, piece), text) << piece;
}

// Qt's own texts, as in the box's menu, are Chinese too.
TEST_F(WindowContract, TheBoxMenuIsChinese) {
  Start("");
  window::UseChineseTexts();
  const std::unique_ptr<QMenu> menu(window.form.Txt().createStandardContextMenu());
  for (const QAction* action : menu->actions())
    EXPECT_TRUE(action->isSeparator() || action->text().contains(QRegularExpression("[\\x{4E00}-\\x{9FFF}]")))
        << action->text().toStdString();
}

#endif

}  // namespace
