// The error edge of the COM layer: raised errors become HRESULTs with IErrorInfo,
// and the core's thread error object (vx380::Err()) is kept in step with the
// thread's COM error info.
//
// Number <-> HRESULT mapping, the one place it is decided:
//   1 .. 65535          <-> 0x800A0000 | number (FACILITY_CONTROL; what classic clients
//                            and script engines read back as the plain number)
//   negative numbers     -> passed unchanged: they already are failure HRESULTs
//   0 and above 65535    -> 0x800A0005 (5, "Invalid procedure call or argument"), as the
//                            classic runtime treats a raise it cannot represent; the
//                            IErrorInfo still carries the source and description
// Going the other way (errors of host objects seen through IDispatch) a 0x800Axxxx
// code gives xxxx, DISP_E_* codes give their classic runtime numbers (438, 13, 6,
// 449, 450, 9) and any other failure HRESULT gives itself as a negative number.
//
// The pending error: at the entry of a member the thread's pending IErrorInfo is
// read into vx380::Err(). IErrorInfo has no number, so the number is recovered
// only when the pending error info is the one this DLL published last on the
// thread (a raise, or a member that left vx380::Err() set); for foreign error
// info it reads as 0. When a member returns normally, what vx380::Err() holds is
// published back (the original object when nothing changed), so a LogError that
// does not raise leaves the caller's pending error as it was.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "ComSupport.h"
#include "vx380/Automation.h"

namespace vx380::com {

HRESULT HResultFromErrorNumber(Long number);

// The error a client sees for a failure HRESULT of a dispatch call, without EXCEPINFO.
ErrObject ErrorFromHResult(HRESULT hr);
// The error of a DISP_E_EXCEPTION: the object's own number, source and description. Runs the
// deferred fill-in; the strings stay with info (see ExcepInfo).
ErrObject ErrorFromExcepInfo(EXCEPINFO& info);

// Reads (and consumes) the thread's pending error info; number as described above.
ErrObject TakePendingError(ComPtr<IErrorInfo>* info = nullptr);
// Makes err the thread's pending error info (none when err is clear).
void PublishError(const ErrObject& err, REFIID iid);

// One member call on a COM object: syncs vx380::Err() with the COM error info on
// entry and on normal exit of the outermost call of the thread.
class MemberCall {
 public:
  explicit MemberCall(REFIID iid);
  MemberCall(const MemberCall&) = delete;
  MemberCall& operator=(const MemberCall&) = delete;
  ~MemberCall();

  HRESULT Succeeded();
  HRESULT Raised(const ErrObject& err);
  // Failures that are not the member's own (bad pointers): no error info.
  HRESULT Refused(HRESULT hr);

 private:
  const IID& iid_;
  bool outermost_;
  ErrObject entry_;
  ComPtr<IErrorInfo> entryInfo_;
};

// Runs body as the member of interface iid: exceptions never leave, raised errors
// become HRESULT + IErrorInfo.
template <class F>
HRESULT RunMember(REFIID iid, F&& body) noexcept {
  try {
    MemberCall call(iid);
    try {
      body();
    } catch (...) {
      return call.Raised(ErrorFromCurrentException());
    }
    return call.Succeeded();
  } catch (...) {
    return E_OUTOFMEMORY;  // only the entry sync itself can get here
  }
}

}  // namespace vx380::com
