#include "pages/defrag_prompt.h"

namespace vt {

bool CDefragPrompt::OnButton(int id) {
  switch (id) {
    case IDOK:  // Return: the default button
    case IDYES:
      m_nAnswer = IDYES;
      return true;
    case IDNO:
      m_nAnswer = IDNO;
      return true;
    case IDCANCEL:
      m_nAnswer = IDCANCEL;
      return true;
    default:
      return false;
  }
}

}  // namespace vt
