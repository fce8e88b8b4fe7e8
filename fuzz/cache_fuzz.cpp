// Loading the analysis cache from arbitrary file contents: a damaged cache
// must load as absent, never crash or read past the file.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include <unistd.h>

#include "engine/defrag.h"
#include "engine/globals.h"
#include "platform/image/volume_set.h"
#include "platform/recording.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string folder = [] {
    auto dir = std::filesystem::temp_directory_path() /
               ("vantrel-cache-fuzz-" + std::to_string(static_cast<long long>(::getpid())));
    std::filesystem::create_directories(dir);
    return dir.string();
  }();
  static vt::CImageVolumeSet volumes;
  static vt::CRecordingSink sink;
  static vt::CScriptedPrompt prompt;
  vt::CDriveData drive;
  drive.m_strDrive = "Q:\\";
  vt::CEngineServices services;
  services.volume = &volumes;
  services.system = &vt::HostSystem();
  services.messages = &sink;
  services.prompt = &prompt;
  vt::CDefrag engine(services);
  engine.SetCacheFolder(folder);
  const std::string path = engine.GetCachePath(drive);
  if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  if (engine.LoadDriveData(drive)) {
    // Whatever loaded must be usable: paths, and saving it again.
    for (const auto& item : engine.m_files) (void)engine.GetItemPath(item);
    engine.SaveDriveData(drive);
  }
  sink.Clear();
  return 0;
}
