#include "platform/image/stretch_queue.h"

#include <utility>

namespace vt {

CAlignedBytes CStretchQueue::Buffer() {
  std::lock_guard<std::mutex> hold(m_lock);
  if (m_free.empty()) return CAlignedBytes();
  CAlignedBytes bytes = std::move(m_free.back());
  m_free.pop_back();
  return bytes;
}

void CStretchQueue::Put(uint64_t offset, CAlignedBytes bytes) {
  {
    std::unique_lock<std::mutex> hold(m_lock);
    while (m_waiting.size() >= m_nCapacity && !m_bReleased) m_changed.wait(hold);
    if (m_waiting.size() >= m_nCapacity) {
      m_free.push_back(std::move(m_waiting.front().m_bytes));
      m_waiting.pop_front();
    }
    m_nReached = offset + bytes.size();
    m_waiting.push_back(CEntry{offset, std::move(bytes)});
  }
  m_changed.notify_all();
}

void CStretchQueue::Skip(uint64_t offset, CAlignedBytes bytes) {
  {
    std::lock_guard<std::mutex> hold(m_lock);
    m_nReached = offset + bytes.size();
    m_free.push_back(std::move(bytes));
  }
  m_changed.notify_all();
}

void CStretchQueue::Finish() {
  {
    std::lock_guard<std::mutex> hold(m_lock);
    m_bFinished = true;
  }
  m_changed.notify_all();
}

void CStretchQueue::WaitFinished() {
  std::unique_lock<std::mutex> hold(m_lock);
  while (!m_bFinished) m_changed.wait(hold);
}

bool CStretchQueue::Take(uint64_t offset, uint64_t size, CAlignedBytes* stretch) {
  std::unique_lock<std::mutex> hold(m_lock);
  bool taken = false;
  while (true) {
    // Stretches the taker has gone past are of no more use.
    while (!m_waiting.empty() && m_waiting.front().m_nOffset < offset) {
      m_free.push_back(std::move(m_waiting.front().m_bytes));
      m_waiting.pop_front();
    }
    if (!m_waiting.empty() && m_waiting.front().m_nOffset == offset) {
      CEntry& entry = m_waiting.front();
      if (entry.m_bytes.size() == size) {
        std::swap(*stretch, entry.m_bytes);
        m_free.push_back(std::move(entry.m_bytes));
        m_waiting.pop_front();
        taken = true;
      }
      break;
    }
    if (m_bFinished || m_nReached > offset) break;
    // Room was made above for the reader, who may be waiting for it.
    m_changed.notify_all();
    m_changed.wait(hold);
  }
  hold.unlock();
  m_changed.notify_all();
  return taken;
}

void CStretchQueue::Release() {
  {
    std::lock_guard<std::mutex> hold(m_lock);
    m_bReleased = true;
  }
  m_changed.notify_all();
}

}  // namespace vt
