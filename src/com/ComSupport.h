// Small RAII and conversion helpers shared by the COM layer: an owning interface
// pointer, BSTR <-> vx380::String, a self-clearing VARIANT and an EXCEPINFO owner.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstring>
#include <utility>

#include "vx380/Automation.h"

namespace vx380::com {

template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  // Takes a new reference.
  explicit ComPtr(T* p) : p_(p) {
    if (p_) p_->AddRef();
  }
  ComPtr(const ComPtr& o) : ComPtr(o.p_) {}
  ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  ComPtr& operator=(ComPtr o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  ~ComPtr() {
    if (p_) p_->Release();
  }

  // Adopts a reference the caller already owns.
  static ComPtr Attach(T* p) {
    ComPtr r;
    r.p_ = p;
    return r;
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // For out parameters: releases what is held first.
  T** Put() {
    *this = nullptr;
    return &p_;
  }

  template <class U>
  ComPtr<U> As(REFIID iid) const {
    ComPtr<U> r;
    if (p_) p_->QueryInterface(iid, reinterpret_cast<void**>(r.Put()));
    return r;
  }

 private:
  T* p_ = nullptr;
};

// A null BSTR reads as "".
inline String ToString(BSTR b) {
  if (!b) return String();
  return String(reinterpret_cast<const char16_t*>(b), SysStringLen(b));
}

// Throws std::bad_alloc when the string cannot be allocated; an empty string gives a real empty BSTR.
inline BSTR ToBstr(const String& s) {
  BSTR b = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(s.data()), static_cast<UINT>(s.size()));
  if (!b) throw std::bad_alloc();
  return b;
}

class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(const String& s) : b_(ToBstr(s)) {}
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { SysFreeString(b_); }
  BSTR get() const { return b_; }
  BSTR* Put() {
    SysFreeString(b_);
    b_ = nullptr;
    return &b_;
  }
  String str() const { return ToString(b_); }

 private:
  BSTR b_ = nullptr;
};

class Var {
 public:
  Var() { VariantInit(&v_); }
  Var(const Var&) = delete;
  Var& operator=(const Var&) = delete;
  ~Var() {
    if (v_.vt != VT_EMPTY) VariantClear(&v_);  // most stay empty: spare the runtime call
  }
  VARIANT* get() { return &v_; }
  const VARIANT* get() const { return &v_; }
  VARIANT* operator->() { return &v_; }
  void Clear() { VariantClear(&v_); }

 private:
  VARIANT v_;
};

// An EXCEPINFO that frees its strings with it.
class ExcepInfo {
 public:
  ExcepInfo() { std::memset(&info_, 0, sizeof(info_)); }
  ExcepInfo(const ExcepInfo&) = delete;
  ExcepInfo& operator=(const ExcepInfo&) = delete;
  ~ExcepInfo() {
    SysFreeString(info_.bstrSource);
    SysFreeString(info_.bstrDescription);
    SysFreeString(info_.bstrHelpFile);
  }
  EXCEPINFO* get() { return &info_; }

 private:
  EXCEPINFO info_;
};

}  // namespace vx380::com
