// Owners for COM interface pointers, BSTRs, VARIANTs and the COM apartment
// of the calling thread, so that every path out of a function releases what
// it obtained.
#pragma once

#include <objbase.h>
#include <oleauto.h>

namespace vt {

template <class T>
class CComRef {
 public:
  CComRef() = default;
  ~CComRef() { Reset(); }
  CComRef(const CComRef&) = delete;
  CComRef& operator=(const CComRef&) = delete;

  T* Get() const { return m_p; }
  T* operator->() const { return m_p; }
  explicit operator bool() const { return m_p != nullptr; }

  // Releases what is held and gives the slot for an out parameter.
  T** Put() {
    Reset();
    return &m_p;
  }
  void** PutVoid() { return reinterpret_cast<void**>(Put()); }

  void Reset() {
    if (m_p) {
      T* p = m_p;
      m_p = nullptr;
      p->Release();
    }
  }

 private:
  T* m_p = nullptr;
};

class CBstr {
 public:
  CBstr() = default;
  explicit CBstr(const wchar_t* text) : m_b(text ? ::SysAllocString(text) : nullptr) {}
  ~CBstr() { ::SysFreeString(m_b); }
  CBstr(const CBstr&) = delete;
  CBstr& operator=(const CBstr&) = delete;

  BSTR Get() const { return m_b; }
  BSTR* Put() {
    ::SysFreeString(m_b);
    m_b = nullptr;
    return &m_b;
  }

 private:
  BSTR m_b = nullptr;
};

// A VARIANT that is cleared on destruction; empty (VT_EMPTY) by default.
class CVariant {
 public:
  CVariant() { ::VariantInit(&m_v); }
  // A VT_BSTR variant holding a copy of text (a null BSTR for null text).
  explicit CVariant(const wchar_t* text) {
    ::VariantInit(&m_v);
    m_v.vt = VT_BSTR;
    m_v.bstrVal = text ? ::SysAllocString(text) : nullptr;
  }
  ~CVariant() { ::VariantClear(&m_v); }
  CVariant(const CVariant&) = delete;
  CVariant& operator=(const CVariant&) = delete;

  const VARIANT& Get() const { return m_v; }
  VARIANT* Put() {
    ::VariantClear(&m_v);
    return &m_v;
  }

 private:
  VARIANT m_v;
};

// CoInitialize for the lifetime of the object; CoUninitialize only when the
// initialisation succeeded (a thread already in another apartment keeps it).
class CComApartment {
 public:
  CComApartment() : m_hr(::CoInitialize(nullptr)) {}
  ~CComApartment() {
    if (SUCCEEDED(m_hr)) ::CoUninitialize();
  }
  CComApartment(const CComApartment&) = delete;
  CComApartment& operator=(const CComApartment&) = delete;
  HRESULT Result() const { return m_hr; }

 private:
  HRESULT m_hr;
};

}  // namespace vt
