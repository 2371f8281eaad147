// vx380::CErrorStatus: a holder of one status code passed between a host's routines.
#pragma once

#include "vx380/Automation.h"

namespace vx380 {

class VX380_API CErrorStatus {
 public:
  virtual ~CErrorStatus() = default;
  virtual Integer Status() { return status_; }
  virtual void Status(Integer value) { status_ = value; }
  virtual void Clear() { status_ = SUCCESS; }

 private:
  Integer status_ = SUCCESS;
};

}  // namespace vx380
