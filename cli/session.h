// One command's volume and engine: resolves the VOLUME argument (an image
// file, a block device, or in the Windows build a drive such as C:), opens
// it and runs the analysis as the drive page does.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "cli/console_host.h"
#include "engine/defrag.h"
#include "map/cluster_map.h"
#include "map/cluster_map_host.h"

namespace vt {

enum ExitCode { EXIT_OK = 0, EXIT_FAILED = 1, EXIT_USAGE = 2 };

class CCliSession {
 public:
  CCliSession();
  ~CCliSession();

  // Opens VOLUME; on failure returns EXIT_USAGE with a one-line reason.
  int Open(const std::string& volume, char letter, std::string* error);

  // Opens the volume in the engine and analyses it (volume open, cluster
  // count, folder walk, free runs, statistics). Returns EXIT_OK, EXIT_USAGE
  // when the volume cannot be opened, EXIT_FAILED when the analysis failed.
  int Analyze(std::string* error);
  // Restores the analysis from the cache when it holds one for this volume,
  // and saves it after an analysis that ran to the end.
  void UseCache(bool on) { m_bUseCache = on; }
  bool LoadedFromCache() const { return m_bFromCache; }

  // Opens the volume and analyses only the named paths ("V:\Data\a.txt"):
  // the free runs first, then each path's folder walked with the name as
  // filter, as the fragmented-file page handles a request.
  int AnalyzeFiles(const std::vector<std::string>& paths, std::string* error);

  // Keeps a cluster map: built after the analysis, told of every move.
  // Call before Analyze.
  void EnableMap();
  ClusterMap& Map() { return m_map; }
  // Rebuilds the map from the engine's lists (after an operation).
  void RefreshMap();

  IVolumeOps& Ops() { return *m_ops; }
  CDefrag& Engine() { return *m_engine; }
  CDriveData& Drive() { return m_drive; }
  CConsolePrompt& Prompt() { return m_prompt; }
  CConsoleSink& Sink() { return *m_sink; }
  uint64_t ElapsedMs() const { return m_nElapsedMs; }
  const std::string& Root() const { return m_strRoot; }

 private:
  std::unique_ptr<IVolumeOps> m_ops;
  std::unique_ptr<CConsoleSink> m_sink;
  CConsolePrompt m_prompt;
  ClusterMap m_map{&m_prompt};
  CClusterMapHost m_mapHost{m_map};
  bool m_bMap = false;
  std::unique_ptr<CDefrag> m_engine;
  CDriveData m_drive;
  std::string m_strRoot;
  uint64_t m_nElapsedMs = 0;
  std::string m_strVolumeArg;
  bool m_bUseCache = false;
  bool m_bFromCache = false;
};

// "C:" or "c:\" and the like.
bool IsDriveRoot(const std::string& text);

// The folder of an image's analysis cache: a folder of its own under the
// user's cache folder ($XDG_CACHE_HOME or ~/.cache, "vantrel"; the temporary
// folder on Windows), named after the image's path, size and modification
// time, so that a cache never answers for another or a changed image.
// Empty when it cannot be made.
std::string ImageCacheFolder(const std::string& imagePath);

}  // namespace vt
