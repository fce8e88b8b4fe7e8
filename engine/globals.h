// Process-wide state shared by the windows and the worker threads: the
// cancel flag, the current drive, the busy counter and the unattended flag.
// Whole-byte and whole-word stores only; no locks.
#pragma once

#include <atomic>
#include <cstdint>

namespace vt {

class CDriveData;

// Set by Stop, Cancel answers and closing the main window; cleared when an
// operation starts; polled by every loop of the engine.
std::atomic<uint8_t>& CancelFlag();
inline bool IsCancelled() { return CancelFlag().load(std::memory_order_relaxed) != 0; }
inline void SetCancel(bool on) { CancelFlag().store(on ? 1 : 0, std::memory_order_relaxed); }

// The drive whose analysis the views show and the engine works on.
CDriveData* CurrentDrive();
void SetCurrentDrive(CDriveData* drive);

// True for the unattended scheduled run ("/auto"), when no map is shown.
bool IsUnattended();
void SetUnattended(bool on);

// The answer to "Move file anyway?" for the current batch: -1 not asked yet,
// else IDYES (defrag), IDNO (skip) or IDCANCEL.
std::atomic<int>& MoveAnywayAnswer();

// Count of operations in progress; above 0 means busy.
std::atomic<long>& BusyCounter();

// Holds the busy counter up for the lifetime of an operation.
class CBusy {
 public:
  CBusy() { BusyCounter().fetch_add(1); }
  ~CBusy() { BusyCounter().fetch_sub(1); }
  CBusy(const CBusy&) = delete;
  CBusy& operator=(const CBusy&) = delete;
};

}  // namespace vt
