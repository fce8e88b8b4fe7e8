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

class CImageVolumeSet;

enum ExitCode { EXIT_OK = 0, EXIT_FAILED = 1, EXIT_USAGE = 2 };

class CCliSession {
 public:
  CCliSession();
  ~CCliSession();

  // Opens VOLUME; on failure returns EXIT_USAGE with a one-line reason.
  // An image opened for an operation that moves is refused while the host
  // has it mounted or another process writes to it, and while its
  // allocation check finds damage; one the host will not let us write opens
  // read-only (the engine then answers "Drive is read-only.").
  int Open(const std::string& volume, char letter, std::string* error);
  // Call before Open for commands that only read (analyze, files, map): the
  // image is opened for reading, also when it cannot be written or is in use.
  void ForReading() { m_bForReading = true; }
  // Also checks the allocation of an image opened for reading (analyze).
  void CheckAlways() { m_bCheckAlways = true; }
  // Clusters marked in use that no file owns, as the allocation check of an
  // image counted them (0 when it did not run).
  uint64_t LostClusters() const { return m_nLostClusters; }
  // Adds the line that says how to reclaim them to the engine's error list.
  void NoteLostClusters();
  // Whether the allocation check of a volume opened for reading found it
  // damaged; NoteDamage adds that to the engine's error list.
  bool Damaged() const { return !m_strDamage.empty(); }
  void NoteDamage();

  // Opens the volume in the engine and analyses it (volume open, cluster
  // count, folder walk, free runs, statistics). Returns EXIT_OK, EXIT_USAGE
  // when the volume cannot be opened, EXIT_FAILED when the analysis failed.
  int Analyze(std::string* error);
  // Restores the analysis from the cache when it holds one for this volume,
  // and saves it after an analysis that ran to the end.
  void UseCache(bool on) { m_bUseCache = on; }
  bool LoadedFromCache() const { return m_bFromCache; }
  // Deletes the image's analysis cache: after anything moved it would
  // answer for a layout that is gone.
  void DropCache();

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
  // The allocation check of an image: its warning or refusal, and the lost
  // clusters it counted.
  int CheckImage(std::string* error);

  std::unique_ptr<IVolumeOps> m_ops;
  CImageVolumeSet* m_pImageSet = nullptr;  // m_ops when it is an image's
  bool m_bCheckPending = false;            // to run after the analysis
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
  std::string m_strIdentity;  // what the volume says it is, taken at the open
  bool m_bUseCache = false;
  bool m_bForReading = false;
  bool m_bCheckAlways = false;
  uint64_t m_nLostClusters = 0;
  std::string m_strDamage;
  bool m_bFromCache = false;
};

// "C:" or "c:\" and the like.
bool IsDriveRoot(const std::string& text);

// Whether writing the host file `output` writes into the bytes of `volume`
// (the same file by any link, a loop device of it, a partition's disk).
bool OutputIsVolume(const std::string& output, const std::string& volume);

// The folder of an image's analysis cache: a folder of its own under the
// user's cache folder ($XDG_CACHE_HOME or ~/.cache, "vantrel"; the temporary
// folder on Windows), named after the image's path, size and modification
// time and what the volume says it is (serial number, cluster counts, NTFS
// sequence numbers), so that a cache never answers for another or a changed
// volume, also behind the same block device. Made when `create`; empty when
// it cannot be made.
std::string ImageCacheFolder(const std::string& imagePath, const std::string& volumeIdentity,
                             bool create);

}  // namespace vt
