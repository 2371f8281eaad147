// Message boxes: the real MessageBox with the caller's style, owned by the thread's
// active window as the classic runtime's boxes are.
//
// A box given a help file is shown with MessageBoxIndirect so that its Help button
// (style 0x4000) and F1 open the help file at the given context: WinHelp for .hlp
// files, HTML Help for .chm files. Without a help file the style goes to MessageBoxW.
#include "Win32Platform.h"

#include <cwctype>

namespace vx380::win32 {
namespace {

struct HelpTarget {
  const String* file = nullptr;
  Long context = 0;
};
thread_local HelpTarget t_help;  // the help of the box this thread is showing

bool IsChm(const String& file) {
  if (file.size() < 4) return false;
  String ext = file.substr(file.size() - 4);
  for (auto& c : ext) c = static_cast<char16_t>(std::towlower(c));
  return ext == u".chm";
}

void CALLBACK OpenHelp(LPHELPINFO info) {
  if (!t_help.file) return;
  HWND owner = info ? static_cast<HWND>(info->hItemHandle) : nullptr;
  const wchar_t* file = Wide(*t_help.file);
  if (IsChm(*t_help.file)) {
    // HTML Help lives in hhctrl.ocx, loaded only when someone asks for help.
    using HtmlHelpFn = HWND(WINAPI*)(HWND, LPCWSTR, UINT, DWORD_PTR);
    static HMODULE hhctrl = ::LoadLibraryW(L"hhctrl.ocx");
    auto htmlHelp =
        hhctrl ? reinterpret_cast<HtmlHelpFn>(reinterpret_cast<void*>(::GetProcAddress(hhctrl, "HtmlHelpW"))) : nullptr;
    if (!htmlHelp) return;
    constexpr UINT kDisplayTopic = 0x0000, kHelpContext = 0x000F;
    if (t_help.context != 0)
      htmlHelp(owner, file, kHelpContext, static_cast<DWORD_PTR>(static_cast<DWORD>(t_help.context)));
    else htmlHelp(owner, file, kDisplayTopic, 0);
  } else if (t_help.context != 0) {
    ::WinHelpW(owner, file, HELP_CONTEXT, static_cast<ULONG_PTR>(static_cast<DWORD>(t_help.context)));
  } else {
    ::WinHelpW(owner, file, HELP_CONTENTS, 0);
  }
}

}  // namespace

Long Win32Platform::ShowMessageBox(const String& prompt, Long style, const String& title, const String& helpFile,
                                   Long helpContext) {
  const UINT flags = static_cast<UINT>(style);
  const String& caption = title.empty() ? kDefaultBoxTitle : title;
  // Task-modal and service boxes must have no owner.
  HWND owner =
      (flags & (MB_TASKMODAL | MB_SERVICE_NOTIFICATION | MB_DEFAULT_DESKTOP_ONLY)) ? nullptr : ::GetActiveWindow();
  if (helpFile.empty()) return ::MessageBoxW(owner, Wide(prompt), Wide(caption), flags);

  MSGBOXPARAMSW params{};
  params.cbSize = sizeof(params);
  params.hwndOwner = owner;
  params.lpszText = Wide(prompt);
  params.lpszCaption = Wide(caption);
  params.dwStyle = flags;
  params.dwContextHelpId = static_cast<DWORD_PTR>(static_cast<DWORD>(helpContext));
  params.lpfnMsgBoxCallback = OpenHelp;
  params.dwLanguageId = LANG_NEUTRAL;
  HelpTarget saved = t_help;  // a box shown from inside a help callback nests
  t_help = HelpTarget{&helpFile, helpContext};
  int answer = ::MessageBoxIndirectW(&params);
  t_help = saved;
  return answer;
}

}  // namespace vx380::win32
