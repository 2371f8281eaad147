// boxbot: answers message boxes the way a person would, and writes down what each showed.
//
//   boxbot.exe OUTFILE [--answer ANSWER]... [--count N] [--timeout SECONDS]
//              [--ready FILE] [--stop FILE] [--delay MS]
//
// Watches for top-level dialog windows (class #32770) of other processes. For each new
// box it reads the title, the text and the buttons, presses the button given by the next
// --answer (the last one repeats; none means the box's default button) and appends one
// JSON record on a line of its own to OUTFILE:
//   {"index":1,"pid":42,"title":"T","text":"Proceed?","buttons":[{"id":6,"text":"&Yes"},
//    {"id":7,"text":"&No"}],"default":6,"icon":"question","pressed":7,"pressedText":"&No"}
// "icon" is critical, question, exclamation, information, none or unknown (read from the
// screen, so it needs a display: the rig's Xvfb).
// ANSWER is a button caption (case and "&" ignored, so "no" finds "&No"), "id:N" or "default".
// Ends after N boxes (exit 0), when the --stop file appears or at the timeout (default
// 120 s); those exit 0 when N is 0 (answer everything until stopped) and 1 otherwise.
#include <windows.h>

#include <cstdio>
#include <cmath>
#include <cstdlib>
#include <cwctype>
#include <set>
#include <string>
#include <vector>

#include "channel/TextCodec.h"

namespace {

struct Button {
  int id;
  std::wstring text;
  HWND hwnd;
};

std::wstring WindowText(HWND hwnd) {
  int n = GetWindowTextLengthW(hwnd);
  std::wstring s(static_cast<std::size_t>(n) + 1, L'\0');
  n = GetWindowTextW(hwnd, s.data(), n + 1);
  s.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return s;
}

std::wstring ClassName(HWND hwnd) {
  wchar_t name[64] = {};
  GetClassNameW(hwnd, name, 64);
  return name;
}

std::wstring Plain(const std::wstring& caption) {
  std::wstring out;
  for (wchar_t c : caption)
    if (c != L'&') out += static_cast<wchar_t>(std::towlower(c));
  return out;
}

std::string Json(const std::wstring& text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size(); ++i) {
    unsigned cp = text[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < text.size()) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[++i] - 0xDC00);
    }
    switch (cp) {
      case '"':
        out += "\\\"";
        continue;
      case '\\':
        out += "\\\\";
        continue;
      case '\n':
        out += "\\n";
        continue;
      case '\r':
        out += "\\r";
        continue;
      case '\t':
        out += "\\t";
        continue;
    }
    if (cp < 0x20) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", cp);
      out += esc;
    } else {
      vx380::channel::AppendUtf8(out, static_cast<char32_t>(cp));
    }
  }
  return out + "\"";
}

std::wstring Widen(const char* s) {
  int n = MultiByteToWideChar(CP_ACP, 0, s, -1, nullptr, 0);
  std::wstring w(static_cast<std::size_t>(n > 0 ? n : 1), L'\0');
  MultiByteToWideChar(CP_ACP, 0, s, -1, w.data(), n);
  w.resize(w.size() - 1);
  return w;
}

BOOL CALLBACK CollectBox(HWND hwnd, LPARAM list) {
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid != GetCurrentProcessId() && IsWindowVisible(hwnd) && ClassName(hwnd) == L"#32770")
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(hwnd);
  return TRUE;
}

BOOL CALLBACK CollectChild(HWND hwnd, LPARAM list) {
  reinterpret_cast<std::vector<HWND>*>(list)->push_back(hwnd);
  return TRUE;
}

