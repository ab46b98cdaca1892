// Dialogs from templates with every control kind, driven by taps and typing
// through the same input path as the stylus and the keyboard.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/base/clipboard.h"
#include "platform/device/device.h"
#include "platform/dialogs/dialog_template.h"
#include "platform/screen/screen.h"
#include "platform/windows.h"
#include "platform/wm/window_manager.h"

namespace {

using zenta::platform::injectChar;
using zenta::platform::injectKey;
using zenta::platform::injectStylus;
using zenta::platform::StylusAction;

// Builds a template in the device's binary format.
class TemplateBuilder {
 public:
  TemplateBuilder(DWORD style, DWORD exStyle, short cx, short cy, const std::u16string& title) {
    put32(style | DS_SETFONT);
    put32(exStyle);
    countAt_ = words_.size();
    put16(0);
    put16(0), put16(0), put16(WORD(cx)), put16(WORD(cy));
    put16(0);  // no menu
    put16(0);  // the dialog class
    text(title);
    put16(8);
    text(u"Tahoma");
  }
  TemplateBuilder& item(WORD atom, DWORD style, short x, short y, short cx, short cy, WORD id,
                        const std::u16string& title) {
    while (words_.size() % 2 != 0)
      put16(0);  // DWORD alignment
    put32(style | WS_CHILD | WS_VISIBLE);
    put32(0);
    put16(WORD(x)), put16(WORD(y)), put16(WORD(cx)), put16(WORD(cy)), put16(id);
    put16(0xFFFF), put16(atom);
    text(title);
    put16(0);
    ++words_[countAt_];
    return *this;
  }
  const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }
  size_t bytes() const { return words_.size() * sizeof words_[0]; }

 private:
  void put16(WORD w) { words_.push_back(w); }
  void put32(DWORD d) {
    put16(WORD(d & 0xFFFF));
    put16(WORD(d >> 16));
  }
  void text(const std::u16string& t) {
    for (const char16_t c : t)
      put16(WORD(c));
    put16(0);
  }
  std::vector<WORD> words_;
  size_t countAt_ = 0;
};

enum : WORD { kName = 10, kPassword = 11, kGuest = 12, kHosts = 13, kLabel = 14 };

struct Script {
  std::vector<std::string> log;
  std::vector<std::function<void(HWND)>> steps;
  size_t next = 0;
  HBRUSH labelBrush = nullptr;
  LPARAM init = 0;
};
Script* script = nullptr;

INT_PTR testProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SETFONT:
      script->log.push_back("font");
      return FALSE;
    case WM_INITDIALOG:
      script->log.push_back("init");
      script->init = lParam;
      PostMessageW(dialog, WM_USER, 0, 0);
      return TRUE;
    case WM_USER:
      if (script->next < script->steps.size()) {
        script->steps[script->next++](dialog);
        PostMessageW(dialog, WM_USER, 0, 0);
      }
      return TRUE;
    case WM_CTLCOLORSTATIC:
      if (reinterpret_cast<HWND>(lParam) == GetDlgItem(dialog, kLabel)) {
        SetTextColor(reinterpret_cast<HDC>(wParam), RGB(255, 255, 255));
        return reinterpret_cast<INT_PTR>(script->labelBrush);
      }
      return FALSE;
    case WM_COMMAND: {
      const WORD id = LOWORD(wParam), code = HIWORD(wParam);
      if (id == IDOK || id == IDCANCEL) {
        script->log.push_back(id == IDOK ? "ok" : "cancel");
        EndDialog(dialog, id == IDOK ? 100 : 200);
        return TRUE;
      }
      if (id == kName && code == EN_CHANGE) script->log.push_back("name changed");
      if (id == kGuest && code == BN_CLICKED) script->log.push_back("guest clicked");
      if (id == kHosts) {
        const char* names[] = {"",           "selchange", "dblclk",   "setfocus", "killfocus",
                               "editchange", "",          "dropdown", "closeup"};
        if (code < 9 && names[code][0] != 0)
          script->log.push_back(std::string("hosts ") + names[code]);
      }
      return TRUE;
    }
    default:
      return FALSE;
  }
}

LRESULT ownerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

