#include "tests/support/engine_fixture.h"

#include "engine/drive_info.h"

namespace vt {
namespace test {

std::string CFakeSystem::FormatSystemMessage(DWORD error) {
  if (error == ERROR_FILE_NOT_FOUND) return "The system cannot find the file specified.\r\n";
  if (error == ERROR_ACCESS_DENIED) return "Access is denied.\r\n";
  return "Error " + std::to_string(error) + ".\r\nSecond line.\r\n";
}

EngineTest::EngineTest() {
  SetCancel(false);
  SetUnattended(false);
  MakeEngine();
}

EngineTest::~EngineTest() {
  engine.reset();
  SetCurrentDrive(nullptr);
  SetCancel(false);
  SetUnattended(false);
}

void EngineTest::MakeEngine() {
  engine.reset();
  CEngineServices services;
  services.volume = &volume;
  services.system = &system;
  services.messages = &sink;
  services.prompt = &prompt;
  services.map = &map;
  engine = std::make_unique<CDefrag>(services);
}

bool EngineTest::Open() {
  std::string error;
  if (!ReadDriveData(volume, "C:\\", drive, &error)) return false;
  SetCurrentDrive(&drive);
  return engine->OpenVolume(&drive);
}

bool EngineTest::Analyze() {
  if (!Open()) return false;
  engine->GetVolumeClusters();
  bool ok = engine->AnalyzeVolume(reinterpret_cast<HWND>(static_cast<intptr_t>(0x77)));
  engine->BuildFreeRunList();
  return ok;
}

}  // namespace test
}  // namespace vt
