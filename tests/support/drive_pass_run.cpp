#include "tests/support/drive_pass_run.h"

#include "engine/defrag.h"
#include "engine/drive_info.h"
#include "engine/globals.h"
#include "engine/statistics.h"
#include "platform/recording.h"
#include "platform/system_ops.h"

namespace vt {
namespace test {

CDrivePassRun RunMakeRoomPass(IVolumeOps& volume, IMessageSink& sink, const std::string& name) {
  CDrivePassRun out;
  CScriptedPrompt prompt;
  CDefrag engine(CEngineServices{&volume, &HostSystem(), &sink, &prompt});
  CDriveData drive;
  std::string error;
  SetCancel(false);
  if (!ReadDriveData(volume, "V:\\", drive, &error)) return out;
  SetCurrentDrive(&drive);
  if (engine.OpenVolume(&drive) && engine.AnalyzeVolume(nullptr)) {
    out.m_bRan = true;
    ComputeDriveStatistics(engine, drive);
    engine.m_bMakeRoom = true;
    out.m_nMoved = engine.DefragDrive(AllFiles, true, 0, 0, {});
    for (const auto& f : engine.m_files)
      if (f.m_strName == name) out.m_nFragments = f.m_fragments.GetSize();
    for (const auto& e : engine.m_errors) out.m_errors.push_back(e.m_strMessage + e.m_strPath);
  }
  engine.CloseVolume();
  SetCurrentDrive(nullptr);
  return out;
}

}  // namespace test
}  // namespace vt
