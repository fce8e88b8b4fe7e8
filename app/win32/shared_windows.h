// The window objects the workers reach: owned by the application object for
// the whole run, so a worker still running when the main window closes
// finds them alive (their window handles are gone by then; messages to
// them are dropped by the system).
#pragma once

#include "map/cluster_map.h"
#include "map/cluster_map_host.h"
#include "map/win32/horizontal_grid.h"
#include "map/win32/wnd_graph.h"
#include "pages/win32/drive_dlg.h"
#include "pages/win32/file_dlg.h"

namespace vt {

struct CSharedWindows {
  CSharedWindows(CDefrag& engine, IPrompt& prompt, IReportSink& report)
      : m_map(&prompt),
        m_mapHost(m_map),
        m_strip(m_map),
        m_graph(m_map, engine),
        m_filePage(engine),
        m_drivePage(engine, &report) {}
  ClusterMap m_map;
  CClusterMapHost m_mapHost;
  CHorizontalGrid m_strip;
  CWndGraph m_graph;
  CFileDlg m_filePage;
  CDriveDlg m_drivePage;
};

}  // namespace vt
