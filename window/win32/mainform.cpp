#include "window/win32/mainform.h"

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <type_traits>
#include <utility>
#include <vector>

#include "store/common.h"
#include "window/win32/clipboard.h"
#include "replytext/replytext.h"
#include "editor/messages.h"
#include "window/boxpositions.h"
#include "window/gotoline.h"
#include "window/layout.h"

namespace window::win32 {

namespace {

constexpr wchar_t kWindowClass[] = L"VelmoraMain";
constexpr UINT kDpiChanged = 0x02E0;  // WM_DPICHANGED, Windows 8.1 and later
// The width of Txt's left margin, where lines a save would leave out are marked, in twips.
constexpr int kMarkMarginTwips = 90;
constexpr COLORREF kMarkColour = RGB(255, 200, 200);

// Control ids, in tab order.
enum ControlId : int { kTxtId = 100, kLabel1Id, kLabel2Id, kLabel3Id0, kLabel3Id1 };

// Resource ids of the resource script.
constexpr int kAppIconId = 1;
constexpr int kWindowIconId = 2;
constexpr int kLinkCursorId = 101;
constexpr int kGoToDialogId = 201, kGoToLabelId = 1001, kGoToNumberId = 1002;  // the dialog's, in velmora.rc

const wchar_t* Wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

std::u16string Copy(std::u16string_view text) { return std::u16string(text); }

[[noreturn]] void Fail(const char* what) {
  throw std::runtime_error(std::string(what) + " failed (error " + std::to_string(GetLastError()) + ")");
}

// Txt's class comes from MSFTEDIT.DLL, loaded once for the whole run: a control of its class
// may live as long as the program.
void LoadRichEdit() {
  static const HMODULE library = LoadLibraryW(L"MSFTEDIT.DLL");
  if (!library) Fail("LoadLibrary(MSFTEDIT.DLL)");
}

// The steps Txt's undo history holds, as many as its stand-ins are followed through.
constexpr WPARAM kUndoSteps = StandInTrack::kEditsKept;

// A new RichEdit control made a plain-text box, undone and redone step by step, with no limit
// but memory's (the default is 64K). The mode is set while the control is empty with nothing to
// undo, so the font is set again after it, and what setting up left in the history is emptied.
void SetUpPlainText(HWND box) {
  SendMessageW(box, EM_EMPTYUNDOBUFFER, 0, 0);
  if (SendMessageW(box, EM_SETTEXTMODE, TM_PLAINTEXT | TM_MULTILEVELUNDO | TM_MULTICODEPAGE, 0) != 0)
    throw std::runtime_error("EM_SETTEXTMODE failed");
  SendMessageW(box, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
  SendMessageW(box, EM_SETUNDOLIMIT, kUndoSteps, 0);
  SendMessageW(box, EM_EXLIMITTEXT, 0, 0x7FFFFFFE);
  SendMessageW(box, EM_SETEVENTMASK, 0, ENM_CHANGE);
  SendMessageW(box, EM_EMPTYUNDOBUFFER, 0, 0);
}

// Puts text into an empty box a stretch of whole lines at a time, none of it to be undone, and
// puts the caret at the start. Wine's RichEdit takes time growing with the square of a text given
// in one message (about 150 s for 100,000 entries, where stretches of 200,000 units take 7 s).
// A stretch ends after a line break, so no CR LF is split between two.
void Fill(HWND box, std::u16string_view text) {
  constexpr std::size_t kStretch = 200000;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t lineEnd = at + kStretch < text.size() ? text.find(u'\n', at + kStretch) : text.npos;
    const std::size_t end = lineEnd == text.npos ? text.size() : lineEnd + 1;
    const std::u16string stretch(text.substr(at, end - at));
    SendMessageW(box, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(Wide(stretch)));
    at = end;
  }
  SendMessageW(box, EM_SETSEL, 0, 0);
  SendMessageW(box, EM_EMPTYUNDOBUFFER, 0, 0);
}

struct MenuDestroyer {
  void operator()(HMENU menu) const { DestroyMenu(menu); }
};

bool Held(int key) { return GetKeyState(key) < 0; }

// A key that would change the text's look rather than its text (bold, alignment, line spacing,
// font size and the like, all Ctrl with a letter, digit or punctuation key): plain text has none.
bool IsFormattingKey(UINT message, WPARAM key) {
  if (message != WM_KEYDOWN || !Held(VK_CONTROL) || Held(VK_MENU)) return false;
  return (key >= '0' && key <= 'Z') || (key >= VK_OEM_1 && key <= VK_OEM_3) || (key >= VK_OEM_4 && key <= VK_OEM_8);
}

}  // namespace

MainForm::MainForm(HINSTANCE instance, store::Common& common) : instance_(instance), form_(*this, common) {
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = &MainForm::WindowProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(kAppIconId));
  windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = kWindowClass;
  RegisterClassExW(&windowClass);  // fails harmlessly when a second form registers it again

