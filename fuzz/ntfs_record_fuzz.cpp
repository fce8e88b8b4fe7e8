// The analysis's reading of NTFS file records: the lenient fix-ups and
// attribute walk, file names, run lists and the run lookups, over arbitrary
// record bytes.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/defrag.h"
#include "engine/globals.h"
#include "engine/ntfs_reader.h"
#include "ondisk/ntfs_record.h"
#include "ondisk/ntfs_runlist.h"
#include "platform/image/volume_set.h"
#include "platform/recording.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 8192) return 0;
  static vt::CImageVolumeSet volumes;
  static vt::CRecordingSink sink;
  static vt::CScriptedPrompt prompt;
  static vt::CDriveData drive;
  vt::CEngineServices services;
  services.volume = &volumes;
  services.system = &vt::HostSystem();
  services.messages = &sink;
  services.prompt = &prompt;
  vt::SetCurrentDrive(&drive);
  vt::CDefrag engine(services);
  engine.m_bNtfs = true;
  engine.m_strDrive = "C:\\";

  std::vector<uint8_t> record(data, data + size);
  vt::ntfs::ApplyFixups(record.data(), record.size(), vt::ntfs::FixupRule::kLenient);
  vt::CNtfsReader reader(engine, engine.m_files, engine.m_dirMap);
  reader.SetGeometry(512, 8);
  vt::CFileItem item;
  reader.ProcessRecord(37, record.data(), record.size(), item);
  for (const auto& f : engine.m_files) (void)engine.GetItemPath(f);

  std::vector<vt::ntfs::CRun> runs;
  if (vt::ntfs::DecodeRunList(data, size, 0, &runs) == ERROR_SUCCESS) {
    for (uint64_t vcn = 0; vcn < 64; ++vcn) {
      const vt::ntfs::CRun* run = vt::ntfs::FindRun(runs, vcn);
      if (run && (vcn < run->m_nVcn || vcn - run->m_nVcn >= run->m_nCount)) __builtin_trap();
    }
  }
  sink.Clear();
  prompt.Clear();
  return 0;
}
