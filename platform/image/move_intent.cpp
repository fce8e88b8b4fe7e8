#include "platform/image/move_intent.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <thread>

#include "platform/image/host_files.h"
#include "platform/settings_folder.h"

namespace vt {

namespace {

constexpr char kMagic[] = "vantrel-moves 1";
// A record never names more runs than a group makes: twice its moves' runs.
constexpr size_t kMaxRuns = 1 << 20;

}  // namespace

std::string IntentRecordPath(const CBlockDevice& device, DWORD serial) {
  const std::string state = device.StatePath();
  if (state.empty()) return std::string();
  if (!device.IsBlockDevice()) return state + ".vantrel-moves";
  const std::string folder = SettingsFolder();
  if (folder.empty()) return std::string();
  char name[40];
  std::snprintf(name, sizeof(name), "moves-%08" PRIX32 ".txt", static_cast<uint32_t>(serial));
  return JoinPath(folder, name);
}

DWORD WriteIntentRecord(const std::string& path, const CIntentRecord& record) {
  if (path.empty()) return ERROR_SUCCESS;
  char line[64];
  std::string text = kMagic;
  std::snprintf(line, sizeof(line), "\nserial %08" PRIX32 "\ndirty %d\n",
                static_cast<uint32_t>(record.m_dwSerial), record.m_bMarkedDirty ? 1 : 0);
  text += line;
  for (const auto& run : record.m_clusters) {
    std::snprintf(line, sizeof(line), "run %" PRIu64 " %" PRIu64 "\n", run.first, run.second);
    text += line;
  }
  text += "end\n";
  return HostWriteDurably(path, text);
}

DWORD ReadIntentRecord(const std::string& path, CIntentRecord* record) {
  *record = CIntentRecord();
  if (path.empty()) return ERROR_FILE_NOT_FOUND;
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return ERROR_FILE_NOT_FOUND;
  char line[128];
  DWORD result = ERROR_FILE_CORRUPT;
  bool first = true;
  while (std::fgets(line, sizeof(line), file)) {
    if (first) {
      if (std::strncmp(line, kMagic, sizeof(kMagic) - 1) != 0) break;
      first = false;
      continue;
    }
    uint32_t serial = 0;
    int dirty = 0;
    uint64_t lcn = 0, count = 0;
    if (std::sscanf(line, "serial %" SCNx32, &serial) == 1) {
      record->m_dwSerial = serial;
    } else if (std::sscanf(line, "dirty %d", &dirty) == 1) {
      record->m_bMarkedDirty = dirty == 1;
    } else if (std::sscanf(line, "run %" SCNu64 " %" SCNu64, &lcn, &count) == 2) {
      if (record->m_clusters.size() >= kMaxRuns || count == 0 || lcn + count < lcn) break;
      record->m_clusters.emplace_back(lcn, count);
    } else if (std::strcmp(line, "end\n") == 0) {
      result = ERROR_SUCCESS;  // only a record written to its end counts
      break;
    } else {
      break;
    }
  }
  std::fclose(file);
  return result;
}

void RemoveIntentRecord(const std::string& path) {
  if (!path.empty()) std::remove(path.c_str());
}

DWORD CGroupRecords::StoreWithFlush(CIntentRecord record, const std::function<DWORD()>& flush) {
  record.m_clusters.insert(record.m_clusters.end(), m_unstored.begin(), m_unstored.end());
  // A group that failed part way may have left clusters marked that no file
  // owns: this record replaces the one naming them, so it names them too.
  for (const auto& run : m_kept) {
    if (std::find(record.m_clusters.begin(), record.m_clusters.end(), run) ==
        record.m_clusters.end()) {
      record.m_clusters.push_back(run);
    }
  }
  m_last = record.m_clusters;
  DWORD written = ERROR_SUCCESS;
  DWORD flushed = ERROR_SUCCESS;
  bool flushedAlready = false;
  if (!m_strPath.empty()) {
    try {
      std::thread writer([&] { written = WriteIntentRecord(m_strPath, record); });
      flushed = flush();
      flushedAlready = true;
      writer.join();
    } catch (const std::system_error&) {
      written = WriteIntentRecord(m_strPath, record);  // no thread to spare
    }
  }
  if (!flushedAlready) flushed = flush();
  if (written == ERROR_SUCCESS && !m_strPath.empty()) m_bWritten = true;
  if (flushed == ERROR_SUCCESS) m_unstored.clear();
  if (flushed != ERROR_SUCCESS || written != ERROR_SUCCESS) Keep();
  return flushed != ERROR_SUCCESS ? flushed : written;
}

void CGroupRecords::Finish() {
  if (m_bWritten && !m_bKept) RemoveIntentRecord(m_strPath);
  m_bWritten = false;
  // The frees are stored: the next group's record need not name them.
  if (!m_bKept) m_unstored.clear();
}

}  // namespace vt