  const HDC screen = GetDC(nullptr);
  dpi_ = GetDeviceCaps(screen, LOGPIXELSX);
  ReleaseDC(nullptr, screen);

  RECT frame = {0, 0, TwipsToPixels(kDesignWidth), TwipsToPixels(kDesignHeight)};
  AdjustWindowRectEx(&frame, WS_OVERLAPPEDWINDOW, FALSE, 0);
  window_ = CreateWindowExW(0, kWindowClass, L"", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT,
                            CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top, nullptr,
                            nullptr, instance, this);
  if (!window_) Fail("CreateWindowEx");
  findMessage_ = RegisterWindowMessageW(FINDMSGSTRINGW);
  windowIcon_ = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(kWindowIconId), IMAGE_ICON, 24, 24, 0));
  if (windowIcon_) SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(windowIcon_));
  CreateControls();
  // Where it will be shown, so that a message at start appears over that place too; and laid out
  // at its size, so that the loaded text is wrapped once, at the width it is shown in.
  Centre();
  LayOutControls();
}

MainForm::~MainForm() {
  if (window_) DestroyWindow(window_);
  if (linkFont_) DeleteObject(linkFont_);
  if (windowIcon_) DestroyIcon(windowIcon_);
}

HWND MainForm::Label(int number) const { return number == 1 ? label1_ : label2_; }

int MainForm::TwipsToPixels(int twips) const { return window::TwipsToPixels(twips, dpi_); }
int MainForm::PixelsToTwips(int pixels) const { return window::PixelsToTwips(pixels, dpi_); }

HWND MainForm::CreateControl(int id, const wchar_t* kind, const DesignedControl& design, DWORD style,
                             DWORD exStyle) {
  const std::u16string caption(design.caption);
  const HWND control = CreateWindowExW(exStyle, kind, Wide(caption), WS_CHILD | WS_VISIBLE | style,
                                       TwipsToPixels(design.left), TwipsToPixels(design.top),
                                       TwipsToPixels(design.width), TwipsToPixels(design.height), window_,
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
  if (!control) Fail("CreateWindowEx");
  SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
  return control;
}

void MainForm::CreateControls() {
  // Created in tab order, at their design places; StartUp and the layout move them.
  CreateTxt();
  label1_ = CreateControl(kLabel1Id, L"STATIC", kLabel1Design, SS_LEFT, 0);
  label2_ = CreateControl(kLabel2Id, L"STATIC", kLabel2Design, SS_LEFT, 0);
  label3_[0] = CreateControl(kLabel3Id0, L"STATIC", kLabel3Design[0], SS_LEFT | SS_NOTIFY, 0);
  label3_[1] = CreateControl(kLabel3Id1, L"STATIC", kLabel3Design[1], SS_LEFT | SS_NOTIFY, 0);
  SetFonts();
}

void MainForm::CreateTxt() {
  LoadRichEdit();
  const HWND old = txt_;
  RECT place = {};
  if (old) {
    GetWindowRect(old, &place);
    MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&place), 2);
  }
  // A control emptied and filled again is many times slower than a new one. The old one goes
  // with its own procedure, so that nothing it is told on its way comes here.
  if (old) {
    SetWindowLongPtrW(old, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(box_.Procedure()));
    DestroyWindow(old);
    txt_ = nullptr;
    box_ = RichBox();
  }
  txt_ = CreateControl(kTxtId, MSFTEDIT_CLASS, kTxtDesign,
                       WS_VSCROLL | WS_TABSTOP | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN | ES_NOHIDESEL |
                           ES_NOOLEDRAGDROP,  // what is dropped could carry formatting or objects
                       WS_EX_CLIENTEDGE);
  SetUpPlainText(txt_);
  if (old)  // first in the tab order again, where the old one was
    SetWindowPos(txt_, HWND_TOP, place.left, place.top, place.right - place.left, place.bottom - place.top,
                 SWP_NOACTIVATE);
  SetWindowLongPtrW(txt_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  box_ = RichBox(txt_, reinterpret_cast<WNDPROC>(SetWindowLongPtrW(txt_, GWLP_WNDPROC,
                                                                    reinterpret_cast<LONG_PTR>(&MainForm::TextProc))));
  marks_ = LeftOutMarks(box_);
  marginReported_ = -1;
  KeepMarkMargin();
}

