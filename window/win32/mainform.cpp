#include "window/win32/mainform.h"

#include <algorithm>
#include <stdexcept>
#include <utility>
#include <vector>

#include "store/common.h"
#include "window/win32/clipboard.h"
#include "replytext/replytext.h"
#include "editor/messages.h"
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

// An EDIT control's own text buffer, read in place, asked of the control's own procedure. The
// control may take no message while it is locked, so its length is asked first.
class LockedText {
 public:
  LockedText(WNDPROC editProc, HWND edit)
      : length_(static_cast<std::size_t>(CallWindowProcW(editProc, edit, WM_GETTEXTLENGTH, 0, 0))),
        handle_(reinterpret_cast<HLOCAL>(CallWindowProcW(editProc, edit, EM_GETHANDLE, 0, 0))),
        units_(handle_ ? static_cast<const char16_t*>(LocalLock(handle_)) : nullptr) {}
  ~LockedText() {
    if (units_) LocalUnlock(handle_);
  }
  LockedText(const LockedText&) = delete;
  LockedText& operator=(const LockedText&) = delete;
  std::u16string_view View() const { return units_ ? std::u16string_view(units_, length_) : std::u16string_view(); }

 private:
  std::size_t length_;
  HLOCAL handle_;
  const char16_t* units_;
};

// The keys with which the control copies, cuts and pastes without sending itself the message:
// the message they stand for, so that they work as the others do.
UINT ClipboardMessageOf(UINT message, WPARAM key) {
  if (message != WM_KEYDOWN || (key != VK_INSERT && key != VK_DELETE) || GetKeyState(VK_MENU) < 0) return message;
  const bool shift = GetKeyState(VK_SHIFT) < 0, control = GetKeyState(VK_CONTROL) < 0;
  if (key == VK_INSERT && shift != control) return shift ? WM_PASTE : WM_COPY;
  return key == VK_DELETE && shift && !control ? WM_CUT : message;
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
  txt_ = CreateControl(kTxtId, L"EDIT", kTxtDesign,
                       WS_VSCROLL | WS_TABSTOP | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN | ES_NOHIDESEL,
                       WS_EX_CLIENTEDGE);
  SendMessageW(txt_, EM_SETLIMITTEXT, 0, 0);  // the default limit is 30,000 characters
  SetWindowLongPtrW(txt_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  editProc_ = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(txt_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&MainForm::TextProc)));
  label1_ = CreateControl(kLabel1Id, L"STATIC", kLabel1Design, SS_LEFT, 0);
  label2_ = CreateControl(kLabel2Id, L"STATIC", kLabel2Design, SS_LEFT, 0);
  label3_[0] = CreateControl(kLabel3Id0, L"STATIC", kLabel3Design[0], SS_LEFT | SS_NOTIFY, 0);
  label3_[1] = CreateControl(kLabel3Id1, L"STATIC", kLabel3Design[1], SS_LEFT | SS_NOTIFY, 0);
  SetFonts();
}

