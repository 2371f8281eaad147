// Settings of the component read from the registry: keys and the switches read at every call.
#pragma once

#include "vx380/Automation.h"

namespace vx380 {
class ErrorLog;
}

namespace vx380::core {

// The registry key of one of an application's error reporting settings.
String SettingKey(const String& appName, const String& setting);

// A switch read on every call (the default value of root\subKey, through the object's
// LookUpValueForKey): read again only when the platform says the key may have changed since.
Boolean LookUpSwitch(ErrorLog& log, Long root, const String& subKey, String& value);

}  // namespace vx380::core
