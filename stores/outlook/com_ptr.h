#pragma once

#include <unknwn.h>

#include <utility>

namespace dialmend {

// Holds one reference to a COM object and releases it when it goes. Windows only.
template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(const ComPtr& other) : m_raw(other.m_raw) {
    if (m_raw) m_raw->AddRef();
  }
  ComPtr(ComPtr&& other) noexcept : m_raw(std::exchange(other.m_raw, nullptr)) {}
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(m_raw, other.m_raw);
    return *this;
  }
  ~ComPtr() { Reset(); }

  // Takes over a reference the caller already owns.
  [[nodiscard]] static ComPtr Adopt(T* raw) {
    ComPtr ptr;
    ptr.m_raw = raw;
    return ptr;
  }

  // Adds a reference of its own; the caller keeps its reference.
  [[nodiscard]] static ComPtr Share(T* raw) {
    if (raw) raw->AddRef();
    return Adopt(raw);
  }

  void Reset() {
    if (T* raw = std::exchange(m_raw, nullptr)) raw->Release();
  }

  // For an out-parameter: lets go of the object held now, then gives the slot to fill.
  [[nodiscard]] T** Put() {
    Reset();
    return &m_raw;
  }

  [[nodiscard]] T* Get() const { return m_raw; }
  T* operator->() const { return m_raw; }
  explicit operator bool() const { return m_raw != nullptr; }

 private:
  T* m_raw = nullptr;
};

}  // namespace dialmend