// The links in 宋体 9 pt, underlined, normal weight, GB2312, at the window's density, and Txt's
// margin for the marks; the labels fit their text.
void MainForm::SetFonts() {
  const HFONT font = CreateFontW(-MulDiv(9, dpi_, 72), 0, 0, 0, FW_NORMAL, FALSE, TRUE, FALSE, GB2312_CHARSET,
                                 OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                                 L"\u5B8B\u4F53");
  if (!font) Fail("CreateFont");
  for (const HWND link : label3_) SendMessageW(link, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  if (linkFont_) DeleteObject(linkFont_);
  linkFont_ = font;
  SendMessageW(txt_, EM_SETMARGINS, EC_LEFTMARGIN, MAKELPARAM(TwipsToPixels(kMarkMarginTwips), 0));
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
  const auto length = static_cast<std::size_t>(Edit(WM_GETTEXTLENGTH));
  std::u16string shown(length, u'\0');
  const auto copied = static_cast<std::size_t>(Edit(WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(shown.data())));
  if (copied < length) Fail("WM_GETTEXT");
  return shown;
}

std::u16string MainForm::Text() const { return standIns_.Restore(TxtText()); }

// Lines are counted by the CR LFs of the text itself: with word wrap on, the control's own line
// numbers count the rows a line wraps into.
std::size_t MainForm::CaretLine() const {
  // Only the text up to the caret (and the unit after it, to see a CR LF around it) is read: a
  // save reads the whole text once already.
  const std::size_t caret = SelectedRange().first;
  std::u16string shown(caret + 1, u'\0');
  shown.resize(static_cast<std::size_t>(Edit(WM_GETTEXT, caret + 2, reinterpret_cast<LPARAM>(shown.data()))));
  std::size_t line = 0;
  for (std::size_t at = shown.find(u"\r\n"); at < caret; at = shown.find(u"\r\n", at + 2)) ++line;
  return line;
}

void MainForm::ShowLine(std::size_t line, bool select) {
  const std::u16string shown = TxtText();
  std::size_t start = 0;
  for (std::size_t at; line > 0 && (at = shown.find(u"\r\n", start)) != std::u16string::npos; --line) start = at + 2;
  Edit(EM_SETSEL, start, select ? std::min(shown.find(u"\r\n", start), shown.size()) : start);
  Edit(EM_SCROLLCARET);
}

void MainForm::SetText(std::u16string text) {
  StandInTrack standIns;
  const std::u16string shown = standIns.Show(std::move(text));  // the text itself is not held twice
  assigning_ = true;
  const BOOL set = SetWindowTextW(txt_, Wide(shown));
  assigning_ = false;
  if (!set) Fail("SetWindowText");
  standIns_ = std::move(standIns);
  // One assignment is one change; the control reports none for it.
  form_.TextChanged();
}

void MainForm::SetCaption(std::u16string_view caption) {
  if (!SetWindowTextW(window_, Wide(Copy(caption)))) Fail("SetWindowText");
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

LRESULT MainForm::Edit(UINT message, WPARAM wParam, LPARAM lParam) const {
  return CallWindowProcW(editProc_, txt_, message, wParam, lParam);
}

std::pair<std::size_t, std::size_t> MainForm::SelectedRange() const {
  DWORD start = 0, end = 0;
  Edit(EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  return {start, end};
}

LRESULT MainForm::OnTextMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (TakeFindKey(message, wParam)) return 0;
  if (message == WM_CHAR) {
    // Every character key reaches the editor first; setting it to 0 swallows it (Ctrl+S is 19).
    int keyAscii = static_cast<int>(wParam);
    form_.TextKeyPress(keyAscii);
    if (keyAscii == 0) return 0;
    if (keyAscii == 1) {  // Ctrl+A, which the control itself ignores: select all, as editors do
      SendMessageW(txt_, EM_SETSEL, 0, -1);
      return 0;
    }
    wParam = static_cast<WPARAM>(keyAscii);
  }
  message = ClipboardMessageOf(message, wParam);
  if (message == WM_COPY) {
    CopySelection();
    return 0;
  }
  // An edit changes nothing before the selection it leaves. One made at the selection (typing,
  // pasting, cutting, deleting) changes nothing before the selection it starts from either; any
  // other (an undo, however it is asked for) may start anywhere before that.
  const bool atSelection = ((message == WM_CHAR || message == WM_IME_CHAR) && wParam != 26) ||
                           message == WM_PASTE || message == WM_CUT || message == WM_CLEAR ||
                           message == EM_REPLACESEL || (message == WM_KEYDOWN && wParam == VK_DELETE);
  const std::size_t selectedBefore = atSelection && !standIns_.Empty() ? SelectedRange().first : std::u16string::npos;
  edited_ = false;
  std::vector<Original> pasted;  // the stand-ins of reply text pasted, where they now are
  LRESULT result = 0;
  if (message == WM_PASTE) {
    pasted = Paste();
  } else if (message == WM_CUT) {
    CopySelection();  // a copy that fails leaves the text as it was
    Edit(WM_CLEAR);
  } else {
    result = Edit(message, wParam, lParam);
  }
  if (message == WM_NCDESTROY) return result;  // the control is gone: nothing more to ask it
  if (message == WM_PAINT) PaintMarks();
  const bool edited = std::exchange(edited_, false);
  if (edited && !(standIns_.Empty() && pasted.empty()))
    standIns_.Follow(TxtText(), std::min(selectedBefore, SelectedRange().first), std::move(pasted));
  RefreshMarks(edited);
  return result;
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
  Edit(EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(pasted.text.c_str()));
  for (Original& standIn : standIns) standIn.position += at;
  return standIns;
}

void MainForm::RefreshMarks(bool textChanged) {
  const int first = static_cast<int>(Edit(EM_GETFIRSTVISIBLELINE, 0, 0));
  if (!textChanged && first == markedFirstRow_) return;
  RECT margin = {};
  GetClientRect(txt_, &margin);
  margin.right = TwipsToPixels(kMarkMarginTwips);
  InvalidateRect(txt_, &margin, TRUE);
}

std::vector<bool> MainForm::RowsLeftOut(int first, int rowCount) const {
  std::vector<std::size_t> starts;  // of the rows, asked before the text is locked
  const int rows = static_cast<int>(Edit(EM_GETLINECOUNT, 0, 0));
  for (int row = first; row < std::min(rows, first + rowCount); ++row)
    starts.push_back(static_cast<std::size_t>(Edit(EM_LINEINDEX, row, 0)));
  const LockedText locked(editProc_, txt_);
  const std::u16string_view text = locked.View();
  std::vector<bool> leftOut;
  std::size_t lineEnd = 0;
  for (const std::size_t start : starts) {
    if (leftOut.empty() || start > lineEnd) {  // the first row in view, or one that starts a line
      const std::size_t before = text.substr(0, std::min(start, text.size())).rfind(u"\r\n");
      const std::size_t lineStart = before == std::u16string_view::npos ? 0 : before + 2;
      lineEnd = std::min(text.find(u"\r\n", start), text.size());
      // Stand-ins are neither spaces nor '#', so the shown line reads as its reply text does.
      leftOut.push_back(replytext::IsLeftOut(text.substr(lineStart, lineEnd - lineStart)));
    } else {
      leftOut.push_back(leftOut.back());  // a row the line wrapped into
    }
  }
  return leftOut;
}

void MainForm::PaintMarks() {
  RECT format = {};
  Edit(EM_GETRECT, 0, reinterpret_cast<LPARAM>(&format));
  const int first = static_cast<int>(Edit(EM_GETFIRSTVISIBLELINE, 0, 0));
  const HDC dc = GetDC(txt_);
  const HGDIOBJ oldFont = SelectObject(dc, reinterpret_cast<HGDIOBJ>(Edit(WM_GETFONT, 0, 0)));
  TEXTMETRICW metrics = {};
  GetTextMetricsW(dc, &metrics);
  SelectObject(dc, oldFont);
  const int rowHeight = std::max<int>(1, metrics.tmHeight);
  const std::vector<bool> leftOut = RowsLeftOut(first, (format.bottom - format.top + rowHeight - 1) / rowHeight);
  const HBRUSH band = CreateSolidBrush(kMarkColour);
  for (std::size_t row = 0; row < leftOut.size(); ++row) {
    if (!leftOut[row]) continue;
    const int top = format.top + static_cast<int>(row) * rowHeight;
    const RECT mark = {0, top, std::max<LONG>(1, format.left - 1), std::min<LONG>(top + rowHeight, format.bottom)};
    FillRect(dc, &mark, band);
  }
  DeleteObject(band);
  ReleaseDC(txt_, dc);
  markedFirstRow_ = first;
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

void MainForm::Select(Stretch stretch) {
  Edit(EM_SETSEL, stretch.start, stretch.end);
  Edit(EM_SCROLLCARET);
}

void MainForm::ReplaceSelection(std::u16string_view with) {
  // Through Txt's own messages, so that the stand-ins are followed as for typing.
  const std::u16string text(with);
  SendMessageW(txt_, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text.c_str()));
}

void MainForm::ReplaceAllText(std::u16string shown, std::vector<Original> originals) {
  searched_.clear();
  const std::size_t caret = SelectedRange().first;
  Edit(EM_SETSEL, 0, -1);
  Edit(EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(shown.c_str()));  // one edit, which EM_UNDO takes back
  Edit(EM_SETSEL, std::min(caret, shown.size()), std::min(caret, shown.size()));
  Edit(EM_SCROLLCARET);
  standIns_.Replace(std::move(shown), std::move(originals));
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
