// Registration driven by one table of classes, written below a classes root:
// HKEY_CLASSES_ROOT machine-wide (Windows maps it to HKLM\Software\Classes for an
// administrator, and 32-bit registrations into its WOW6432Node view), or
// HKEY_CURRENT_USER\Software\Classes for the current user, which needs no administrator
// and which COM reads before the machine's entries.
#include "Registration.h"

#include <olectl.h>

#include <cwctype>
#include <string>

#include "EntryPoint.h"
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

constexpr const wchar_t* kUserClasses = L"Software\\Classes";
// The containers below the classes root that registration may have to make.
const wchar_t* const kContainers[] = {L"CLSID", L"Interface", L"TypeLib"};
// Per user, the containers registration made (and "Classes" when it made the root itself) are
// noted in a value of the ErrorLog class's own key: unregistration takes away only those, and
// only when it leaves them empty, so HKCU is left as it was found.
constexpr const wchar_t* kMadeValue = L"VX380MadeContainers";
constexpr const wchar_t* kMadeRoot = L"Classes";

std::wstring OwnKey() { return L"CLSID\\" + GuidText(CLSID_ErrorLog); }

bool Listed(const std::wstring& list, const std::wstring& name) {
  return (L";" + list + L";").find(L";" + name + L";") != std::wstring::npos;
}

// The root every key of one scope is written below. Machine-wide it is the predefined
// HKEY_CLASSES_ROOT; per user it is HKCU\Software\Classes, created for registration only.
class ClassesRoot {
 public:
  ClassesRoot(RegistrationScope scope, bool create) : scope_(scope) {
    if (scope != RegistrationScope::User) return;
    owned_ = create ? RegKey::Create(HKEY_CURRENT_USER, kUserClasses, KEY_READ | KEY_WRITE, &made_)
                    : RegKey::Open(HKEY_CURRENT_USER, kUserClasses, KEY_READ | KEY_WRITE);
  }
  HKEY get() const { return scope_ == RegistrationScope::User ? owned_.get() : HKEY_CLASSES_ROOT; }
  explicit operator bool() const { return get() != nullptr; }
  bool made() const { return made_; }
  void Close() { owned_.Reset(); }

 private:
  RegistrationScope scope_;
  RegKey owned_;
  bool made_ = false;
};

// Makes the containers and notes those it made, beside what an earlier registration noted.
bool MakeContainers(const ClassesRoot& root) {
  std::wstring made = RegKey::Open(root.get(), OwnKey(), KEY_QUERY_VALUE).GetString(kMadeValue);
  if (root.made() && !Listed(made, kMadeRoot)) made += std::wstring(made.empty() ? L"" : L";") + kMadeRoot;
  for (const wchar_t* container : kContainers) {
    bool madeNow = false;
    if (!RegKey::Create(root.get(), container, KEY_READ, &madeNow)) return false;
    if (madeNow && !Listed(made, container)) made += std::wstring(made.empty() ? L"" : L";") + container;
  }
  return made.empty() || SetKeyString(root.get(), OwnKey(), kMadeValue, made);
}

// What per-user registration made and left empty now goes.
void RemoveMadeContainers(ClassesRoot& root, const std::wstring& made) {
  for (const wchar_t* container : kContainers)
    if (Listed(made, container)) DeleteIfEmpty(root.get(), container);
  root.Close();
  if (Listed(made, kMadeRoot)) DeleteIfEmpty(HKEY_CURRENT_USER, kUserClasses);
}

bool RegisterClass(HKEY root, const ClassEntry& c, const std::wstring& modulePath) {
  const std::wstring clsid = GuidText(c.clsid);
  const std::wstring key = L"CLSID\\" + clsid;
  return SetKeyString(root, c.progId, L"", c.progId) &&
         SetKeyString(root, std::wstring(c.progId) + L"\\Clsid", L"", clsid) &&
         SetKeyString(root, key, L"", c.progId) && SetKeyString(root, key + L"\\InprocServer32", L"", modulePath) &&
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

// Takes away what registration wrote unless dismissed: registration that stops half-way, by a
// failure or an exception, leaves no half-registered server behind.
class Rollback {
 public:
  explicit Rollback(RegistrationScope scope) : scope_(scope) {}
  Rollback(const Rollback&) = delete;
  Rollback& operator=(const Rollback&) = delete;
  ~Rollback() {
    if (armed_) CatchReturn([this] { return UnregisterServer(scope_); });
  }
  void Dismiss() { armed_ = false; }

 private:
  RegistrationScope scope_;
  bool armed_ = true;
};

}  // namespace

HRESULT RegisterServer(RegistrationScope scope) {
  const std::wstring path = ModulePath();
  const ClassesRoot root(scope, true);
  if (path.empty() || !root) return SELFREG_E_CLASS;
  Rollback rollback(scope);
  if (scope == RegistrationScope::User && !MakeContainers(root)) return SELFREG_E_CLASS;
  for (const ClassEntry& c : kClasses) {
    if (!RegisterClass(root.get(), c, path)) return SELFREG_E_CLASS;
  }
  if (FAILED(RegisterTypeLibIn(scope, root.get(), path))) return SELFREG_E_TYPELIB;
  rollback.Dismiss();
  return S_OK;
}

HRESULT UnregisterServer(RegistrationScope scope) {
  ClassesRoot root(scope, false);
  if (!root) return scope == RegistrationScope::User ? S_OK : SELFREG_E_CLASS;  // no classes root, nothing of ours
  const std::wstring made = scope == RegistrationScope::User
                                ? RegKey::Open(root.get(), OwnKey(), KEY_QUERY_VALUE).GetString(kMadeValue)
                                : L"";
  bool ok = true;
  for (const ClassEntry& c : kClasses) {
    ok = DeleteTree(root.get(), L"CLSID\\" + GuidText(c.clsid)) && ok;
    ok = DeleteTree(root.get(), c.progId) && ok;
  }
  const HRESULT typeLib =
      scope == RegistrationScope::User ? UnregisterTypeLibUnder(root.get()) : UnregisterTypeLibMachine();
  if (scope == RegistrationScope::User) RemoveMadeContainers(root, made);
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