class Dialogs : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    zenta::platform::configureScreen(240, 320);
    zenta::platform::registerSystemClasses();
    WNDCLASSW wc{};
    wc.lpfnWndProc = ownerProc;
    wc.lpszClassName = u"DialogOwner";
    RegisterClassW(&wc);
  }
  void SetUp() override {
    owner = CreateWindowExW(0, u"DialogOwner", u"Owner", WS_VISIBLE, 0, 26, 240, 268, nullptr,
                            nullptr, nullptr, nullptr);
    script = &s;
  }
  void TearDown() override {
    DestroyWindow(owner);
    script = nullptr;
  }
  // The "Select Host" kind of dialog.
  static TemplateBuilder hostTemplate() {
    TemplateBuilder t(WS_POPUP | WS_CAPTION, WS_EX_CAPTIONOKBTN, 150, 120, u"Select Host");
    t.item(0x0082, SS_LEFT, 4, 4, 60, 10, kLabel, u"Host:")
        .item(0x0085, CBS_DROPDOWN | WS_TABSTOP, 4, 16, 140, 12, kHosts, u"")
        .item(0x0081, ES_AUTOHSCROLL | WS_TABSTOP, 4, 34, 100, 12, kName, u"")
        .item(0x0081, ES_PASSWORD | ES_AUTOHSCROLL | WS_TABSTOP, 4, 50, 100, 12, kPassword, u"")
        .item(0x0080, BS_AUTOCHECKBOX | WS_TABSTOP, 4, 66, 100, 12, kGuest, u"Guest")
        .item(0x0080, BS_PUSHBUTTON | WS_TABSTOP, 4, 90, 50, 14, IDOK, u"OK")
        .item(0x0080, BS_PUSHBUTTON | WS_TABSTOP, 60, 90, 50, 14, IDCANCEL, u"Cancel");
    return t;
  }
  static POINT centre(HWND control) {
    RECT r;
    GetWindowRect(control, &r);
    return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
  }
  static void tap(POINT p) {
    injectStylus(StylusAction::Down, p.x, p.y);
    injectStylus(StylusAction::Up, p.x, p.y);
  }
  // A key pressed and released, with `held` (Alt, say) down around it.
  static void press(UINT key, UINT held = 0) {
    if (held != 0) injectKey(held, true);
    injectKey(key, true);
    injectKey(key, false);
    if (held != 0) injectKey(held, false);
  }
  static void type(const std::u16string& text) {
    for (const char16_t c : text)
      injectChar(c);
  }
  static std::u16string text(HWND dialog, int id) {
    char16_t buffer[64] = {};
    GetDlgItemTextW(dialog, id, buffer, 64);
    return buffer;
  }
  HWND owner = nullptr;
  Script s;
};

TEST_F(Dialogs, MissingTemplateFails) {
  EXPECT_EQ(DialogBoxIndirectParamW(nullptr, nullptr, owner, testProc, 0), -1);
}

TEST_F(Dialogs, FontBeforeInitAndTheModalLoop) {
  s.steps = {[&](HWND dialog) {
    EXPECT_FALSE(IsWindowEnabled(owner));
    EXPECT_EQ(GetActiveWindow(), dialog);
    EXPECT_EQ(GetFocus(),
              GetDlgItem(GetDlgItem(dialog, kHosts), 1001));  // the combo box's edit part
    EndDialog(dialog, 7);
  }};
  const auto t = hostTemplate();
  EXPECT_EQ(DialogBoxIndirectParamW(nullptr, t.get(), owner, testProc, 1234), 7);
  EXPECT_EQ(s.init, 1234);
  ASSERT_GE(s.log.size(), 2u);
  EXPECT_EQ(s.log[0], "font");
  EXPECT_EQ(s.log[1], "init");
  EXPECT_TRUE(IsWindowEnabled(owner));
  EXPECT_EQ(FindWindowW(u"Dialog", nullptr), nullptr);
}

