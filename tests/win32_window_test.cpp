// The Win32 window in-process (under wine on Linux), on a real reply database.
#include "window/win32/mainform.h"

#include <gtest/gtest.h>

#include "tests/support/testdb.h"
#include "window/layout.h"

using namespace testsupport;

namespace {

struct Win32WindowTest : testing::Test {
  Win32WindowTest() {
    form.messageHook = [this](std::u16string_view text, editor::Buttons, editor::Icon, std::u16string_view title) {
      asked.emplace_back(text);
      titles.emplace_back(title);
      return answer;
    };
  }
  void Start() {
    CreateReplyDatabase(dir.DatabaseFile(), "('a', '1'), ('b', '2')");
    form.Form().StartUp();
  }
  std::u16string Caption() const {
    wchar_t caption[64] = {};
    return std::u16string(caption, caption + GetWindowTextW(form.Handle(), caption, 64));
  }
  void Char(wchar_t c) { SendMessageW(form.Txt(), WM_CHAR, c, 1); }
  void Click(int link) {
    SendMessageW(form.Handle(), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(form.Label3(link)), STN_CLICKED),
                 reinterpret_cast<LPARAM>(form.Label3(link)));
  }

  TempDir dir;
  store::Common common{dir.AppPath()};
  window::win32::MainForm form{GetModuleHandleW(nullptr), common};
  std::vector<std::u16string> asked, titles;
  int answer = editor::vbOK;
};

// The control ends its text at a NUL, which the window therefore shows as a stand-in; every
// other unit it holds as it is.
TEST_F(Win32WindowTest, EveryTextComesBackExactly) {
  using namespace std::string_literals;
  for (const std::u16string& text : {u"a\0b"s, u"\0"s, u"\u2400\0\u2400\u2400"s, u"\0\uFE0E\u2400\uFE0E"s,
                                     u"lf\n cr\r crlf\r\n\xD800"s, std::u16string(40000, u'长')}) {
    form.SetText(text);
    EXPECT_EQ(form.Text(), text) << text.size();
  }
  SetWindowTextW(form.Txt(), L"typed \u2400");
  EXPECT_EQ(form.Text(), u"typed \u2400") << "a typed stand-in stays what it is";
}

// Typing, Ctrl+S, the notice and No at the close prompt are also run on the real program.
TEST_F(Win32WindowTest, CtrlATheLinksAndCancelAtTheClosePrompt) {
  Start();
  Char(1);  // Ctrl+A selects all
  DWORD from = 1, to = 0;
  SendMessageW(form.Txt(), EM_GETSEL, reinterpret_cast<WPARAM>(&from), reinterpret_cast<LPARAM>(&to));
  EXPECT_EQ(to - from, DWORD(GetWindowTextLengthW(form.Txt())));
  Char(L'y');
  Click(0);
  EXPECT_EQ(form.Text(), u"a###1\r\nb###2");
  EXPECT_EQ(Caption(), u"Velmora(加载完毕)");
  Char(L'x');
  Click(1);
  EXPECT_EQ(Caption(), u"Velmora(保存成功)");
  EXPECT_EQ(Dump(dir.DatabaseFile()), "xa|1\nb|2\n");
  Char(L'z');
  answer = editor::vbCancel;
  SendMessageW(form.Handle(), WM_CLOSE, 0, 0);
  EXPECT_TRUE(IsWindow(form.Handle())) << "Cancel keeps the window";
  EXPECT_EQ(asked, std::vector<std::u16string>{u"保存当前应答内容？"});
}

// The link cursor over the two links only, and the controls where the layout rule puts them.
TEST_F(Win32WindowTest, LinkCursorAndLayout) {
  Start();
  const HCURSOR hand = LoadCursorW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(101));
  ASSERT_NE(hand, nullptr);
  for (const HWND control : {form.Label3(0), form.Label3(1), form.Label(1), form.Txt()}) {
    SetCursor(nullptr);
    SendMessageW(form.Handle(), WM_SETCURSOR, WPARAM(control), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    EXPECT_EQ(GetCursor() == hand, control == form.Label3(0) || control == form.Label3(1));
  }
  form.Show(SW_SHOWNORMAL);
  EXPECT_EQ(GetFocus(), form.Txt()) << "typing goes to the text box at once";
  SetWindowPos(form.Handle(), nullptr, 0, 0, 300, 200, SWP_NOMOVE | SWP_NOZORDER);  // narrower than the design
  RECT client, outer, txt, link;
  GetClientRect(form.Handle(), &client);
  GetWindowRect(form.Handle(), &outer);
  const window::Layout rule = window::LayOut({form.PixelsToTwips(client.right), form.PixelsToTwips(client.bottom),
                                              form.PixelsToTwips(outer.right - outer.left)});
  GetWindowRect(form.Txt(), &txt);
  GetWindowRect(form.Label3(1), &link);
  MapWindowPoints(nullptr, form.Handle(), reinterpret_cast<POINT*>(&txt), 2);
  MapWindowPoints(nullptr, form.Handle(), reinterpret_cast<POINT*>(&link), 2);
  EXPECT_EQ(std::vector<LONG>({txt.left, txt.top, txt.right, link.left, link.top}),
            std::vector<LONG>({0, 0, form.TwipsToPixels(rule.txtWidth), form.TwipsToPixels(rule.label3Left[1]),
                               form.TwipsToPixels(rule.label3Top[1])}));
}

// A file search asking for no special attributes does not find a hidden file.
TEST_F(Win32WindowTest, AMissingOrHiddenDatabaseEndsTheRunWithTheNotice) {
  for (const bool hidden : {false, true}) {
    if (hidden) {
      CreateReplyDatabase(dir.DatabaseFile());
      SetFileAttributesW(dir.DatabaseFile().wstring().c_str(), FILE_ATTRIBUTE_HIDDEN);
    }
    form.Form().StartUp();
    EXPECT_TRUE(form.RunEnded()) << hidden;
    EXPECT_EQ(titles.back(), u"提示");
    EXPECT_EQ(asked.back(), u"请将此文件放至客服软件目录");
  }
  SetFileAttributesW(dir.DatabaseFile().wstring().c_str(), FILE_ATTRIBUTE_NORMAL);
}

}  // namespace
