// The NTFS reader's pass allocates only what its results keep: counted
// through the global operator new of this program.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "engine/defrag.h"
#include "engine/globals.h"
#include "engine/ntfs_reader.h"
#include "platform/image/volume_set.h"
#include "platform/recording.h"
#include "platform/system_ops.h"
#include "tests/support/ntfs_builder.h"

namespace {
std::atomic<uint64_t> g_news{0};
}  // namespace

void* operator new(size_t size) {
  g_news.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

namespace vt {
namespace test {
namespace {

constexpr uint32_t kRoot = 5;

// Heap blocks a stored item holds.
uint64_t Blocks(const CFileItem& item) {
  return (item.m_strName.capacity() > std::string().capacity() ? 1 : 0) +
         (item.m_fragments.GetCapacity() > 0 ? 1 : 0);
}

class Engine {
 public:
  explicit Engine(IVolumeOps& ops) {
    services.volume = &ops;
    services.system = &HostSystem();
    services.messages = &sink;
    services.prompt = &prompt;
    SetCurrentDrive(&drive);
    SetUnattended(true);
    engine = std::make_unique<CDefrag>(services);
    engine->m_bNtfs = true;
    engine->m_strDrive = "V:\\";
    // Room made before counting: the list's growth is not the reader's.
    engine->m_files.Vector().reserve(4096);
    engine->m_dirMap.reserve(4096);
  }
  ~Engine() {
    SetCurrentDrive(nullptr);
    SetUnattended(false);
  }
  uint64_t KeptBlocks() const {
    uint64_t n = 0;
    for (const CFileItem& f : engine->m_files) n += Blocks(f);
    for (const auto& entry : engine->m_dirMap) n += 1 + Blocks(entry.second);
    return n;
  }
  CRecordingSink sink;
  CScriptedPrompt prompt;
  CDriveData drive;
  CEngineServices services;
  std::unique_ptr<CDefrag> engine;
};

TEST(NtfsReaderAllocations, RecordsThatAreOnlyCountedAllocateNothing) {
  CImageVolumeSet none;
  Engine e(none);
  CNtfsReader reader(*e.engine, e.engine->m_files, e.engine->m_dirMap);
  reader.SetGeometry(512, 8);
  // What most of a system volume is: small files inside their records, with
  // long and non-ASCII names, a DOS name beside the long one, hard links and
  // named streams.
  const std::vector<std::vector<uint8_t>> records = {
      CNtfsRecordBuilder()
          .StandardInformation(0x20)
          .FileName(u"A RATHER~1.TXT", 77, 2, false)
          .FileName(u"a rather longer name than a string holds inline.txt", 77, 1, false)
          .ResidentData(300)
          .Build(),
      CNtfsRecordBuilder()
          .StandardInformation(0x20)
          .FileName(u"Grüße aus Zürich – ≈ 日本語のファイル.txt", 78, 1, false)
          .FileName(u"second link of the same file, in another folder", 79, 0, false)
          .ResidentData(0)
          .ResidentData(40, 0x80)
          .Build(),
      CNtfsRecordBuilder()
          .FileName(std::u16string(255, u'é'), 80, 1, false)
          .NonResident(0x80, {{500, 1}}, 0)  // clusters but no bytes: not stored
          .Build(),
  };
  CFileItem item;
  // The first pass grows the item's own storage to what the records need.
  for (const auto& record : records) {
    CNtfsReader::RecycleItem(item);
    reader.ProcessRecord(100, record.data(), record.size(), item);
  }
  const uint64_t before = g_news.load();
  for (uint32_t i = 0; i < 1000; ++i) {
    const auto& record = records[i % records.size()];
    CNtfsReader::RecycleItem(item);
    reader.ProcessRecord(101 + i, record.data(), record.size(), item);
  }
  EXPECT_EQ(g_news.load() - before, 0u);
  EXPECT_EQ(e.engine->m_files.GetSize(), 0u);
  EXPECT_EQ(e.drive.m_nFiles, 1003u);
}

TEST(NtfsReaderAllocations, StoredRecordsAllocateWhatTheListKeeps) {
  CImageVolumeSet none;
  Engine e(none);
  CNtfsReader reader(*e.engine, e.engine->m_files, e.engine->m_dirMap);
  reader.SetGeometry(512, 8);
  const std::vector<std::vector<uint8_t>> records = {
      CNtfsRecordBuilder()
          .FileName(u"pieces of a file with a long name.bin", kRoot, 1, false)
          .NonResident(0x80, {{100, 4}, {200, 2}, {-1, 3}, {300, 1}, {400, 8}}, 70000)
          .Build(),
      CNtfsRecordBuilder()
          .FileName(u"short.bin", kRoot, 1, false)
          .NonResident(0x80, {{600, 2}}, 5000)
          .Build(),
      CNtfsRecordBuilder().FileName(u"a folder", kRoot, 1, true).Build(),
      CNtfsRecordBuilder()
          .FileName(u"a large folder whose index has blocks", kRoot, 1, true)
          .NonResident(0xA0, {{900, 2}}, 8192, false, 0, -1, u"$I30")
          .Build(),
  };
  CFileItem item;
  for (const auto& record : records) {
    CNtfsReader::RecycleItem(item);
    reader.ProcessRecord(100, record.data(), record.size(), item);
  }
  e.engine->m_files.SetSize(0);
  e.engine->m_dirMap.clear();
  const uint64_t before = g_news.load();
  for (uint32_t i = 0; i < 2000; ++i) {
    const auto& record = records[i % records.size()];
    CNtfsReader::RecycleItem(item);
    reader.ProcessRecord(200 + i, record.data(), record.size(), item);
  }
  const uint64_t made = g_news.load() - before;
  ASSERT_EQ(e.engine->m_files.GetSize(), 2000u);
  EXPECT_EQ(made, e.KeptBlocks());
  // Each stored list is as long as its fragments and no longer.
  for (const CFileItem& f : e.engine->m_files)
    EXPECT_EQ(f.m_fragments.GetCapacity(), f.m_fragments.GetSize());
}

// The whole pass over an image: what the reader allocates for itself does
// not grow with the records (buffers made once, the bitmap of the MFT).
uint64_t OwnAllocations(size_t files, size_t* stored) {
  CNtfsImageBuilder b(8192, static_cast<uint32_t>(files + files / 10 + 64));
  // Folders of 20 in groups of ten, so that each index fits the builder's
  // one level of blocks.
  uint64_t group = 0, folder = 0;
  for (size_t i = 0; i < files; ++i) {
    if (i % 200 == 0)
      group = b.AddFolder(CNtfsImageBuilder::kRoot, u"Gruppe " + std::u16string(1, u'A' + i / 200));
    if (i % 20 == 0)
      folder = b.AddFolder(group, u"Ordner für " + std::u16string(1, u'A' + (i / 20) % 10));
    const std::u16string name =
        u"file " + std::u16string(1, u'A' + i % 20) + std::u16string(i % 9, u'ß') + u".txt";
    if (i % 4 == 0)
      b.AddFile(folder, name, std::string(5000, 'x'));
    else
      b.AddFile(folder, name, std::string(i % 500, 'y'));
  }
  b.Finish();
  CImageVolumeSet set;
  std::string message;
  EXPECT_EQ(ERROR_SUCCESS, set.MountDevice('V', b.Device(), "ntfs", true, &message)) << message;
  HANDLE volume = set.CreateFileA("\\\\.\\V:", GENERIC_READ, 3, OPEN_EXISTING, 0);
  EXPECT_NE(volume, INVALID_HANDLE_VALUE);
  uint64_t own = 0;
  for (int pass = 0; pass < 2; ++pass) {  // the first warms the image's read-ahead
    Engine e(set);
    CNtfsReader reader(*e.engine, e.engine->m_files, e.engine->m_dirMap);
    const uint64_t before = g_news.load();
    EXPECT_TRUE(reader.ScanVolume(volume));
    own = g_news.load() - before - e.KeptBlocks();
    *stored = e.engine->m_files.GetSize();
  }
  set.CloseHandle(volume);
  return own;
}

TEST(NtfsReaderAllocations, APassOverAnImageAllocatesNothingPerRecord) {
  size_t fewStored = 0, manyStored = 0;
  const uint64_t few = OwnAllocations(100, &fewStored);
  const uint64_t many = OwnAllocations(1500, &manyStored);
  EXPECT_GT(manyStored, 10 * fewStored / 2);  // a quarter of the files own clusters
  EXPECT_EQ(few, many);
  EXPECT_LT(many, 40u);
}

}  // namespace
}  // namespace test
}  // namespace vt
