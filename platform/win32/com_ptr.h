// Owners for COM: a move-only interface pointer that releases its reference,
// and a BSTR that is freed.
#pragma once
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <utility>

#include "platform/win32/unique_handle.h"

namespace platform::win32 {

template <class T>
class ComPtr {
 public:
  ComPtr() noexcept = default;
  // Takes over the caller's reference.
  explicit ComPtr(T* p) noexcept : p_(p) {}
  ~ComPtr() { reset(); }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  ComPtr& operator=(ComPtr&& o) noexcept {
    if (this != &o) reset(std::exchange(o.p_, nullptr));
    return *this;
  }

  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  // For the out parameter of a creating call: drops what is held first.
  T** out() noexcept {
    reset();
    return &p_;
  }
  void** out_void() noexcept { return reinterpret_cast<void**>(out()); }
  void reset(T* p = nullptr) noexcept {
    T* old = std::exchange(p_, p);
    if (old) old->Release();
  }

 private:
  T* p_ = nullptr;
};

struct BstrTraits {
  using Type = BSTR;
  static Type Invalid() { return nullptr; }
  static void Close(Type s) { ::SysFreeString(s); }
};
using UniqueBstr = UniqueHandle<BstrTraits>;

}  // namespace platform::win32
