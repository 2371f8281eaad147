// The CErrorStatus COM object: _CErrorStatus over one vx380::CErrorStatus.
#pragma once

#include <memory>

#include "AutomationObject.h"
#include "VX380ErrorLogging.h"
#include "vx380/CErrorStatus.h"

namespace vx380::com {

class CErrorStatusObject final : public AutomationObject<_CErrorStatus, IID__CErrorStatus, CLSID_CErrorStatus> {
 public:
  CErrorStatusObject();

  STDMETHODIMP get_Status(SHORT* result) override;
  STDMETHODIMP put_Status(SHORT value) override;
  STDMETHODIMP Clear() override;

 private:
  std::unique_ptr<vx380::CErrorStatus> core_;
};

}  // namespace vx380::com
