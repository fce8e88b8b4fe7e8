// The analysis's reading of NTFS file records: fix-ups, the attribute walk,
// file names, run lists and the run lookups, over arbitrary record bytes.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/defrag.h"
#include "engine/globals.h"
#include "engine/ntfs_reader.h"
#include "engine/ntfs_record.h"
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
  vt::ApplyFixups(record.data(), record.size());
  vt::CNtfsReader reader(engine, engine.m_files, engine.m_dirMap);
  reader.SetGeometry(512, 8);
  vt::CFileItem item;
  reader.ProcessRecord(37, record.data(), record.size(), item);
  for (const auto& f : engine.m_files) (void)engine.GetItemPath(f);

  std::vector<vt::CNtfsRun> runs;
  vt::CByteView view(data, size);
  if (vt::DecodeRunList(view, 0, &runs)) {
    uint64_t lcn = 0, remaining = 0;
    bool sparse = false;
    for (int64_t vcn = 0; vcn < 64; ++vcn)
      vt::LookupRun(runs, 0, 63, vcn, &lcn, &remaining, &sparse);
  }
  sink.Clear();
  prompt.Clear();
  return 0;
}
