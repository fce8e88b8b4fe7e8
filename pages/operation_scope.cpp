#include "pages/operation_scope.h"

#include "app/main_window_logic.h"

namespace vt {

COperationScope::COperationScope(CDefrag& engine)
    : m_engine(engine),
      m_bOutermost(BusyCounter().fetch_add(1) == 0),
      m_dwStart(engine.System().GetTickCount()) {
  if (m_bOutermost) {
    SetCancel(false);
    MoveAnywayAnswer().store(-1);
  }
}

COperationScope::~COperationScope() {
  if (m_bOutermost) {
    MoveAnywayAnswer().store(-1);
    // Between operations nothing the program moved waits in memory.
    m_engine.SettleVolume();
  }
  BusyCounter().fetch_sub(1);
}

void COperationScope::ResetCounters() {
  m_engine.m_nMovedClusters = 0;
  m_engine.m_dwStartTick = m_engine.System().GetTickCount();
}

uint64_t COperationScope::ElapsedMs() const { return TicksSince(m_engine, m_dwStart); }

uint64_t TicksSince(CDefrag& engine, DWORD start) {
  return static_cast<DWORD>(engine.System().GetTickCount() - start);
}

std::string ThroughputNow(CDefrag& engine, const CDriveData* drive) {
  return ThroughputText(engine.m_dwStartTick != 0 && drive, engine.m_nMovedClusters,
                        drive ? drive->m_dwBytesPerCluster : 0, engine.m_dwStartTick,
                        engine.System().GetTickCount());
}

}  // namespace vt
