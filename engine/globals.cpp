#include "engine/globals.h"

namespace vt {

namespace {
std::atomic<uint8_t> g_cancel{0};
std::atomic<CDriveData*> g_currentDrive{nullptr};
std::atomic<bool> g_unattended{false};
std::atomic<long> g_busy{0};
std::atomic<int> g_moveAnyway{-1};
}  // namespace

std::atomic<uint8_t>& CancelFlag() { return g_cancel; }
CDriveData* CurrentDrive() { return g_currentDrive.load(std::memory_order_relaxed); }
void SetCurrentDrive(CDriveData* drive) { g_currentDrive.store(drive, std::memory_order_relaxed); }
bool IsUnattended() { return g_unattended.load(std::memory_order_relaxed); }
void SetUnattended(bool on) { g_unattended.store(on, std::memory_order_relaxed); }
std::atomic<long>& BusyCounter() { return g_busy; }
std::atomic<int>& MoveAnywayAnswer() { return g_moveAnyway; }

}  // namespace vt
