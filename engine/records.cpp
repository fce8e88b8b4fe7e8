#include "engine/records.h"

#include <utility>

#include "platform/system_ops.h"

namespace vt {

uint32_t CFileItem::GetClusters() const {
  uint32_t sum = 0;
  for (const auto& f : m_fragments) sum += f.m_nClusters;
  return sum;
}

double CFileItem::GetFragmentationDegree() const {
  size_t n = m_fragments.GetSize();
  if (n <= 1) return 0.0;
  uint32_t clusters = GetClusters();
  if (clusters == 0) clusters = 1;
  return static_cast<double>(n) / static_cast<double>(clusters) * 100.0;
}

int CSortedArray::CompareLcnDescending(const CSortedLcn& a, const CSortedLcn& b) {
  if (a.m_nLcn > b.m_nLcn) return -1;
  if (a.m_nLcn < b.m_nLcn) return 1;
  return 0;
}

void CSortedArray::Sort(long first, long last) {
  long size = static_cast<long>(GetSize());
  if (size == 0) return;
  if (last == -1) last = size - 1;
  if (first < 0 || last >= size || first >= last) return;
  QuickSort(first, last);
}

void CSortedArray::QuickSort(long first, long last) {
  // The smaller side is sorted by recursion and the larger by the loop, so
  // the stack holds at most log2(n) frames whatever the order of the input.
  while (first < last) {
    CSortedLcn pivot = GetAt(static_cast<size_t>((first + last) / 2));
    long i = first;
    long j = last;
    while (i <= j) {
      while (m_compare(GetAt(static_cast<size_t>(i)), pivot) < 0) ++i;
      while (m_compare(GetAt(static_cast<size_t>(j)), pivot) > 0) --j;
      if (i <= j) {
        std::swap(GetAt(static_cast<size_t>(i)), GetAt(static_cast<size_t>(j)));
        ++i;
        --j;
      }
    }
    if (j - first < last - i) {
      if (first < j) QuickSort(first, j);
      first = i;
    } else {
      if (i < last) QuickSort(i, last);
      last = j;
    }
  }
}

CTimeIt::CTimeIt(const char* label) : m_strLabel(label), m_dwStart(HostSystem().GetTickCount()) {}

CTimeIt::~CTimeIt() = default;

uint32_t CTimeIt::Elapsed() const { return HostSystem().GetTickCount() - m_dwStart; }

}  // namespace vt
