// _CErrorStatus: translation only; the status lives in vx380::CErrorStatus.
#include "CErrorStatusObject.h"

namespace vx380::com {

CErrorStatusObject::CErrorStatusObject() : core_(std::make_unique<vx380::CErrorStatus>()) {}

STDMETHODIMP CErrorStatusObject::get_Status(SHORT* result) {
  if (!result) return E_POINTER;
  return RunMember(IID__CErrorStatus, [&] { *result = core_->Status(); });
}

STDMETHODIMP CErrorStatusObject::put_Status(SHORT value) {
  return RunMember(IID__CErrorStatus, [&] { core_->Status(value); });
}

STDMETHODIMP CErrorStatusObject::Clear() {
  return RunMember(IID__CErrorStatus, [&] { core_->Clear(); });
}

}  // namespace vx380::com
