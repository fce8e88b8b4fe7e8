#include "pages/options_page.h"

#include <cstdio>

namespace vt {

const CPriorityItem kPriorityItems[kPriorityItemCount] = {{"High", 0x80},
                                                          {"Above Normal", 0x8000},
                                                          {"Normal", 0x20},
                                                          {"Below Normal", 0x4000},
                                                          {"Low", 0x40}};

bool RegisterShellExtension(bool registering, IShellExtensionHost& host, IPrompt& prompt) {
  const std::string path = host.LibraryPath();
  switch (host.CallServer(path, registering)) {
    case IShellExtensionHost::NotLoaded: {
      std::string text(kShellLoadFailedFormat);
      text.replace(text.find("%s"), 2, path);
      prompt.ShowMessage(text, MB_OK | MB_ICONERROR);
      return false;
    }
    case IShellExtensionHost::NoExport:
      prompt.ShowMessage(kShellNoExportText, MB_OK | MB_ICONERROR);
      return false;
    case IShellExtensionHost::Called:
      break;
  }
  const bool registered = host.IsRegistered();
  if (registering && !registered) {
    prompt.ShowMessage(kShellRegisterFailedText, MB_OK | MB_ICONERROR);
    return false;
  }
  if (!registering && registered) {
    prompt.ShowMessage(kShellUnregisterFailedText, MB_OK | MB_ICONERROR);
    return false;
  }
  return true;
}

void COptionsPage::Load(const SettingsFile& settings, unsigned processors, bool registered) {
  m_bShellExtension = registered;
  const uint32_t mask = static_cast<uint32_t>(settings.Processors());
  // The mask has 32 bits; processors beyond them follow the last bit's lead
  // no further: they are simply unchecked unless nothing else is.
  m_cpus.assign(processors, false);
  bool any = false;
  for (unsigned i = 0; i < processors; ++i) {
    m_cpus[i] = i < 32 && (mask >> i) & 1u;
    any = any || m_cpus[i];
  }
  if (!any) m_cpus.assign(processors, true);
  m_nPriority = kNormalPriorityIndex;
  const int stored = settings.ProcessorPriority();
  for (size_t i = 0; i < kPriorityItemCount; ++i)
    if (static_cast<DWORD>(stored) == kPriorityItems[i].m_dwClass)
      m_nPriority = static_cast<int>(i);
  m_bSaveLogs = settings.SaveLogFiles();
}

std::string COptionsPage::CpuText(size_t index) const {
  char text[32];
  std::snprintf(text, sizeof(text), "CPU %u", static_cast<unsigned>(index));
  return text;
}

void COptionsPage::SetCpuChecked(size_t index, bool on) {
  if (index < m_cpus.size()) m_cpus[index] = on;
}

int COptionsPage::ShownCpu() const {
  for (size_t i = 0; i < m_cpus.size(); ++i)
    if (m_cpus[i]) return static_cast<int>(i);
  return -1;
}

uint64_t COptionsPage::CpuMask() const {
  uint64_t mask = 0;
  for (size_t i = 0; i < m_cpus.size() && i < 64; ++i)
    if (m_cpus[i]) mask |= uint64_t{1} << i;
  return mask;
}

int COptionsPage::Apply(SettingsFile& settings, IShellExtensionHost& host, IPrompt& prompt,
                        int* focus) {
  // The settings file holds a 32-bit mask: processors beyond 32 cannot be
  // chosen alone.
  const uint32_t mask = static_cast<uint32_t>(CpuMask());
  if (mask == 0) {
    prompt.ShowMessage(kNoCpuText, MB_OK | MB_ICONERROR);
    if (focus) *focus = kIdcCpuList;
    return 0;
  }
  if (m_nPriority < 0 || m_nPriority >= static_cast<int>(kPriorityItemCount)) {
    prompt.ShowMessage(kNoPriorityText, MB_OK | MB_ICONERROR);
    if (focus) *focus = kIdcPriority;
    return 0;
  }
  RegisterShellExtension(m_bShellExtension, host, prompt);
  settings.SetProcessors(static_cast<int>(mask));
  settings.SetProcessorPriority(static_cast<int>(kPriorityItems[m_nPriority].m_dwClass));
  settings.SetSaveLogFiles(m_bSaveLogs);
  return 1;
}

}  // namespace vt
