#include "core/ResourceModule.h"

#include "core/CurrentPlatform.h"

namespace vx380::core {

ResourceModule& ResourceModule::operator=(ResourceModule&& other) noexcept {
  handle_ = other.handle_;
  platform_ = other.platform_;
  installation_ = other.installation_;
  other.handle_ = 0;
  return *this;
}

void ResourceModule::Load(const String& path) {
  Release();
  // The number is taken before the platform: a change meanwhile makes the module look foreign.
  const std::uint64_t installation = PlatformInstallation();
  Platform& p = CurrentPlatform();
  handle_ = p.LoadResourceModule(path);
  platform_ = &p;
  installation_ = installation;
}

void ResourceModule::Release() {
  if (!loaded()) return;
  const ModuleHandle released = handle_;
  handle_ = 0;
  if (installation_ == PlatformInstallation()) platform_->FreeResourceModule(released);
}

}  // namespace vx380::core
