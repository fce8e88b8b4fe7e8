// One analysis and drive pass with making room on, over drive V: of a
// volume set, as the front ends run them: for the tests that cut the pass
// short.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/ui_sink.h"
#include "platform/volume_ops.h"

namespace vt {
namespace test {

struct CDrivePassRun {
  bool m_bRan = false;  // the drive opened and was analysed
  uint64_t m_nMoved = 0;
  size_t m_nFragments = 0;  // of the file named in the call
  std::vector<std::string> m_errors;
};

CDrivePassRun RunMakeRoomPass(IVolumeOps& volume, IMessageSink& sink, const std::string& name);

}  // namespace test
}  // namespace vt
