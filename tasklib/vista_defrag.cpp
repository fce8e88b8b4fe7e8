// EnableVistaDefrag: reads or switches the system's own scheduled
// defragmentation task.
#include <cwchar>

#include "tasklib/com_ref.h"
#include "tasklib/task_service.h"

namespace vt {

HRESULT RunEnableVistaDefrag(int32_t* enabled, const int32_t* queryOnly,
                             TaskServiceFactory factory) {
  if (!enabled || !queryOnly || !factory) return E_POINTER;
  CComApartment apartment;

  CComRef<ITaskService> service;
  HRESULT hr = factory(service.Put());
  if (FAILED(hr)) return hr;
  if (!service) return E_POINTER;
  CVariant none;
  hr = service->Connect(none.Get(), none.Get(), none.Get(), none.Get());
  if (FAILED(hr)) return hr;

  CComRef<ITaskFolder> folder;
  hr = service->GetFolder(CBstr(kSystemDefragFolder).Get(), folder.Put());
  if (FAILED(hr)) return hr;
  if (!folder) return E_POINTER;
  CComRef<IRegisteredTaskCollection> tasks;
  hr = folder->GetTasks(0, tasks.Put());
  if (FAILED(hr)) return hr;
  if (!tasks) return E_POINTER;

  LONG count = 0;
  hr = tasks->get_Count(&count);
  if (FAILED(hr)) return hr;

  for (LONG index = 1; index <= count; ++index) {
    VARIANT item;
    ::VariantInit(&item);
    item.vt = VT_INT;
    item.intVal = index;
    CComRef<IRegisteredTask> task;
    hr = tasks->get_Item(item, task.Put());
    if (FAILED(hr) || !task) continue;

    CBstr name;
    hr = task->get_Name(name.Put());
    if (FAILED(hr) || !name.Get() || _wcsicmp(name.Get(), kSystemDefragTask) != 0) continue;

    // An unreadable state says nothing about the task being on.
    TASK_STATE state = TASK_STATE_UNKNOWN;
    hr = task->get_State(&state);
    if (*queryOnly) {
      if (SUCCEEDED(hr) && state != TASK_STATE_DISABLED) {
        *enabled = 1;
        return S_OK;
      }
      continue;
    }
    hr = task->put_Enabled(static_cast<VARIANT_BOOL>(*enabled & 0xFFFF));
  }
  return hr;
}

}  // namespace vt
