#include <dirent.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "platform/process_control.h"

namespace vt {

namespace {

// Linux keeps the nice level and the affinity per thread, so the process's
// setting is applied to each of its threads.
std::vector<pid_t> ProcessThreads() {
  std::vector<pid_t> threads;
  if (DIR* dir = ::opendir("/proc/self/task")) {
    while (const dirent* entry = ::readdir(dir)) {
      char* end = nullptr;
      const long tid = std::strtol(entry->d_name, &end, 10);
      if (end != entry->d_name && *end == '\0' && tid > 0)
        threads.push_back(static_cast<pid_t>(tid));
    }
    ::closedir(dir);
  }
  if (threads.empty()) threads.push_back(0);  // the calling thread at least
  return threads;
}

class CPosixProcessControl : public IProcessControl {
 public:
  bool SetPriorityClass(DWORD priorityClass) override {
    int nice = 0;
    if (!NiceLevelForPriorityClass(priorityClass, &nice)) return false;
    bool ok = true;
    for (pid_t tid : ProcessThreads())
      if (::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice) != 0) ok = false;
    return ok;
  }
  bool SetAffinityMask(uint64_t mask) override {
    cpu_set_t set;
    CPU_ZERO(&set);
    for (int cpu = 0; cpu < 64 && cpu < CPU_SETSIZE; ++cpu)
      if (mask & (uint64_t{1} << cpu)) CPU_SET(cpu, &set);
    if (CPU_COUNT(&set) == 0) return false;
    bool ok = true;
    for (pid_t tid : ProcessThreads())
      if (::sched_setaffinity(tid, sizeof(set), &set) != 0) ok = false;
    return ok;
  }
  bool GetSystemAffinityMask(uint64_t* mask) override {
    const long count = ::sysconf(_SC_NPROCESSORS_CONF);
    if (count <= 0) return false;
    *mask = count >= 64 ? ~uint64_t{0} : (uint64_t{1} << count) - 1;
    return true;
  }
};

}  // namespace

IProcessControl& HostProcessControl() {
  static CPosixProcessControl host;
  return host;
}

}  // namespace vt