TEST_F(Dialogs, TypingTabbingAndTheKeysThatEndIt) {
  s.steps = {
      [&](HWND dialog) { tap(centre(GetDlgItem(dialog, kName))); },
      [&](HWND) { type(u"adminX"); },
      [&](HWND) {
        injectChar(u'\b');
        injectKey(VK_HOME, true);
        injectChar(u'>');
      },
      [&](HWND dialog) {
        EXPECT_EQ(text(dialog, kName), u">admin");
        injectKey(VK_TAB, true);  // to the password
      },
      // Characters go to the window that has the focus when they are typed.
      [&](HWND) { type(u"pw"); },
      [&](HWND dialog) {
        EXPECT_EQ(text(dialog, kPassword), u"pw");
        EXPECT_EQ(GetFocus(), GetDlgItem(dialog, kPassword));
        injectKey(VK_SHIFT, true);
        injectKey(VK_TAB, true);  // back to the name
        injectKey(VK_SHIFT, false);
      },
      [&](HWND dialog) {
        EXPECT_EQ(GetFocus(), GetDlgItem(dialog, kName));
        SendDlgItemMessageW(dialog, kName, EM_LIMITTEXT, 7, 0);
        injectKey(VK_END, true);  // Tab selected it all; typing would replace it
        type(u"123");             // only one more fits the limit
      },
      [&](HWND dialog) {
        EXPECT_EQ(text(dialog, kName), u">admin1");
        injectKey(VK_RETURN, true);
      },
  };
  const auto t = hostTemplate();
  EXPECT_EQ(DialogBoxIndirectParamW(nullptr, t.get(), owner, testProc, 0), 100);
  EXPECT_EQ(std::count(s.log.begin(), s.log.end(), "name changed"), 9);
  EXPECT_EQ(s.log.back(), "ok");

  Script again;
  script = &again;
  again.steps = {[](HWND) { injectKey(VK_ESCAPE, true); }};
  EXPECT_EQ(DialogBoxIndirectParamW(nullptr, t.get(), owner, testProc, 0), 200);
}

TEST_F(Dialogs, SelectionClipboardAndShortcuts) {
  const auto chord = [](UINT modifier, UINT key) {
    injectKey(modifier, true);
    injectKey(key, true);
    injectKey(key, false);
    injectKey(modifier, false);
  };
  zenta::platform::setClipboardText(u"10.0.0.7:8080\nsecond line");
  s.steps = {
      [&](HWND dialog) { tap(centre(GetDlgItem(dialog, kName))); },
      [&](HWND) {
        type(u"old name");
        chord(VK_SHIFT, VK_HOME);  // the whole text selected
      },
      [&](HWND) { type(u"x"); },  // replaces the selection
      [&](HWND dialog) {
        EXPECT_EQ(text(dialog, kName), u"x");
        chord(VK_CONTROL, 'V');  // the first line only
      },
      [&](HWND dialog) {
        EXPECT_EQ(text(dialog, kName), u"x10.0.0.7:8080");
        chord(VK_CONTROL, 'A');
        chord(VK_CONTROL, 'V');  // over all of it
      },
      [&](HWND dialog) {
        EXPECT_EQ(text(dialog, kName), u"10.0.0.7:8080");
        injectKey(VK_HOME, true);
        injectKey(VK_SHIFT, true);
        for (int i = 0; i < 8; ++i)
          injectKey(VK_RIGHT, true);
        injectKey(VK_SHIFT, false);
        chord(VK_CONTROL, 'C');
        injectKey(VK_END, true);
        injectChar(u'\b');  // no selection after End: one character
      },
      [&](HWND dialog) {
        EXPECT_EQ(text(dialog, kName), u"10.0.0.7:808");
        EXPECT_EQ(zenta::platform::clipboardText(), u"10.0.0.7");
        injectKey(VK_ESCAPE, true);
      },
  };
  const auto t = hostTemplate();
  EXPECT_EQ(DialogBoxIndirectParamW(nullptr, t.get(), owner, testProc, 0), 200);
}

TEST_F(Dialogs, CheckBoxCaptionOkAndColours) {
  s.labelBrush = CreateSolidBrush(RGB(0, 0, 160));
  s.steps = {
      [&](HWND dialog) {
        EXPECT_EQ(IsDlgButtonChecked(dialog, kGuest), BST_UNCHECKED);
        tap(centre(GetDlgItem(dialog, kGuest)));
      },
      [&](HWND dialog) {
        EXPECT_EQ(IsDlgButtonChecked(dialog, kGuest), BST_CHECKED);
        CheckDlgButton(dialog, kGuest, BST_UNCHECKED);
        EXPECT_EQ(IsDlgButtonChecked(dialog, kGuest), BST_UNCHECKED);
        // The label's background is the brush its parent answered.
        UpdateWindow(GetDlgItem(dialog, kLabel));
        RECT r;
        GetWindowRect(GetDlgItem(dialog, kLabel), &r);
        EXPECT_EQ(zenta::platform::screen().pixel(r.right - 2, r.bottom - 2), RGB(0, 0, 160));
        // The caption's OK button.
        RECT window;
        GetWindowRect(dialog, &window);
        tap(POINT{window.right - 16, window.top + 13});
      },
  };
  const auto t = hostTemplate();
  EXPECT_EQ(DialogBoxIndirectParamW(nullptr, t.get(), owner, testProc, 0), 100);
  EXPECT_EQ(std::count(s.log.begin(), s.log.end(), "guest clicked"), 1);
  DeleteObject(s.labelBrush);
}