// The links in 宋体 9 pt, underlined, normal weight, GB2312, at the window's density, and Txt's
// margin for the marks; the labels fit their text.
void MainForm::SetFonts() {
  const HFONT font = CreateFontW(-MulDiv(9, dpi_, 72), 0, 0, 0, FW_NORMAL, FALSE, TRUE, FALSE, GB2312_CHARSET,
                                 OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                                 L"\u5B8B\u4F53");
  if (!font) Fail("CreateFont");
  for (const HWND link : label3_) SendMessageW(link, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  marginReported_ = -1;  // the margin is as many twips in the new density's pixels
  if (linkFont_) DeleteObject(linkFont_);
  linkFont_ = font;
  KeepMarkMargin();
  for (const HWND label : {label1_, label2_, label3_[0], label3_[1]}) SizeToText(label);
}

// Moved to a screen of another density: twips are counted anew in its pixels, and the window
// takes the place and size Windows suggests.
void MainForm::ChangeDpi(int dpi, const RECT& suggested) {
  dpi_ = dpi;
  SetFonts();
  SetWindowPos(label1_, nullptr, TwipsToPixels(kLabel1Design.left), 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  SetWindowPos(label2_, nullptr, TwipsToPixels(kLabel2Design.left), 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  SetWindowPos(window_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
               suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
  LayOutControls();
}

void MainForm::SizeToText(HWND label) {
  wchar_t text[64] = {};
  const int length = GetWindowTextW(label, text, 64);
  const HDC dc = GetDC(label);
  const HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(label, WM_GETFONT, 0, 0)));
  SIZE size = {};
  GetTextExtentPoint32W(dc, text, length, &size);
  SelectObject(dc, old);
  ReleaseDC(label, dc);
  SetWindowPos(label, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

POINT MainForm::PlaceOf(HWND control) const {
  RECT box = {};
  GetWindowRect(control, &box);
  MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&box), 2);
  return {box.left, box.top};
}

void MainForm::LayOutControls() {
  if (!txt_) return;  // the window is sized while it is made, before its controls exist
  RECT client = {}, outer = {};
  GetClientRect(window_, &client);
  GetWindowRect(window_, &outer);
  const Layout layout = LayOut({PixelsToTwips(client.right), PixelsToTwips(client.bottom),
                                PixelsToTwips(outer.right - outer.left)});
  const UINT keep = SWP_NOZORDER | SWP_NOACTIVATE;
  SetWindowPos(txt_, nullptr, 0, 0, TwipsToPixels(layout.txtWidth), TwipsToPixels(layout.txtHeight),
               keep | SWP_NOMOVE);
  SetWindowPos(label1_, nullptr, PlaceOf(label1_).x, TwipsToPixels(layout.label1Top), 0, 0, keep | SWP_NOSIZE);
  SetWindowPos(label2_, nullptr, PlaceOf(label2_).x, TwipsToPixels(layout.label2Top), 0, 0, keep | SWP_NOSIZE);
  for (std::size_t index = 0; index < 2; ++index)
    SetWindowPos(label3_[index], nullptr, TwipsToPixels(layout.label3Left[index]),
                 TwipsToPixels(layout.label3Top[index]), 0, 0, keep | SWP_NOSIZE);
  InvalidateRect(window_, nullptr, TRUE);
}

void MainForm::Centre() {
  RECT work = {}, frame = {};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  GetWindowRect(window_, &frame);
  const int width = frame.right - frame.left, height = frame.bottom - frame.top;
  SetWindowPos(window_, nullptr, work.left + (work.right - work.left - width) / 2,
               work.top + (work.bottom - work.top - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void MainForm::Show(int showCommand) {
  if (!shown_) {
    shown_ = true;
    Centre();
  }
  ShowWindow(window_, showCommand);
  LayOutControls();
  UpdateWindow(window_);
}

// ---- editor::Window ----

bool MainForm::IsOrdinaryFile(std::u16string_view path) const {
  // A file search asking for no special attributes: directories, hidden and system files do
  // not count.
  const DWORD attributes = GetFileAttributesW(store::NativePath(path).wstring().c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
}

std::u16string MainForm::TxtText() const {
  // Asked of the control itself: this is called while Txt's own messages are handled.
  GETTEXTLENGTHEX length = {GTL_USECRLF | GTL_PRECISE | GTL_NUMCHARS, 1200};  // 1200: UTF-16
  const auto units = static_cast<std::size_t>(box_.Ask(EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&length)));
  std::u16string shown(units + 1, u'\0');
  GETTEXTEX request = {static_cast<DWORD>(shown.size() * sizeof(char16_t)), GT_USECRLF, 1200, nullptr, nullptr};
  const auto copied = static_cast<std::size_t>(
      box_.Ask(EM_GETTEXTEX, reinterpret_cast<WPARAM>(&request), reinterpret_cast<LPARAM>(shown.data())));
  if (copied != units) Fail("EM_GETTEXTEX");  // a text read in part must never be saved
  shown.resize(units);
  return shown;
}

std::pair<std::size_t, std::size_t> MainForm::SelectedRange() const {
  const CHARRANGE range = box_.Selection();
  const std::u16string before = box_.Text(0, range.cpMax);
  return {TextPosition(before, static_cast<std::size_t>(range.cpMin)), TextPosition(before, before.size())};
}

void MainForm::SelectShown(std::u16string_view shown, std::size_t start, std::size_t end) {
  CHARRANGE range = {static_cast<LONG>(BoxPosition(shown, start)), static_cast<LONG>(BoxPosition(shown, end))};
  box_.Ask(EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
  box_.Ask(EM_SCROLLCARET);
}

std::u16string MainForm::Text() const { return standIns_.Restore(TxtText()); }

// Lines are counted by the line breaks of the text itself: with word wrap on, the control's own
// line numbers count the rows a line wraps into. Only the text before the caret is read.
std::size_t MainForm::CaretLine() const {
  const std::u16string before = box_.Text(0, box_.Selection().cpMin);
  return static_cast<std::size_t>(std::count(before.begin(), before.end(), u'\r'));
}

void MainForm::ShowLine(std::size_t line, bool select) {
  const std::u16string shown = TxtText();
  std::size_t start = 0;
  for (std::size_t at; line > 0 && (at = shown.find(u"\r\n", start)) != std::u16string::npos; --line) start = at + 2;
  SelectShown(shown, start, select ? std::min(shown.find(u"\r\n", start), shown.size()) : start);
}

void MainForm::SetText(std::u16string text) {
  StandInTrack standIns;
  const std::u16string shown = standIns.Show(std::move(text));  // the text itself is not held twice
  const bool focused = txt_ && GetFocus() == txt_;
  CreateTxt();  // with an empty undo history
  // Filled out of sight, so that the view neither scrolls nor paints after each stretch.
  ShowWindow(txt_, SW_HIDE);
  assigning_ = true;
  Fill(txt_, shown);
  assigning_ = false;
  ShowWindow(txt_, SW_SHOW);
  if (focused) SetFocus(txt_);
  standIns_ = std::move(standIns);
  // The control takes the text as it is, but the operator must never save what it did not show:
  // a unit it would change fails the load instead.
  if (TxtText() != shown) throw std::runtime_error("the text box changed the text it was given");
  // One assignment is one change; the control reports none for it.
  form_.TextChanged();
}

void MainForm::SetCaption(std::u16string_view caption) {
  // Every typed key asks for the caption the window already has: the title bar is not redrawn.
  std::u16string shown(static_cast<std::size_t>(GetWindowTextLengthW(window_)) + 1, u'\0');
  shown.resize(static_cast<std::size_t>(
      GetWindowTextW(window_, reinterpret_cast<wchar_t*>(shown.data()), static_cast<int>(shown.size()))));
  if (shown != caption && !SetWindowTextW(window_, Wide(Copy(caption)))) Fail("SetWindowText");
}

int MainForm::ShowMessage(std::u16string_view text, editor::Buttons buttons, editor::Icon icon,
                          std::u16string_view title) {
  if (messageHook) return messageHook(text, buttons, icon, title);
  const UINT type = (buttons == editor::Buttons::YesNoCancel ? MB_YESNOCANCEL : MB_OK) |
                    (icon == editor::Icon::Critical ? MB_ICONERROR : 0);
  // The pressed button comes back as 1 (OK), 2 (Cancel), 6 (Yes) or 7 (No), as the editor counts.
  const int pressed = MessageBoxW(window_, Wide(Copy(text)), Wide(Copy(title)), type);
  if (pressed == 0) Fail("MessageBox");
  return pressed;
}

void MainForm::SetLinkCursor(int index) {
  if (!linkCursor_) linkCursor_ = LoadCursorW(instance_, MAKEINTRESOURCEW(kLinkCursorId));
  if (!linkCursor_) Fail("LoadCursor");
  linkCursorSet_.at(static_cast<std::size_t>(index)) = true;
}

void MainForm::MoveText(int left, int top) {
  SetWindowPos(txt_, nullptr, TwipsToPixels(left), TwipsToPixels(top), 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// ---- Messages ----

LRESULT CALLBACK MainForm::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* form = static_cast<MainForm*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    form->window_ = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
  }
  auto* form = reinterpret_cast<MainForm*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!form) return DefWindowProcW(window, message, wParam, lParam);
  try {
    return form->OnMessage(message, wParam, lParam);
  } catch (...) {
    return 0;  // nothing may unwind through Windows; the editor has reported what it could
  }
}

LRESULT MainForm::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == findMessage_ && message != 0) {
    PressDialogButton(findReplace_.Flags & (FR_DIALOGTERM | FR_FINDNEXT | FR_REPLACE | FR_REPLACEALL));
    return 0;
  }
  switch (message) {
    case WM_SIZE:
      LayOutControls();
      return 0;
    case WM_COMMAND:
      return OnCommand(wParam, lParam);
    case WM_CTLCOLORSTATIC:
      return ColourLabel(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_SETCURSOR:
      if (SetLinkCursorOver(reinterpret_cast<HWND>(wParam))) return TRUE;
      break;
    case WM_CLOSE: {
      int cancel = 0;
      form_.CloseRequest(cancel);
      if (!cancel) DestroyWindow(window_);
      return 0;
    }
    case kDpiChanged:
      ChangeDpi(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
      return 0;
    case WM_ACTIVATE:
      // Txt holds the keyboard whenever the window is active: typing and Ctrl+S work at once.
      if (LOWORD(wParam) != WA_INACTIVE) SetFocus(txt_);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY: {
      // The window's last message: the system's own clean-up runs on the real handle, and only
      // then does the form let the window go.
      const HWND window = window_;
      window_ = nullptr;
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      return DefWindowProcW(window, message, wParam, lParam);
    }
  }
  return DefWindowProcW(window_, message, wParam, lParam);
}

// Label2 red, the links blue, all on the dialog colour.
LRESULT MainForm::ColourLabel(HDC dc, HWND label) const {
  SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
  if (label == label2_) SetTextColor(dc, RGB(255, 0, 0));
  if (label == label3_[0] || label == label3_[1]) SetTextColor(dc, RGB(0, 0, 255));
  return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
}

bool MainForm::SetLinkCursorOver(HWND control) const {
  for (std::size_t index = 0; index < 2; ++index) {
    if (control == label3_[index] && linkCursorSet_[index]) {
      SetCursor(linkCursor_);
      return true;
    }
  }
  return false;
}

LRESULT MainForm::OnCommand(WPARAM wParam, LPARAM lParam) {
  const auto control = reinterpret_cast<HWND>(lParam);
  if (control == txt_ && HIWORD(wParam) == EN_CHANGE && !assigning_) {
    edited_ = true;
    form_.TextChanged();
  }
  if (HIWORD(wParam) == STN_CLICKED) {
    for (std::size_t index = 0; index < 2; ++index)
      if (control == label3_[index]) form_.LinkClick(static_cast<int>(index));
  }
  return 0;
}

LRESULT CALLBACK MainForm::TextProc(HWND text, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* form = reinterpret_cast<MainForm*>(GetWindowLongPtrW(text, GWLP_USERDATA));
  try {
    return form->OnTextMessage(message, wParam, lParam);
  } catch (...) {
    return 0;
  }
}

MainForm::Command MainForm::CommandOf(UINT message, WPARAM wParam) {
  switch (message) {
    case WM_UNDO:
    case EM_UNDO:
      return Command::Undo;
    case EM_REDO:
      return Command::Redo;
    case WM_CUT:
      return Command::Cut;
    case WM_COPY:
      return Command::Copy;
    case WM_PASTE:
      return Command::Paste;
    case WM_CLEAR:
      return Command::Delete;
    case WM_KEYDOWN:
      break;
    default:
      return Command::None;
  }
  if (Held(VK_MENU)) return Command::None;
  const bool shift = Held(VK_SHIFT), control = Held(VK_CONTROL);
  if (wParam == VK_INSERT && shift != control) return shift ? Command::Paste : Command::Copy;
  if (wParam == VK_DELETE && shift && !control) return Command::Cut;
  if (!control || shift) return Command::None;
  switch (wParam) {
    case 'Z': return Command::Undo;
    case 'Y': return Command::Redo;
    case 'X': return Command::Cut;
    case 'C': return Command::Copy;
    case 'V': return Command::Paste;
    case 'A': return Command::SelectAll;
    default: return Command::None;
  }
}

LRESULT MainForm::OnTextMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (TakeFindKey(message, wParam)) return 0;
  if (message == WM_CONTEXTMENU) return ShowContextMenu(lParam), 0;
  if (message == WM_CHAR && !TakeCharacter(wParam)) return 0;
  if (const Command command = CommandOf(message, wParam); command != Command::None) return Perform(command), 0;
  if (IsFormattingKey(message, wParam)) return 0;
  return PassOn(message, wParam, lParam);
}

bool MainForm::TakeCharacter(WPARAM& character) {
  // Every character key reaches the editor first; setting it to 0 swallows it (Ctrl+S is 19).
  int keyAscii = static_cast<int>(character);
  form_.TextKeyPress(keyAscii);
  character = static_cast<WPARAM>(keyAscii);
  // The keys themselves did what the characters of Ctrl with a letter stand for; what remains of
  // the control characters, but tab, Enter and backspace, is not text the operator means to type.
  return keyAscii >= 0x20 ? keyAscii != 0x7F : keyAscii == u'\t' || keyAscii == u'\r' || keyAscii == u'\b';
}

LRESULT MainForm::PassOn(UINT message, WPARAM wParam, LPARAM lParam) {
  // Typing and a replacement are made at the selection; a deletion, a replacement and a paste
  // are each a step of the undo history of their own.
  const bool deletion = message == WM_KEYDOWN && wParam == VK_DELETE;
  const bool ownStep = deletion || message == EM_REPLACESEL;
  const bool atSelection = ownStep || message == WM_CHAR || message == WM_IME_CHAR;
  // A character typed is followed by the marks without reading the control again.
  const bool typing = message == WM_CHAR && wParam >= 0x20 && wParam != 0x7F;
  const CHARRANGE selectedBefore = typing ? box_.Selection() : CHARRANGE{};
  const LONG lengthBefore = typing ? box_.Length() : 0;
  if (message == WM_NCDESTROY) return box_.Ask(message, wParam, lParam);  // the control is going: nothing more to ask it
  RECT painted = {};  // what the control is about to paint, which its painting validates
  if (message == WM_PAINT) GetUpdateRect(txt_, &painted, FALSE);
  const LRESULT result = FollowEdit(atSelection, [&](std::vector<Original>&) {
    if (ownStep) box_.Ask(EM_STOPGROUPTYPING);
    const LRESULT passed = box_.Ask(message, wParam, lParam);
    if (ownStep) box_.Ask(EM_STOPGROUPTYPING);
    if (typing) marks_.Typed(selectedBefore, lengthBefore, static_cast<char16_t>(wParam));
    return passed;
  });
  if (message == WM_PAINT) marks_.Paint(kMarkColour, &painted);
  if (message == WM_SIZE) {
    marks_.Forget();
    KeepMarkMargin();
  }
  return result;
}

void MainForm::Perform(Command command) {
  if (command == Command::Copy) return CopySelection();
  if (command == Command::SelectAll) return void(box_.Ask(EM_SETSEL, 0, -1));
  const bool undoing = command == Command::Undo || command == Command::Redo;
  FollowEdit(!undoing, [&](std::vector<Original>& pasted) {
    box_.Ask(EM_STOPGROUPTYPING);
    if (command == Command::Undo) box_.Ask(EM_UNDO);
    if (command == Command::Redo) box_.Ask(EM_REDO);
    if (command == Command::Cut) CopySelection();  // a copy that fails leaves the text as it was
    if (command == Command::Cut || command == Command::Delete) box_.Ask(WM_CLEAR);
    if (command == Command::Paste) pasted = Paste();
    box_.Ask(EM_STOPGROUPTYPING);
    return LRESULT{0};
  });
}

// An edit made at the selection (typing, pasting, cutting, deleting) changes nothing before the
// selection it starts from or the one it leaves; any other (an undo, a redo) may change any part.
LRESULT MainForm::FollowEdit(bool atSelection, const std::function<LRESULT(std::vector<Original>&)>& edit) {
  const std::size_t selectedBefore = atSelection && !standIns_.Empty() ? SelectedRange().first : std::u16string::npos;
  edited_ = false;
  std::vector<Original> pasted;  // the stand-ins of reply text pasted, where they now are
  const LRESULT result = edit(pasted);
  const bool edited = std::exchange(edited_, false);
  marks_.Handled(edited);
  if (edited && !(standIns_.Empty() && pasted.empty()))
    standIns_.Follow(TxtText(), atSelection ? std::min(selectedBefore, SelectedRange().first) : std::u16string::npos,
                     std::move(pasted));
  RefreshMarks(edited);
  return result;
}

bool MainForm::CanPerform(Command command) const {
  const CHARRANGE selected = box_.Selection();
  switch (command) {
    case Command::Undo: return box_.Ask(EM_CANUNDO) != 0;
    case Command::Redo: return box_.Ask(EM_CANREDO) != 0;
    case Command::Cut:
    case Command::Copy:
    case Command::Delete: return selected.cpMin < selected.cpMax;
    case Command::Paste: return ClipboardHoldsText();
    case Command::SelectAll: return selected.cpMin > 0 || selected.cpMax < box_.Length();
    default: return false;
  }
}

void MainForm::ShowContextMenu(LPARAM at) {
  // The entries of the system's own text box; a separator where there is no command.
  static constexpr std::pair<Command, std::u16string_view> kEntries[] = {
      {Command::Undo, u"撤消(&U)"},  {Command::Redo, u"重做(&R)"},   {Command::None, u""},
      {Command::Cut, u"剪切(&T)"},   {Command::Copy, u"复制(&C)"},   {Command::Paste, u"粘贴(&P)"},
      {Command::Delete, u"删除(&D)"}, {Command::None, u""},           {Command::SelectAll, u"全选(&A)"}};
  const std::unique_ptr<std::remove_pointer_t<HMENU>, MenuDestroyer> menu(CreatePopupMenu());
  if (!menu) Fail("CreatePopupMenu");
  for (const auto& [command, caption] : kEntries) {
    const UINT flags = command == Command::None ? MF_SEPARATOR : MF_STRING | (CanPerform(command) ? MF_ENABLED : MF_GRAYED);
    if (!AppendMenuW(menu.get(), flags, static_cast<UINT_PTR>(command), Wide(Copy(caption)))) Fail("AppendMenu");
  }
  POINT point = {static_cast<short>(LOWORD(at)), static_cast<short>(HIWORD(at))};
  if (at == -1) {  // Shift+F10 or the menu key: at the caret
    POINTL caret = {};
    box_.Ask(EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&caret), box_.Selection().cpMax);
    point = {caret.x, caret.y};
    ClientToScreen(txt_, &point);
  }
  const auto chosen = static_cast<UINT>(
      TrackPopupMenu(menu.get(), TPM_RETURNCMD | TPM_RIGHTBUTTON, point.x, point.y, 0, txt_, nullptr));
  if (chosen != 0) Perform(static_cast<Command>(chosen));
}

void MainForm::CopySelection() const {
  const auto [start, end] = SelectedRange();
  // Shown and reply text have their units at the same places: a stand-in is one unit.
  if (start < end) WriteClipboard(window_, Text().substr(start, end - start));
}

std::vector<Original> MainForm::Paste() {
  ClipboardText pasted = ReadClipboard(window_);
  std::vector<Original> standIns;
  if (pasted.replyText) standIns = ShowStandIns(pasted.text, u"\r\n");
  else pasted.text = PastedLines(pasted.text);
  if (pasted.text.empty()) return {};
  const std::size_t at = SelectedRange().first;
  box_.Ask(EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(pasted.text.c_str()));
  for (Original& standIn : standIns) standIn.position += at;
  return standIns;
}

void MainForm::KeepMarkMargin() {
  // The control may report a rectangle other than the one it was given; it is set again only
  // when it no longer reports what it did after the last setting, as every setting wraps the
  // whole text again.
  RECT format = {};
  box_.Ask(EM_GETRECT, 0, reinterpret_cast<LPARAM>(&format));
  if (format.left == marginReported_) return;
  GetClientRect(txt_, &format);
  format.left = TwipsToPixels(kMarkMarginTwips);
  box_.Ask(EM_SETRECT, 0, reinterpret_cast<LPARAM>(&format));
  box_.Ask(EM_GETRECT, 0, reinterpret_cast<LPARAM>(&format));
  marginReported_ = format.left;
}

void MainForm::RefreshMarks(bool textChanged) {
  // The scroll bar's place, not the control's first row: the control counts rows from the top.
  // The marks are painted now unless the control is about to paint (then after it): having it
  // paint the margin would have it paint every row in view again.
  // Nothing is painted while the window is hidden, as when a load fills Txt.
  if (!textChanged && marks_.InPlace()) return;
  if (IsWindowVisible(txt_) && !GetUpdateRect(txt_, nullptr, FALSE)) marks_.Paint(kMarkColour);
}

// ---- Find and replace ----

bool MainForm::TakeFindKey(UINT message, WPARAM wParam) {
  const bool control = GetKeyState(VK_CONTROL) < 0;
  // The characters Ctrl+F, Ctrl+G and Ctrl+H type: the control would take Ctrl+H for a backspace.
  if (message == WM_CHAR) return (wParam == 6 || wParam == 7 || wParam == 8) && control;
  if (message != WM_KEYDOWN) return false;
  if (control && (wParam == 'F' || wParam == 'H')) {
    OpenFind(wParam == 'H');
  } else if (control && wParam == 'G') {
    GoToLine();
  } else if (wParam == VK_F3 && !control) {
    if (!finder_.FindAgain(GetKeyState(VK_SHIFT) >= 0)) OpenFind(false);
  } else {
    return false;
  }
  return true;
}

void MainForm::OpenFind(bool replacing) {
  if (findDialog_ && replacing_ != replacing) DestroyWindow(std::exchange(findDialog_, nullptr));
  if (findDialog_) {
    SetFocus(findDialog_);
    return;
  }
  // The selection, unless it spans lines, becomes what to find.
  const auto [start, end] = SelectedRange();
  const std::u16string selected = TxtText().substr(start, end - start);
  if (!selected.empty() && selected.size() < findWhat_.size() && selected.find(u'\r') == std::u16string::npos) {
    std::copy(selected.begin(), selected.end(), findWhat_.begin());
    findWhat_[selected.size()] = L'\0';
  }
  findReplace_.lStructSize = sizeof findReplace_;
  findReplace_.hwndOwner = window_;
  findReplace_.lpstrFindWhat = findWhat_.data();
  findReplace_.wFindWhatLen = static_cast<WORD>(findWhat_.size());
  findReplace_.lpstrReplaceWith = replaceWith_.data();
  findReplace_.wReplaceWithLen = static_cast<WORD>(replaceWith_.size());
  // The options chosen last time stay; the direction is down at first.
  if (!(findReplace_.Flags & (FR_DOWN | FR_MATCHCASE | FR_WHOLEWORD))) findReplace_.Flags = FR_DOWN;
  findReplace_.Flags &= FR_DOWN | FR_MATCHCASE | FR_WHOLEWORD;
  replacing_ = replacing;
  findDialog_ = replacing ? ReplaceTextW(&findReplace_) : FindTextW(&findReplace_);
  if (!findDialog_) Fail(replacing ? "ReplaceText" : "FindText");
}

bool MainForm::TakeDialogMessage(MSG& message) { return findDialog_ && IsDialogMessageW(findDialog_, &message); }

Search MainForm::SearchOfDialog() const {
  Search search;
  const auto text = [](const std::array<wchar_t, 256>& field) {
    const std::wstring_view view(field.data());
    return std::u16string(view.begin(), view.end());
  };
  search.what = text(findWhat_);
  search.with = text(replaceWith_);
  search.matchCase = findReplace_.Flags & FR_MATCHCASE;
  search.wholeWord = findReplace_.Flags & FR_WHOLEWORD;
  search.down = findReplace_.Flags & FR_DOWN;
  return search;
}

void MainForm::PressDialogButton(DWORD button) {
  if (button & FR_DIALOGTERM) findDialog_ = nullptr;
  else if (button & FR_FINDNEXT) finder_.FindNext(SearchOfDialog());
  else if (button & FR_REPLACEALL) finder_.ReplaceAll(SearchOfDialog());
  else if (button & FR_REPLACE) finder_.ReplaceOne(SearchOfDialog());
}

std::u16string_view MainForm::ShownText() {
  searched_ = TxtText();
  return searched_;
}

Stretch MainForm::Selection() const {
  const auto [start, end] = SelectedRange();
  return {start, end};
}

// The stretch is one of the text the search just ran over, which is Txt's text still.
void MainForm::Select(Stretch stretch) { SelectShown(searched_, stretch.start, stretch.end); }

void MainForm::ReplaceSelection(std::u16string_view with) {
  // Through Txt's own messages, so that the stand-ins are followed as for typing.
  const std::u16string text(with);
  SendMessageW(txt_, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text.c_str()));
}

void MainForm::ReplaceAllText(std::u16string shown, std::vector<Original> originals) {
  searched_.clear();
  const std::size_t caret = SelectedRange().first;
  box_.Ask(EM_SETSEL, 0, -1);
  box_.Ask(EM_STOPGROUPTYPING);
  box_.Ask(EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(shown.c_str()));  // one edit, which one undo takes back
  box_.Ask(EM_STOPGROUPTYPING);
  SelectShown(shown, caret, caret);
  standIns_.Replace(std::move(shown), std::move(originals));
  marks_.Forget();
  RefreshMarks(true);
}

// ---- Go to a line ----

void MainForm::GoToLine() {
  DialogBoxParamW(instance_, MAKEINTRESOURCEW(kGoToDialogId), window_, &GoToProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK MainForm::GoToProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) SetWindowLongPtrW(dialog, DWLP_USER, lParam);
  auto* form = reinterpret_cast<MainForm*>(GetWindowLongPtrW(dialog, DWLP_USER));
  if (!form || (message != WM_INITDIALOG && message != WM_COMMAND)) return FALSE;
  try {
    if (message == WM_INITDIALOG) return form->StartGoTo(dialog), FALSE;  // the focus is set
    if (LOWORD(wParam) == IDCANCEL) return EndDialog(dialog, 0);
    if (LOWORD(wParam) == IDOK) form->GoToTyped(dialog);
  } catch (...) {
    EndDialog(dialog, 0);  // nothing may unwind through Windows
  }
  return TRUE;
}

// The dialog's texts, and the caret's line number, selected.
void MainForm::StartGoTo(HWND dialog) {
  SetWindowTextW(dialog, Wide(Copy(kGoToTitle)));
  SetDlgItemTextW(dialog, kGoToLabelId, Wide(Copy(kGoToLabel)));
  SetDlgItemTextW(dialog, IDOK, Wide(Copy(kGoToButton)));
  SetDlgItemTextW(dialog, IDCANCEL, Wide(Copy(kGoToCancel)));
  const std::string number = std::to_string(CaretLine() + 1);
  SetDlgItemTextW(dialog, kGoToNumberId, Wide(std::u16string(number.begin(), number.end())));
  SendDlgItemMessageW(dialog, kGoToNumberId, EM_SETSEL, 0, -1);
  SetFocus(GetDlgItem(dialog, kGoToNumberId));
}

// The line typed, if the box has it; otherwise says so, and the dialog stays for another.
void MainForm::GoToTyped(HWND dialog) {
  const HWND field = GetDlgItem(dialog, kGoToNumberId);
  std::u16string typed(static_cast<std::size_t>(GetWindowTextLengthW(field)) + 1, u'\0');
  typed.resize(static_cast<std::size_t>(GetWindowTextW(field, reinterpret_cast<wchar_t*>(typed.data()), static_cast<int>(typed.size()))));
  const std::u16string shown = TxtText();
  std::size_t lines = 1;
  for (std::size_t at = shown.find(u"\r\n"); at != std::u16string::npos; at = shown.find(u"\r\n", at + 2)) ++lines;
  const auto line = LineToGoTo(typed, lines);
  if (!line) return Tell(kLineOutOfRange);
  EndDialog(dialog, 0);
  SetCaretLine(*line);
}

void MainForm::Tell(std::u16string_view message) {
  ShowMessage(message, editor::Buttons::Ok, editor::Icon::None, editor::AppTitle);
}

}  // namespace window::win32
