#include "platform/image/held_writes.h"

#include <algorithm>
#include <cstring>

namespace vt {

DWORD CHeldWriteDevice::Read(uint64_t offset, void* buffer, size_t size) {
  DWORD err = m_pInner->Read(offset, buffer, size);
  if (err != ERROR_SUCCESS) return err;
  if (m_held.empty() || size == 0) return ERROR_SUCCESS;
  // The held writes that may reach into the range start within the longest
  // one's length before it.
  const uint64_t from = offset > m_nLongest ? offset - m_nLongest : 0;
  std::vector<size_t> over;
  for (auto it = m_byOffset.lower_bound(from); it != m_byOffset.end() && it->first < offset + size;
       ++it) {
    const CHeld& held = m_held[it->second];
    if (held.m_nOffset + held.m_data.size() > offset) over.push_back(it->second);
  }
  // Later writes over earlier ones, as the storage will have them.
  std::sort(over.begin(), over.end());
  auto* out = static_cast<uint8_t*>(buffer);
  for (size_t index : over) {
    const CHeld& held = m_held[index];
    const uint64_t begin = std::max(offset, held.m_nOffset);
    const uint64_t end = std::min(offset + size, held.m_nOffset + held.m_data.size());
    std::memcpy(out + (begin - offset), held.m_data.data() + (begin - held.m_nOffset),
                static_cast<size_t>(end - begin));
  }
  return ERROR_SUCCESS;
}

void CHeldWriteDevice::IndexHeld() {
  m_byOffset.clear();
  m_nLongest = 0;
  for (size_t i = 0; i < m_held.size(); ++i) {
    m_byOffset.emplace(m_held[i].m_nOffset, i);
    m_nLongest = std::max<uint64_t>(m_nLongest, m_held[i].m_data.size());
  }
}

DWORD CHeldWriteDevice::ReadStored(uint64_t offset, void* buffer, size_t size) {
  for (const CHeld& held : m_held) {
    if (held.m_nOffset < offset + size && offset < held.m_nOffset + held.m_data.size()) {
      return ERROR_NOT_SUPPORTED;
    }
  }
  return m_pInner->ReadStored(offset, buffer, size);
}

DWORD CHeldWriteDevice::Write(uint64_t offset, const void* buffer, size_t size) {
  if (m_eStage == kDirect) return m_pInner->Write(offset, buffer, size);
  if (IsReadOnly()) return ERROR_WRITE_PROTECT;
  if (!InRange(offset, size)) return ERROR_SECTOR_NOT_FOUND;
  const auto* in = static_cast<const uint8_t*>(buffer);
  m_held.push_back(CHeld{offset, std::vector<uint8_t>(in, in + size), m_eStage});
  m_byOffset.emplace(offset, m_held.size() - 1);
  m_nLongest = std::max<uint64_t>(m_nLongest, size);
  return ERROR_SUCCESS;
}

namespace {

// Held writes of one stage less than this apart are stored as one write,
// the bytes between them as the storage has them.
constexpr uint64_t kJoinGap = 4096;
// No joined write grows past this.
constexpr uint64_t kJoinedMax = 1u << 20;

}  // namespace

DWORD CHeldWriteDevice::Release(EStage stage) {
  // The stage's writes, by offset (in the order made where they start
  // together). The storage may store the writes between two flushes in any
  // order, so those of one stage are written as few larger writes: each
  // stretch holds the bytes the stage's writes give it, later ones over
  // earlier ones, and between them the bytes the storage already holds
  // (those of a later stage are not carried out early).
  std::vector<size_t> order;
  for (size_t i = 0; i < m_held.size(); ++i)
    if (m_held[i].m_eStage == stage) order.push_back(i);
  std::stable_sort(order.begin(), order.end(), [this](size_t a, size_t b) {
    return m_held[a].m_nOffset < m_held[b].m_nOffset;
  });
  std::vector<bool> written(m_held.size(), false);
  std::vector<uint8_t> stretch;
  std::vector<size_t> members;
  DWORD result = ERROR_SUCCESS;
  for (size_t k = 0; k < order.size() && result == ERROR_SUCCESS;) {
    const uint64_t begin = m_held[order[k]].m_nOffset;
    uint64_t end = begin + m_held[order[k]].m_data.size();
    members.assign(1, order[k]);
    size_t next = k + 1;
    while (next < order.size()) {
      const CHeld& held = m_held[order[next]];
      const uint64_t heldEnd = held.m_nOffset + held.m_data.size();
      if (held.m_nOffset > end + kJoinGap || std::max(end, heldEnd) - begin > kJoinedMax) break;
      end = std::max(end, heldEnd);
      members.push_back(order[next]);
      ++next;
    }
    if (members.size() == 1) {
      const CHeld& held = m_held[members[0]];
      result = m_pInner->Write(held.m_nOffset, held.m_data.data(), held.m_data.size());
    } else {
      stretch.resize(static_cast<size_t>(end - begin));
      result = m_pInner->Read(begin, stretch.data(), stretch.size());
      std::sort(members.begin(), members.end());  // the order they were made
      for (size_t index : members) {
        const CHeld& held = m_held[index];
        std::memcpy(stretch.data() + (held.m_nOffset - begin), held.m_data.data(),
                    held.m_data.size());
      }
      if (result == ERROR_SUCCESS) result = m_pInner->Write(begin, stretch.data(), stretch.size());
    }
    if (result == ERROR_SUCCESS)
      for (size_t index : members) written[index] = true;
    k = next;
  }
  size_t kept = 0;
  for (size_t i = 0; i < m_held.size(); ++i) {
    if (written[i]) continue;
    if (kept != i) m_held[kept] = std::move(m_held[i]);
    ++kept;
  }
  m_held.resize(kept);
  IndexHeld();
  return result;
}

}  // namespace vt
