// Loading the analysis cache from arbitrary file contents: a damaged cache
// must load as absent, never crash or read past the file.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>
#include <zlib.h>

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
  // A mutated body would almost never match its checksum, and the parser
  // behind the check would go untested. The first byte chooses: even, the
  // rest is the file as it is; odd, the rest gets the trailer a cache ends
  // with ("CRC " and the CRC-32 of all before).
  std::vector<uint8_t> bytes(data + (size > 0 ? 1 : 0), data + size);
  if (size > 0 && (data[0] & 1)) {
    const uint8_t tag[4] = {'C', 'R', 'C', ' '};
    bytes.insert(bytes.end(), tag, tag + 4);
    const uint32_t crc = static_cast<uint32_t>(crc32(0L, bytes.data(), static_cast<uInt>(bytes.size())));
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(crc >> (8 * i)));
  }
  if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
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
