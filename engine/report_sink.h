// Where operations write their run reports. The report page (and, for the
// command line, a plain document) implements it.
#pragma once

#include <cstdint>
#include <string>

#include "engine/records.h"

namespace vt {

class IReportSink {
 public:
  virtual ~IReportSink() = default;
  // A blank line, then "Action: <action> Completed at <time>  <date>" in
  // the heading format, a line of 68 underscores and two line ends.
  virtual void AddHeading(const std::string& action) = 0;
  // The same for an operation the user stopped: "Stopped at" in place of
  // "Completed at", so the report does not claim it finished.
  virtual void AddStoppedHeading(const std::string& action) { AddHeading(action); }
  // And for one that failed: "Failed at".
  virtual void AddFailedHeading(const std::string& action) { AddHeading(action); }
  // "<label>\t<value>\n".
  virtual void AddLine(const std::string& label, const std::string& value) = 0;
  // The number with a comma every three digits, as a line.
  virtual void AddNumberLine(const std::string& label, uint64_t number) = 0;
  // The text in bold, then the plain format again.
  virtual void AddBold(const std::string& text) = 0;
  // The files that could not be processed; empties the list.
  virtual void AddFileList(CGrowableArray<CFileErrors>& errors) = 0;
  virtual void ClearReport() = 0;
};

}  // namespace vt