TEST_F(Dialogs, ComboBoxListAndSearches) {
  s.steps = {
      [&](HWND dialog) {
        HWND hosts = GetDlgItem(dialog, kHosts);
        for (const char16_t* h : {u"Recorder", u"lobby", u"Remote", u"Gate"}) {
          SendMessageW(hosts, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(h));
        }
        EXPECT_EQ(SendMessageW(hosts, CB_GETCOUNT, 0, 0), 4);
        EXPECT_EQ(
            SendMessageW(hosts, CB_FINDSTRINGEXACT, WPARAM(-1), reinterpret_cast<LPARAM>(u"LOBBY")),
            1);
        EXPECT_EQ(
            SendMessageW(hosts, CB_FINDSTRINGEXACT, WPARAM(-1), reinterpret_cast<LPARAM>(u"lob")),
            CB_ERR);
        // Prefix search after the index given, wrapping round.
        EXPECT_EQ(SendMessageW(hosts, CB_SELECTSTRING, 0, reinterpret_cast<LPARAM>(u"re")), 2);
        EXPECT_EQ(SendMessageW(hosts, CB_SELECTSTRING, 2, reinterpret_cast<LPARAM>(u"RE")), 0);
        EXPECT_EQ(SendMessageW(hosts, CB_GETCURSEL, 0, 0), 0);
        EXPECT_EQ(text(dialog, kHosts), u"Recorder");
        EXPECT_EQ(SendMessageW(hosts, CB_GETLBTEXTLEN, 3, 0), 4);
        char16_t item[16];
        EXPECT_EQ(SendMessageW(hosts, CB_GETLBTEXT, 3, reinterpret_cast<LPARAM>(item)), 4);
        EXPECT_EQ(std::u16string(item), u"Gate");
        EXPECT_EQ(SendMessageW(hosts, CB_GETLBTEXT, 9, reinterpret_cast<LPARAM>(item)), CB_ERR);
        SendMessageW(hosts, CB_INSERTSTRING, 0, reinterpret_cast<LPARAM>(u"First"));
        EXPECT_EQ(SendMessageW(hosts, CB_GETCURSEL, 0, 0), 1);  // the selection moved with its item
        SendMessageW(hosts, CB_DELETESTRING, 0, 0);
        EXPECT_EQ(SendMessageW(hosts, CB_GETCURSEL, 0, 0), 0);
        // A click on the arrow, its press and release apart as a mouse
        // sends them: the list opens on the press and stays open.
        RECT r;
        GetWindowRect(hosts, &r);
        injectStylus(StylusAction::Down, r.right - 4, (r.top + r.bottom) / 2);
      },
      [&](HWND dialog) {
        RECT r;
        GetWindowRect(GetDlgItem(dialog, kHosts), &r);
        injectStylus(StylusAction::Up, r.right - 4, (r.top + r.bottom) / 2);
      },
      [&](HWND dialog) {
        HWND hosts = GetDlgItem(dialog, kHosts);
        EXPECT_EQ(SendMessageW(hosts, CB_GETDROPPEDSTATE, 0, 0), 1);
        // A click on the third item of the list picks it.
        HWND list = FindWindowW(u"ComboLBox", nullptr);
        ASSERT_NE(list, nullptr);
        RECT l;
        GetWindowRect(list, &l);
        const int itemHeight = (l.bottom - l.top - 2) / 4;
        injectStylus(StylusAction::Down, l.left + 10, l.top + 1 + 2 * itemHeight + itemHeight / 2);
      },
      [&](HWND dialog) {
        EXPECT_EQ(SendDlgItemMessageW(dialog, kHosts, CB_GETDROPPEDSTATE, 0, 0), 1);
        HWND list = FindWindowW(u"ComboLBox", nullptr);
        RECT l;
        GetWindowRect(list, &l);
        const int itemHeight = (l.bottom - l.top - 2) / 4;
        injectStylus(StylusAction::Up, l.left + 10, l.top + 1 + 2 * itemHeight + itemHeight / 2);
      },
      [&](HWND dialog) {
        HWND hosts = GetDlgItem(dialog, kHosts);
        EXPECT_EQ(SendMessageW(hosts, CB_GETDROPPEDSTATE, 0, 0), 0);
        EXPECT_EQ(SendMessageW(hosts, CB_GETCURSEL, 0, 0), 2);
        EXPECT_EQ(text(dialog, kHosts), u"Remote");
        // The keys: F4 opens, Down steps, Enter picks and leaves the dialog
        // open; Alt+Down opens, Escape closes and goes back.
        tap(centre(GetDlgItem(hosts, 1001)));
        for (const UINT key : {VK_F1 + 3, VK_DOWN, VK_RETURN})
          press(key);
      },
      [&](HWND dialog) {
        EXPECT_EQ(SendDlgItemMessageW(dialog, kHosts, CB_GETDROPPEDSTATE, 0, 0), 0);
        EXPECT_EQ(text(dialog, kHosts), u"Gate");
        press(VK_DOWN, VK_MENU);
        press(VK_UP);
      },
      [&](HWND dialog) {
        EXPECT_EQ(SendDlgItemMessageW(dialog, kHosts, CB_GETDROPPEDSTATE, 0, 0), 1);
        EXPECT_EQ(text(dialog, kHosts), u"Remote");
        press(VK_ESCAPE);
      },
      [&](HWND dialog) {
        EXPECT_EQ(SendDlgItemMessageW(dialog, kHosts, CB_GETDROPPEDSTATE, 0, 0), 0);
        EXPECT_EQ(text(dialog, kHosts), u"Gate");
        SetDlgItemTextW(dialog, kHosts, u"Remote");
        SendDlgItemMessageW(dialog, kHosts, CB_SETCURSEL, 2, 0);
        // Typing into the edit part.
        tap(centre(GetDlgItem(GetDlgItem(dialog, kHosts), 1001)));
        type(u"!");
      },
      [&](HWND dialog) {
        EXPECT_EQ(text(dialog, kHosts), u"Remote!");
        // A tap elsewhere closes an open list without a pick.
        SendDlgItemMessageW(dialog, kHosts, CB_SHOWDROPDOWN, TRUE, 0);
        tap(POINT{5, 300});
      },
      [&](HWND dialog) {
        EXPECT_EQ(SendDlgItemMessageW(dialog, kHosts, CB_GETDROPPEDSTATE, 0, 0), 0);
        EXPECT_EQ(SendDlgItemMessageW(dialog, kHosts, CB_GETCURSEL, 0, 0), 2);
        SendDlgItemMessageW(dialog, kHosts, CB_RESETCONTENT, 0, 0);
        EXPECT_EQ(SendDlgItemMessageW(dialog, kHosts, CB_GETCOUNT, 0, 0), 0);
        EndDialog(dialog, 1);
      },
  };
  const auto t = hostTemplate();
  EXPECT_EQ(DialogBoxIndirectParamW(nullptr, t.get(), owner, testProc, 0), 1);
  const auto count = [&](const char* e) {
    return std::count(s.log.begin(), s.log.end(), std::string(e));
  };
  EXPECT_EQ(count("hosts dropdown"), 4);
  EXPECT_EQ(count("hosts closeup"), 4);
  EXPECT_EQ(count("hosts selchange"), 4);
  EXPECT_EQ(count("hosts editchange"), 1);
  EXPECT_GE(count("hosts setfocus"), 1);
}

TEST_F(Dialogs, ATemplateIsReadWithinItsSize) {
  const auto t = hostTemplate();
  const auto* data = reinterpret_cast<const uint8_t*>(t.get());
  zenta::platform::ParsedTemplate whole;
  ASSERT_TRUE(zenta::platform::parseDialogTemplate(data, t.bytes(), whole));
  EXPECT_EQ(whole.title, u"Select Host");
  // Cut anywhere, the template is refused, and nothing past the cut is read
  // (the copy ends there, so AddressSanitizer would see a read beyond it).
  for (size_t cut = 0; cut < t.bytes(); ++cut) {
    const std::vector<uint8_t> part(data, data + cut);
    zenta::platform::ParsedTemplate parsed;
    EXPECT_FALSE(zenta::platform::parseDialogTemplate(part.data(), part.size(), parsed)) << cut;
  }
}

}  // namespace
