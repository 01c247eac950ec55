// The Win32 window in-process (under wine on Linux), on a real reply database.
#include "window/win32/mainform.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/testdb.h"
#include "window/layout.h"

using namespace testsupport;
using window::win32::MainForm;

namespace {

class Win32WindowTest : public ::testing::Test {
 protected:
  Win32WindowTest() : common_(dir_.AppPath()), form_(GetModuleHandleW(nullptr), common_) {
    form_.messageHook = [this](std::u16string_view text, editor::Buttons, editor::Icon, std::u16string_view title) {
      messages_.emplace_back(text);
      titles_.emplace_back(title);
      return answer_;
    };
  }
  std::u16string Caption() const {
    wchar_t caption[64] = {};
    GetWindowTextW(form_.Handle(), caption, 64);
    return std::u16string(caption, caption + wcslen(caption));
  }
  void Char(wchar_t c) { SendMessageW(form_.Txt(), WM_CHAR, c, 1); }
  void Click(int index) {
    const HWND link = form_.Label3(index);
    SendMessageW(form_.Handle(), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(link), STN_CLICKED),
                 reinterpret_cast<LPARAM>(link));
  }

  TempDir dir_;
  store::Common common_;
  MainForm form_;
  std::vector<std::u16string> messages_, titles_;
  int answer_ = editor::vbOK;
};

// The control ends its text at a NUL; every other unit it holds as it is.
TEST(Win32TextMapping, EveryTextComesBackExactly) {
  using namespace std::string_literals;
  MainForm form(GetModuleHandleW(nullptr), *new store::Common(u"."));
  for (const std::u16string& text : {u""s, u"a\0b"s, u"\0"s, u"\u2400"s, u"\u2400\0\u2400\u2400"s, u"\0\uFE0E\u2400\uFE0E"s,
                                     u"lf\n cr\r crlf\r\n\xD800"s, std::u16string(40000, u'长')}) {
    form.SetText(text);
    EXPECT_EQ(form.Text(), text) << text.size();
  }
  SetWindowTextW(form.Txt(), L"typed \u2400");
  EXPECT_EQ(form.Text(), u"typed \u2400") << "a typed stand-in stays what it is";
}

TEST_F(Win32WindowTest, StartUpTypingCtrlSReloadAndClose) {
  CreateReplyDatabase(dir_.DatabaseFile(), {{"a", "1"}, {"b", "2"}});
  form_.Form().StartUp();
  EXPECT_EQ(form_.Text(), u"a###1\r\nb###2");
  EXPECT_EQ(Caption(), u"Velmora");
  EXPECT_FALSE(form_.Form().Modified());

  SendMessageW(form_.Txt(), EM_SETSEL, 0, 0);
  Char(L'x');
  EXPECT_EQ(Caption(), u"Velmora* ");
  Char(19);  // Ctrl+S
  EXPECT_EQ(form_.Text(), u"xa###1\r\nb###2") << "Ctrl+S inserts nothing";
  EXPECT_EQ(Caption(), u"Velmora(保存成功)");
  EXPECT_EQ(DumpTable(dir_.DatabaseFile()), "xa|1\nb|2\n");

  Char(1);  // Ctrl+A selects all
  DWORD from = 1, to = 0;
  SendMessageW(form_.Txt(), EM_GETSEL, reinterpret_cast<WPARAM>(&from), reinterpret_cast<LPARAM>(&to));
  EXPECT_EQ(from, 0u);
  EXPECT_EQ(to, static_cast<DWORD>(GetWindowTextLengthW(form_.Txt())));
  SendMessageW(form_.Txt(), EM_SETSEL, 0, 0);
  Char(L'y');
  Click(0);
  EXPECT_EQ(form_.Text(), u"xa###1\r\nb###2");
  EXPECT_EQ(Caption(), u"Velmora(加载完毕)");
  Click(1);
  EXPECT_EQ(Caption(), u"Velmora(保存成功)");

  Char(L'z');
  answer_ = editor::vbCancel;
  SendMessageW(form_.Handle(), WM_CLOSE, 0, 0);
  EXPECT_TRUE(IsWindow(form_.Handle())) << "Cancel keeps the window";
  answer_ = editor::vbNo;
  const HWND window = form_.Handle();
  SendMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(messages_, (std::vector<std::u16string>{u"保存当前应答内容？", u"保存当前应答内容？"}));
  EXPECT_EQ(DumpTable(dir_.DatabaseFile()), "xa|1\nb|2\n");
}

// The hand over the two links, and the default pointer everywhere else.
TEST_F(Win32WindowTest, LinkCursorOverTheLinksOnly) {
  CreateReplyDatabase(dir_.DatabaseFile(), {{"a", "1"}});
  form_.Form().StartUp();
  const HCURSOR hand = LoadCursorW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(101));
  ASSERT_NE(hand, nullptr);
  const struct {
    HWND control;
    bool link;
  } cases[] = {{form_.Label3(0), true}, {form_.Label3(1), true}, {form_.Label(1), false}, {form_.Txt(), false}};
  for (const auto& c : cases) {
    SetCursor(nullptr);
    const LRESULT handled = SendMessageW(form_.Handle(), WM_SETCURSOR, reinterpret_cast<WPARAM>(c.control),
                                         MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    EXPECT_EQ(handled != 0 && GetCursor() == hand, c.link);
  }
}

TEST_F(Win32WindowTest, HiddenOrMissingDatabaseEndsTheRunWithTheNotice) {
  for (const bool hidden : {false, true}) {
    if (hidden) {
      CreateReplyDatabase(dir_.DatabaseFile(), {{"a", "1"}});
      SetFileAttributesW(dir_.DatabaseFile().wstring().c_str(), FILE_ATTRIBUTE_HIDDEN);
    }
    form_.Form().StartUp();
    EXPECT_TRUE(form_.RunEnded()) << hidden;
    EXPECT_EQ(titles_.back(), u"提示");
    EXPECT_EQ(messages_.back(), u"请将此文件放至客服软件目录");
  }
  SetFileAttributesW(dir_.DatabaseFile().wstring().c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(Win32WindowTest, LayoutFollowsTheRuleAtEverySize) {
  CreateReplyDatabase(dir_.DatabaseFile(), {{"a", "1"}});
  form_.Form().StartUp();
  form_.Show(SW_SHOWNORMAL);
  for (const SIZE size : {SIZE{640, 480}, SIZE{300, 200}, SIZE{1000, 700}}) {
    SetWindowPos(form_.Handle(), nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER);
    RECT client = {}, outer = {}, txt = {}, link = {};
    GetClientRect(form_.Handle(), &client);
    GetWindowRect(form_.Handle(), &outer);
    const window::Layout expected = window::LayOut({form_.PixelsToTwips(client.right), form_.PixelsToTwips(client.bottom),
                                                    form_.PixelsToTwips(outer.right - outer.left)});
    GetWindowRect(form_.Txt(), &txt);
    GetWindowRect(form_.Label3(1), &link);
    MapWindowPoints(nullptr, form_.Handle(), reinterpret_cast<POINT*>(&txt), 2);
    MapWindowPoints(nullptr, form_.Handle(), reinterpret_cast<POINT*>(&link), 2);
    EXPECT_EQ(txt.left, 0);
    EXPECT_EQ(txt.top, 0);
    EXPECT_EQ(txt.right - txt.left, form_.TwipsToPixels(expected.txtWidth));
    EXPECT_EQ(link.left, form_.TwipsToPixels(expected.label3Left[1]));
    EXPECT_EQ(link.top, form_.TwipsToPixels(expected.label3Top[1]));
  }
}

}  // namespace
