// Heap allocations of the NTFS reader's pass over an image, counted through
// the global operator new: the total, the blocks the results keep (each
// stored name longer than the string's inline room, each fragment list, each
// folder's entry in the directory map with its copies), and what is left,
// the reader's own per-record cost. A pass that allocates per record leaves
// about one allocation a record or more; an allocation-free pass leaves a
// few dozen in all (the MFT bitmap, buffers made once, the list's growth).
//   ntfs_scan_allocs IMAGE            figures, exit 1 when over the bound
//   ntfs_scan_allocs IMAGE --dump     every item the pass stored, one a line
#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <string>

#include "engine/defrag.h"
#include "engine/globals.h"
#include "engine/ntfs_reader.h"
#include "platform/image/volume_set.h"
#include "platform/recording.h"
#include "platform/system_ops.h"

namespace {

std::atomic<uint64_t> g_allocations{0};

}  // namespace

void* operator new(size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t size) { return operator new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  return std::malloc(size ? size : 1);
}
void* operator new[](size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

namespace {

// The heap blocks an item keeps once stored.
uint64_t KeptBlocks(const vt::CFileItem& item) {
  const size_t inlineChars = std::string().capacity();
  return (item.m_strName.capacity() > inlineChars ? 1 : 0) +
         (item.m_fragments.GetCapacity() > 0 ? 1 : 0);
}

void Dump(const vt::CDefrag& engine, const vt::CDriveData& drive) {
  std::printf("files %" PRIu64 " folders %" PRIu64 " items %zu dirs %zu\n",
              static_cast<uint64_t>(drive.m_nFiles), static_cast<uint64_t>(drive.m_nFolders),
              engine.m_files.GetSize(), engine.m_dirMap.size());
  for (const vt::CFileItem& f : engine.m_files) {
    std::printf("%u %04x %" PRIu64 " %" PRIu64 " %d %08x%08x %s|%s|", f.m_nRecord, f.m_wFlags,
                f.m_nSize, f.m_nFirstLcn, f.m_nFolder, f.m_ftLastWrite.dwHighDateTime,
                f.m_ftLastWrite.dwLowDateTime, engine.GetItemPath(f).c_str(), f.m_strName.c_str());
    for (const vt::CFileClusterItem& c : f.m_fragments)
      std::printf(" %" PRIu64 "+%u", static_cast<uint64_t>(c.m_nLcn), c.m_nClusters);
    std::printf("\n");
  }
  // The directory map in record order, as the paths above depend on it.
  const std::map<uint32_t, const vt::CFileItem*> dirs = [&] {
    std::map<uint32_t, const vt::CFileItem*> m;
    for (const auto& [r, item] : engine.m_dirMap) m[r] = &item;
    return m;
  }();
  for (const auto& [r, item] : dirs)
    std::printf("dir %u %d %s %zu\n", r, item->m_nFolder, item->m_strName.c_str(),
                item->m_fragments.GetSize());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s IMAGE [--dump]\n", argv[0]);
    return 2;
  }
  const bool dump = argc > 2 && std::strcmp(argv[2], "--dump") == 0;
  vt::CImageVolumeSet set;
  std::string message;
  if (set.MountForReading('V', argv[1], &message) != ERROR_SUCCESS) {
    std::fprintf(stderr, "cannot open %s: %s\n", argv[1], message.c_str());
    return 2;
  }
  HANDLE volume = set.CreateFileA("\\\\.\\V:", GENERIC_READ, 3, OPEN_EXISTING, 0);
  if (volume == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "cannot open the volume handle of %s\n", argv[1]);
    return 2;
  }
  vt::CRecordingSink sink;
  vt::CScriptedPrompt prompt;
  vt::CEngineServices services;
  services.volume = &set;
  services.system = &vt::HostSystem();
  services.messages = &sink;
  services.prompt = &prompt;
  vt::SetUnattended(true);

  // The first pass warms what the image keeps between passes (its read-ahead
  // of the MFT); the second is counted.
  uint64_t total = 0, kept = 0, records = 0;
  size_t items = 0;
  for (int pass = 0; pass < 2; ++pass) {
    vt::CDriveData drive;
    vt::SetCurrentDrive(&drive);
    vt::CDefrag engine(services);
    engine.m_bNtfs = true;
    engine.m_strDrive = "V:\\";
    engine.m_files.SetGrowBy(32768);
    engine.m_dirMap.rehash(7919);
    vt::CNtfsReader reader(engine, engine.m_files, engine.m_dirMap);
    const uint64_t before = g_allocations.load();
    const bool ok = reader.ScanVolume(volume);
    total = g_allocations.load() - before;
    if (!ok) {
      std::fprintf(stderr, "the reader refused %s\n", argv[1]);
      return 2;
    }
    records = drive.m_nFiles + drive.m_nFolders;
    items = engine.m_files.GetSize();
    kept = 0;
    for (const vt::CFileItem& f : engine.m_files) kept += KeptBlocks(f);
    for (const auto& entry : engine.m_dirMap) kept += 1 + KeptBlocks(entry.second);
    if (pass == 1 && dump) Dump(engine, drive);
    vt::SetCurrentDrive(nullptr);
  }
  set.CloseHandle(volume);
  if (dump) return 0;
  const uint64_t own = total > kept ? total - kept : 0;
  // Buffers made once per pass and the stepwise growth of the lists; none
  // of it grows with the records.
  const uint64_t bound = 64 + records / 32768;
  std::printf("%s: %" PRIu64 " base records, %zu items stored\n", argv[1], records, items);
  std::printf("  allocations %" PRIu64 " (%.3f a record), kept by the results %" PRIu64 "\n", total,
              records ? static_cast<double>(total) / records : 0.0, kept);
  std::printf("  the reader's own %" PRIu64 ": %.5f a record (bound %" PRIu64 " in all) %s\n", own,
              records ? static_cast<double>(own) / records : 0.0, bound,
              own <= bound ? "ok" : "OVER");
  return own <= bound ? 0 : 1;
}