// Which standard icon the box shows, told apart by its pixels on the screen: icon
// handles of another process cannot be compared. "none" when the box has no icon,
// "unknown" when the pixels match none of the four.
std::string IconOf(const std::vector<HWND>& children) {
  HWND iconControl = nullptr;
  for (HWND child : children)
    if (_wcsicmp(ClassName(child).c_str(), L"Static") == 0 &&
        (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON && IsWindowVisible(child))
      iconControl = child;
  // Wine keeps the icon control of a box without icon, empty.
  if (!iconControl || !SendMessageW(iconControl, STM_GETICON, 0, 0)) return "none";
  RECT r;
  GetWindowRect(iconControl, &r);
  const int w = GetSystemMetrics(SM_CXICON), h = GetSystemMetrics(SM_CYICON);
  if (r.right - r.left < w || r.bottom - r.top < h) return "unknown";

  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = -h;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  auto* pixels = static_cast<DWORD*>(bits);

  BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  GdiFlush();
  const std::vector<DWORD> shown(pixels, pixels + w * h);
  const DWORD background = shown[0] & 0xFFFFFF;

  static const struct {
    WORD id;
    const char* name;
  } kIcons[] = {{32513, "critical"}, {32514, "question"}, {32515, "exclamation"}, {32516, "information"}};
  std::string best = "unknown";
  int bestDifferent = w * h / 20 + 1;  // at most 5% of the pixels may differ
  for (const auto& icon : kIcons) {
    for (int i = 0; i < w * h; ++i) pixels[i] = background;
    DrawIconEx(memory, 0, 0, LoadIconW(nullptr, MAKEINTRESOURCEW(icon.id)), w, h, 0, nullptr, DI_NORMAL);
    GdiFlush();
    int different = 0;
    for (int i = 0; i < w * h; ++i) {
      const DWORD a = pixels[i], b = shown[i];
      for (int shift = 0; shift < 24; shift += 8) {
        if (std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)) > 24) {
          ++different;
          break;
        }
      }
    }
    if (different < bestDifferent) {
      bestDifferent = different;
      best = icon.name;
    }
  }
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return best;
}

