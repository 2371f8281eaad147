// Registration driven by one table of classes, written below a classes root:
// HKEY_CLASSES_ROOT machine-wide (Windows maps it to HKLM\Software\Classes for an
// administrator, and 32-bit registrations into its WOW6432Node view), or
// HKEY_CURRENT_USER\Software\Classes for the current user, which needs no administrator
// and which COM reads before the machine's entries.
#include "Registration.h"

#include <olectl.h>

#include <cwctype>
#include <string>

#include "Module.h"
#include "RegistryKey.h"
#include "TypeLibRegistration.h"
#include "VX380ErrorLogging.h"

namespace vx380::com {
namespace {

struct ClassEntry {
  const CLSID& clsid;
  const wchar_t* progId;
};

const ClassEntry kClasses[] = {
    {CLSID_ErrorLog, L"VX380ErrorLogging.ErrorLog"},
    {CLSID_CErrorStatus, L"VX380ErrorLogging.CErrorStatus"},
};

// The root every key of one scope is written below. Machine-wide it is the predefined
// HKEY_CLASSES_ROOT; per user it is HKCU\Software\Classes, opened (or created) and owned here.
class ClassesRoot {
 public:
  explicit ClassesRoot(RegistrationScope scope) : scope_(scope) {
    if (scope == RegistrationScope::User)
      owned_ = RegKey::Create(HKEY_CURRENT_USER, L"Software\\Classes", KEY_READ | KEY_WRITE);
  }
  HKEY get() const { return scope_ == RegistrationScope::User ? owned_.get() : HKEY_CLASSES_ROOT; }
  explicit operator bool() const { return get() != nullptr; }

 private:
  RegistrationScope scope_;
  RegKey owned_;
};

bool RegisterClass(HKEY root, const ClassEntry& c, const std::wstring& modulePath) {
  const std::wstring clsid = GuidText(c.clsid);
  const std::wstring key = L"CLSID\\" + clsid;
  return SetKeyString(root, c.progId, L"", c.progId) &&
         SetKeyString(root, std::wstring(c.progId) + L"\\Clsid", L"", clsid) &&
         SetKeyString(root, key, L"", c.progId) &&
         SetKeyString(root, key + L"\\InprocServer32", L"", modulePath) &&
         SetKeyString(root, key + L"\\InprocServer32", L"ThreadingModel", L"Apartment") &&
         SetKeyString(root, key + L"\\ProgID", L"", c.progId) &&
         SetKeyString(root, key + L"\\VersionIndependentProgID", L"", c.progId) &&
         SetKeyString(root, key + L"\\TypeLib", L"", GuidText(LIBID_VX380ErrorLogging)) &&
         SetKeyString(root, key + L"\\Version", L"", L"1.0") && CreateKey(root, key + L"\\Programmable");
}

HRESULT RegisterTypeLibIn(RegistrationScope scope, HKEY root, const std::wstring& modulePath) {
  return scope == RegistrationScope::User ? RegisterTypeLibUnder(root, modulePath) : RegisterTypeLibMachine(modulePath);
}

bool IsUser(const wchar_t* text) {
  const wchar_t* user = L"user";
  for (; *text && *user; ++text, ++user)
    if (std::towlower(*text) != *user) return false;
  return !*text && !*user;
}

}  // namespace

HRESULT RegisterServer(RegistrationScope scope) {
  const std::wstring path = ModulePath();
  const ClassesRoot root(scope);
  if (path.empty() || !root) return SELFREG_E_CLASS;
  for (const ClassEntry& c : kClasses) {
    if (!RegisterClass(root.get(), c, path)) {
      UnregisterServer(scope);
      return SELFREG_E_CLASS;
    }
  }
  if (FAILED(RegisterTypeLibIn(scope, root.get(), path))) {
    UnregisterServer(scope);
    return SELFREG_E_TYPELIB;
  }
  return S_OK;
}

HRESULT UnregisterServer(RegistrationScope scope) {
  const ClassesRoot root(scope);
  if (!root) return SELFREG_E_CLASS;
  bool ok = true;
  for (const ClassEntry& c : kClasses) {
    ok = DeleteTree(root.get(), L"CLSID\\" + GuidText(c.clsid)) && ok;
    ok = DeleteTree(root.get(), c.progId) && ok;
  }
  const HRESULT typeLib =
      scope == RegistrationScope::User ? UnregisterTypeLibUnder(root.get()) : UnregisterTypeLibMachine();
  // Per user, the containers may well have been made by our registration: an empty one
  // goes too, so that nothing of ours is left. The machine's are never touched.
  if (scope == RegistrationScope::User)
    for (const wchar_t* container : {L"CLSID", L"Interface", L"TypeLib"}) DeleteIfEmpty(root.get(), container);
  return ok && SUCCEEDED(typeLib) ? S_OK : SELFREG_E_CLASS;
}

HRESULT Install(bool install, const wchar_t* commandLine) {
  RegistrationScope scope = RegistrationScope::Machine;
  if (commandLine && *commandLine) {
    if (!IsUser(commandLine)) return E_INVALIDARG;
    scope = RegistrationScope::User;
  }
  return install ? RegisterServer(scope) : UnregisterServer(scope);
}

}  // namespace vx380::com
