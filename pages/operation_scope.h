// What every operation holds for its lifetime, whichever window or the
// command line started it: the busy counter, the cancel flag cleared once at
// the start, the engine's throughput counters and the operation's clock.
#pragma once

#include <cstdint>
#include <string>

#include "engine/defrag.h"
#include "engine/globals.h"

namespace vt {

class COperationScope {
 public:
  // The outermost scope clears the cancel flag; a scope inside a running
  // operation (a drive's pass inside the run over the checked drives) keeps
  // a stop that came in the meantime.
  explicit COperationScope(CDefrag& engine);
  ~COperationScope();
  COperationScope(const COperationScope&) = delete;
  COperationScope& operator=(const COperationScope&) = delete;

  // The engine's moved-cluster count and throughput start begin afresh.
  void ResetCounters();
  // Milliseconds since the scope began, by the system's tick count.
  uint64_t ElapsedMs() const;
  DWORD StartTick() const { return m_dwStart; }
  bool Outermost() const { return m_bOutermost; }

 private:
  CDefrag& m_engine;
  bool m_bOutermost;
  DWORD m_dwStart;
};

// Milliseconds from `start` to now on the engine's tick count (which wraps
// as GetTickCount does).
uint64_t TicksSince(CDefrag& engine, DWORD start);

// The status bar's throughput ("4.00 MB / sec") of the running pass on
// `drive`, by the engine's counters and clock; empty when none runs.
std::string ThroughputNow(CDefrag& engine, const CDriveData* drive);

}  // namespace vt
