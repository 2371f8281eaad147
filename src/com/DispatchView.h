// vx380::LateBound over a host's IDispatch (and its IEnumVARIANT enumerations):
// how the dump members reach the drawing library's objects in the COM build.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "ComSupport.h"
#include "vx380/LateBound.h"

namespace vx380::com {

class DispatchView final : public LateBound {
 public:
  explicit DispatchView(IDispatch* dispatch);

  Variant GetProperty(const String& name) override;
  Variant GetPropertyById(Long dispId) override;
  void CallWithDoublesByRef(Long dispId, std::vector<double>& elements) override;
  std::unique_ptr<Enumerator> NewEnum() override;
  String TypeName() override;
  const void* Identity() const override { return identity_.get(); }

 private:
  // Invoke with failures raised as the object's own error; false when the object has no
  // member of that kind.
  bool TryCall(DISPID id, WORD flags, DISPPARAMS& params, VARIANT* result);
  // TryCall, or raise when there is no such member.
  void Call(DISPID id, WORD flags, DISPPARAMS& params, VARIANT* result);

  ComPtr<IDispatch> dispatch_;
  ComPtr<IUnknown> identity_;
};

}  // namespace vx380::com
