// A growable array of values that grows its storage in fixed steps, as the
// engine's large lists need (the file list of a big volume grows by 32768
// items at a time instead of doubling).
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

namespace vt {

template <typename T>
class CGrowableArray {
 public:
  using iterator = typename std::vector<T>::iterator;
  using const_iterator = typename std::vector<T>::const_iterator;

  // Growth step in elements; 0 means the library's own doubling.
  void SetGrowBy(size_t step) { m_growBy = step; }
  size_t GetGrowBy() const { return m_growBy; }

  size_t GetSize() const { return m_items.size(); }
  bool IsEmpty() const { return m_items.empty(); }
  size_t GetCapacity() const { return m_items.capacity(); }

  T& operator[](size_t i) { return m_items[i]; }
  const T& operator[](size_t i) const { return m_items[i]; }
  T& GetAt(size_t i) { return m_items[i]; }
  const T& GetAt(size_t i) const { return m_items[i]; }
  T* GetData() { return m_items.data(); }
  const T* GetData() const { return m_items.data(); }

  size_t Add(const T& item) {
    Reserve();
    m_items.push_back(item);
    return m_items.size() - 1;
  }
  size_t Add(T&& item) {
    Reserve();
    m_items.push_back(std::move(item));
    return m_items.size() - 1;
  }
  void InsertAt(size_t i, const T& item) {
    Reserve();
    m_items.insert(m_items.begin() + static_cast<std::ptrdiff_t>(i), item);
  }
  void RemoveAt(size_t i, size_t count = 1) {
    m_items.erase(m_items.begin() + static_cast<std::ptrdiff_t>(i),
                  m_items.begin() + static_cast<std::ptrdiff_t>(i + count));
  }
  void SetSize(size_t n) { m_items.resize(n); }
  // Empties the array and releases its storage.
  void RemoveAll() { std::vector<T>().swap(m_items); }
  // Shrinks the storage to the number of elements.
  void FreeExtra() { m_items.shrink_to_fit(); }

  iterator begin() { return m_items.begin(); }
  iterator end() { return m_items.end(); }
  const_iterator begin() const { return m_items.begin(); }
  const_iterator end() const { return m_items.end(); }
  T& back() { return m_items.back(); }
  const T& back() const { return m_items.back(); }

  std::vector<T>& Vector() { return m_items; }
  const std::vector<T>& Vector() const { return m_items; }

 private:
  void Reserve() {
    if (m_growBy != 0 && m_items.size() == m_items.capacity())
      m_items.reserve(m_items.capacity() + m_growBy);
  }
  std::vector<T> m_items;
  size_t m_growBy = 0;
};

}  // namespace vt