// A busy machine may show a box before it has painted its icon, and a window of another
// program on the same screen (Wine's own, as it makes a prefix) may lie over it: the box is
// put above every other window, its icon asked to paint itself again, and its pixels looked at
// again, for up to half a minute, before they count as no standard icon.
std::string SettledIconOf(const std::vector<HWND>& children) {
  std::string icon = IconOf(children);
  for (int tries = 0; icon == "unknown" && tries < 600; ++tries) {
    if (!children.empty())
      SetWindowPos(GetAncestor(children.front(), GA_ROOT), HWND_TOPMOST, 0, 0, 0, 0,
                   SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    for (HWND child : children)
      if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) InvalidateRect(child, nullptr, TRUE);
    Sleep(50);
    icon = IconOf(children);
  }
  return icon;
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

int Usage() {
  std::fprintf(stderr,
               "usage: boxbot OUTFILE [--answer ANSWER]... [--count N] [--timeout SECONDS] [--ready FILE]"
               " [--stop FILE] [--delay MS]\n");
  return 64;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  std::string out = argv[1], ready, stop;
  std::vector<std::wstring> answers;
  int count = 0;
  double timeout = 120;
  DWORD delay = 100;
  for (int i = 2; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--answer" && i + 1 < argc) answers.push_back(Widen(argv[++i]));
    else if (a == "--count" && i + 1 < argc) count = std::atoi(argv[++i]);
    else if (a == "--timeout" && i + 1 < argc) timeout = std::atof(argv[++i]);
    else if (a == "--ready" && i + 1 < argc) ready = argv[++i];
    else if (a == "--stop" && i + 1 < argc) stop = argv[++i];
    else if (a == "--delay" && i + 1 < argc) delay = static_cast<DWORD>(std::atoi(argv[++i]));
    else return Usage();
  }
  FILE* file = std::fopen(out.c_str(), "ab");
  if (!file) {
    std::fprintf(stderr, "boxbot: cannot open %s\n", out.c_str());
    return 1;
  }
  if (!ready.empty()) {
    HANDLE h = CreateFileA(ready.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }

  std::set<HWND> answered;  // boxes already pressed that may still be closing
  int done = 0;
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeout * 1000);
  while ((count == 0 || done < count) && GetTickCount64() < deadline && !(!stop.empty() && Exists(stop))) {
    for (auto it = answered.begin(); it != answered.end();) it = IsWindow(*it) ? std::next(it) : answered.erase(it);

    std::vector<HWND> boxes;
    EnumWindows(CollectBox, reinterpret_cast<LPARAM>(&boxes));
    HWND box = nullptr;
    for (HWND b : boxes)
      if (!answered.count(b)) box = b;
    if (!box) {
      Sleep(50);
      continue;
    }
    Sleep(delay);  // let the box finish drawing, as a person would look before clicking
    if (!IsWindow(box)) continue;

    std::vector<HWND> children;
    EnumChildWindows(box, CollectChild, reinterpret_cast<LPARAM>(&children));
    std::wstring text;
    std::vector<Button> buttons;
    for (HWND child : children) {
      const std::wstring cls = ClassName(child);
      if (_wcsicmp(cls.c_str(), L"Button") == 0 && IsWindowVisible(child)) {
        buttons.push_back({GetDlgCtrlID(child), WindowText(child), child});
      } else if (_wcsicmp(cls.c_str(), L"Static") == 0 && text.empty()) {
        // The message is the static control with text (the icon's has none).
        text = WindowText(child);
      }
    }
    HWND message = GetDlgItem(box, 0xFFFF);
    if (message) text = WindowText(message);
    // The default button is the one drawn as such; Wine's boxes do not all report it
    // through DM_GETDEFID.
    int defaultId = 0;
    for (const Button& b : buttons)
      if ((GetWindowLongW(b.hwnd, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON) defaultId = b.id;
    if (!defaultId) {
      const LRESULT defId = SendMessageW(box, DM_GETDEFID, 0, 0);
      if (HIWORD(defId) == DC_HASDEFID) defaultId = LOWORD(defId);
    }

    const std::wstring wanted = answers.empty() ? L"default" : answers[std::min<std::size_t>(done, answers.size() - 1)];
    const Button* press = nullptr;
    for (const Button& b : buttons) {
      bool match = wanted == L"default"           ? b.id == defaultId
                   : wanted.rfind(L"id:", 0) == 0 ? b.id == _wtoi(wanted.c_str() + 3)
                                                  : Plain(b.text) == Plain(wanted);
      if (match) {
        press = &b;
        break;
      }
    }
    if (!press && wanted == L"default" && !buttons.empty()) press = &buttons.front();

    DWORD pid = 0;
    GetWindowThreadProcessId(box, &pid);
    std::string record = "{\"index\":" + std::to_string(done + 1) + ",\"pid\":" + std::to_string(pid) +
                         ",\"title\":" + Json(WindowText(box)) + ",\"text\":" + Json(text) + ",\"buttons\":[";
    for (std::size_t i = 0; i < buttons.size(); ++i) {
      if (i) record += ",";
      record += "{\"id\":" + std::to_string(buttons[i].id) + ",\"text\":" + Json(buttons[i].text) + "}";
    }
    record += "],\"default\":" + std::to_string(defaultId) + ",\"icon\":\"" + SettledIconOf(children) + "\"";
    if (press) {
      record += ",\"pressed\":" + std::to_string(press->id) + ",\"pressedText\":" + Json(press->text);
      PostMessageW(box, WM_COMMAND, MAKEWPARAM(press->id, BN_CLICKED), reinterpret_cast<LPARAM>(press->hwnd));
    } else {
      // Nothing matches: say so, and close the box the way Esc would so the test does not hang.
      record += ",\"pressed\":0,\"error\":" + Json(L"no button matches " + wanted);
      PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    }
    record += "}\n";
    std::fputs(record.c_str(), file);
    std::fflush(file);
    answered.insert(box);
    ++done;
  }
  std::fclose(file);
  return count == 0 || done >= count ? 0 : 1;
}
