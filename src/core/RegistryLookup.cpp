// LookUpValueForKey: one registry value as text, byte for byte as the registry holds it.
#include "core/RegistryLookup.h"

#include <cstdint>
#include <cstring>

#include "core/CurrentPlatform.h"
#include "core/ThreadContext.h"
#include "core/VariantText.h"
#include "vx380/ErrorLog.h"

namespace vx380 {

namespace {
constexpr std::uint32_t kValueBufferBytes = 255;

class OpenedKey {
 public:
  OpenedKey(Platform& p, RegKeyHandle key) : p_(p), key_(key) {}
  ~OpenedKey() { p_.CloseSettingsKey(key_); }
  RegKeyHandle get() const { return key_; }

 private:
  Platform& p_;
  RegKeyHandle key_;
};
}  // namespace

Boolean ErrorLog::LookUpValueForKey(const Long& lKey, const String& szSubKey, String& szValue, const Variant& szName) {
  Platform& p = CurrentPlatform();
  try {
    RegKeyHandle handle = 0;
    if (!p.OpenSettingsKey(lKey, p.ToAnsi(szSubKey), handle)) return kFalse;
    OpenedKey key(p, handle);

    szValue.assign(kValueBufferBytes, u' ');
    const std::string name = p.ToAnsi(core::VariantToString(szName));  // an omitted name fails here
    unsigned char buffer[kValueBufferBytes];
    std::memset(buffer, ' ', sizeof buffer);
    std::uint32_t stored = kValueBufferBytes;
    if (!p.QuerySettingsValue(key.get(), name, buffer, &stored)) return kFalse;
    if (stored < 1 || stored > kValueBufferBytes) return kFalse;  // no data: Left(s, -1) fails

    // The buffer comes back whole; the data less their last byte (a string's NUL) is the value.
    const String converted = p.FromAnsi(std::string(reinterpret_cast<const char*>(buffer), sizeof buffer));
    szValue = converted.substr(0, stored - 1);
    return kTrue;
  } catch (...) {
    return kFalse;
  }
}

namespace core {

String SettingKey(const String& appName, const String& setting) {
  return u"SOFTWARE\\Meridox\\Applications\\" + appName + u".Application\\ErrorReporting\\" + setting;
}

// A platform may answer with a number only where it moves before the call that changed the
// setting returns: a call made after a change must act on it. Windows cannot tell that
// cheaply (change notifications arrive later) and answers 0, so every call reads.
Boolean LookUpSwitch(ErrorLog& log, Long root, const String& subKey, String& value) {
  // The installation is taken before the platform: a change meanwhile brings another read.
  const std::uint64_t installation = PlatformInstallation();
  Platform& p = CurrentPlatform();
  // The number is taken before the read, so a change while reading brings another read.
  const std::uint64_t generation = p.SettingsGeneration(root, p.ToAnsi(subKey));
  if (generation == 0) return log.LookUpValueForKey(root, subKey, value, Variant(String{}));
  CachedSwitch& cached = ThisThread().switches[{root, subKey}];
  if (cached.installation != installation || cached.generation != generation) {
    cached.installation = 0;  // a read that throws leaves nothing to trust
    cached.found = log.LookUpValueForKey(root, subKey, cached.value, Variant(String{}));
    cached.installation = installation;
    cached.generation = generation;
  }
  value = cached.value;
  return cached.found;
}

}  // namespace core
}  // namespace vx380
