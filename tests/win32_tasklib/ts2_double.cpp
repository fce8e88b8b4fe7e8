#include "ts2_double.h"

#include <string>

namespace vt {
namespace test {

std::string Narrow(const wchar_t* text) {
  if (!text) return "(null)";
  std::string out;
  for (; *text; ++text) out += (*text < 128) ? static_cast<char>(*text) : '?';
  return out;
}

std::string Describe(const VARIANT& v) {
  switch (v.vt) {
    case VT_EMPTY:
      return "EMPTY";
    case VT_BSTR:
      return "BSTR:" + Narrow(v.bstrVal);
    case VT_INT:
      return "INT:" + std::to_string(v.intVal);
    case VT_I4:
      return "I4:" + std::to_string(v.lVal);
    default:
      return "VT" + std::to_string(v.vt);
  }
}

HRESULT CTs2World::Answer(const std::string& call, const std::string& args) {
  calls.push_back(call + "(" + args + ")");
  auto it = failures.find(call);
  return it == failures.end() ? S_OK : it->second;
}

CTs2World*& CurrentWorld() {
  static CTs2World* world = nullptr;
  return world;
}

namespace {

// IUnknown for every stand-in; objects start with one reference.
template <class Stub>
class TFake : public Stub {
 public:
  explicit TFake(CTs2World& world) : m_world(world) { ++m_world.live; }
  virtual ~TFake() { --m_world.live; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IDispatch || Answers(iid)) {
      *out = static_cast<Stub*>(this);
      this->AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --m_refs;
    if (left == 0) delete this;
    return left;
  }

 protected:
  virtual bool Answers(REFIID iid) const = 0;
  CTs2World& m_world;

 private:
  ULONG m_refs = 1;
};

// Hands a new object out through an out parameter, unless the script says
// the call fails.
template <class Object, class Iface>
HRESULT Give(HRESULT hr, Iface** out, Object* made) {
  if (!out) {
    made->Release();
    return E_POINTER;
  }
  if (FAILED(hr)) {
    *out = nullptr;
    made->Release();
    return hr;
  }
  *out = made;
  return hr;
}

std::string Bool(VARIANT_BOOL b) { return std::to_string(b); }

class CFakeIdleSettings : public TFake<CStubIdleSettings> {
 public:
  using TFake::TFake;
  bool Answers(REFIID iid) const override { return iid == IID_IIdleSettings; }
  HRESULT STDMETHODCALLTYPE put_RestartOnIdle(VARIANT_BOOL b) override {
    return m_world.Answer("IIdleSettings::put_RestartOnIdle", Bool(b));
  }
};

class CFakeSettings : public TFake<CStubTaskSettings> {
 public:
  using TFake::TFake;
  bool Answers(REFIID iid) const override { return iid == IID_ITaskSettings; }
  HRESULT STDMETHODCALLTYPE put_StartWhenAvailable(VARIANT_BOOL b) override {
    return m_world.Answer("ITaskSettings::put_StartWhenAvailable", Bool(b));
  }
  HRESULT STDMETHODCALLTYPE put_RunOnlyIfIdle(VARIANT_BOOL b) override {
    return m_world.Answer("ITaskSettings::put_RunOnlyIfIdle", Bool(b));
  }
  HRESULT STDMETHODCALLTYPE get_IdleSettings(IIdleSettings** out) override {
    return Give(m_world.Answer("ITaskSettings::get_IdleSettings", ""), out,
                new CFakeIdleSettings(m_world));
  }
};

class CFakeRegistrationInfo : public TFake<CStubRegistrationInfo> {
 public:
  using TFake::TFake;
  bool Answers(REFIID iid) const override { return iid == IID_IRegistrationInfo; }
  HRESULT STDMETHODCALLTYPE put_Author(BSTR author) override {
    return m_world.Answer("IRegistrationInfo::put_Author", Narrow(author));
  }
};

class CFakePrincipal : public TFake<CStubPrincipal> {
 public:
  using TFake::TFake;
  bool Answers(REFIID iid) const override { return iid == IID_IPrincipal; }
  HRESULT STDMETHODCALLTYPE put_Id(BSTR id) override {
    return m_world.Answer("IPrincipal::put_Id", Narrow(id));
  }
  HRESULT STDMETHODCALLTYPE put_RunLevel(TASK_RUNLEVEL_TYPE level) override {
    return m_world.Answer("IPrincipal::put_RunLevel", std::to_string(level));
  }
};

class CFakeWeeklyTrigger : public TFake<CStubWeeklyTrigger> {
 public:
  using TFake::TFake;
  bool Answers(REFIID iid) const override {
    return iid == IID_ITrigger ||
           (iid == kIidWeeklyTrigger && !m_world.failures.count("IWeeklyTrigger::QueryInterface"));
  }
  HRESULT STDMETHODCALLTYPE put_Id(BSTR id) override {
    return m_world.Answer("IWeeklyTrigger::put_Id", Narrow(id));
  }
  HRESULT STDMETHODCALLTYPE put_StartBoundary(BSTR start) override {
    return m_world.Answer("IWeeklyTrigger::put_StartBoundary", Narrow(start));
  }
  HRESULT STDMETHODCALLTYPE put_WeeksInterval(short weeks) override {
    return m_world.Answer("IWeeklyTrigger::put_WeeksInterval", std::to_string(weeks));
  }
  HRESULT STDMETHODCALLTYPE put_DaysOfWeek(short days) override {
    return m_world.Answer("IWeeklyTrigger::put_DaysOfWeek", std::to_string(days));
  }
};

class CFakeTriggers : public TFake<CStubTriggerCollection> {
 public:
  using TFake::TFake;
  bool Answers(REFIID iid) const override { return iid == IID_ITriggerCollection; }
  HRESULT STDMETHODCALLTYPE Create(TASK_TRIGGER_TYPE2 type, ITrigger** out) override {
    return Give(m_world.Answer("ITriggerCollection::Create", std::to_string(type)), out,
                new CFakeWeeklyTrigger(m_world));
  }
};

class CFakeExecAction : public TFake<CStubExecAction> {
 public:
  using TFake::TFake;
  bool Answers(REFIID iid) const override { return iid == IID_IAction || iid == IID_IExecAction; }
  HRESULT STDMETHODCALLTYPE put_Path(BSTR path) override {
    return m_world.Answer("IExecAction::put_Path", Narrow(path));
  }
  HRESULT STDMETHODCALLTYPE put_Arguments(BSTR args) override {
    return m_world.Answer("IExecAction::put_Arguments", Narrow(args));
  }
  HRESULT STDMETHODCALLTYPE put_WorkingDirectory(BSTR dir) override {
    return m_world.Answer("IExecAction::put_WorkingDirectory", Narrow(dir));
  }
};

class CFakeActions : public TFake<CStubActionCollection> {
 public:
  using TFake::TFake;
  bool Answers(REFIID iid) const override { return iid == IID_IActionCollection; }
  HRESULT STDMETHODCALLTYPE Create(TASK_ACTION_TYPE type, IAction** out) override {
    return Give(m_world.Answer("IActionCollection::Create", std::to_string(type)), out,
                new CFakeExecAction(m_world));
  }
};

class CFakeDefinition : public TFake<CStubTaskDefinition> {
 public:
  using TFake::TFake;
  bool Answers(REFIID iid) const override { return iid == IID_ITaskDefinition; }
  HRESULT STDMETHODCALLTYPE get_RegistrationInfo(IRegistrationInfo** out) override {
    return Give(m_world.Answer("ITaskDefinition::get_RegistrationInfo", ""), out,
                new CFakeRegistrationInfo(m_world));
  }
  HRESULT STDMETHODCALLTYPE get_Principal(IPrincipal** out) override {
    return Give(m_world.Answer("ITaskDefinition::get_Principal", ""), out,
                new CFakePrincipal(m_world));
  }
  HRESULT STDMETHODCALLTYPE get_Settings(ITaskSettings** out) override {
    return Give(m_world.Answer("ITaskDefinition::get_Settings", ""), out,
                new CFakeSettings(m_world));
  }
  HRESULT STDMETHODCALLTYPE get_Triggers(ITriggerCollection** out) override {
    return Give(m_world.Answer("ITaskDefinition::get_Triggers", ""), out,
                new CFakeTriggers(m_world));
  }
  HRESULT STDMETHODCALLTYPE get_Actions(IActionCollection** out) override {
    return Give(m_world.Answer("ITaskDefinition::get_Actions", ""), out, new CFakeActions(m_world));
  }
};

class CFakeRegisteredTask : public TFake<CStubRegisteredTask> {
 public:
  CFakeRegisteredTask(CTs2World& world, CTs2World::Task task) : TFake(world), m_task(task) {}
  bool Answers(REFIID iid) const override { return iid == IID_IRegisteredTask; }
  HRESULT STDMETHODCALLTYPE get_Name(BSTR* name) override {
    HRESULT hr = m_world.Answer("IRegisteredTask::get_Name", "");
    *name = SUCCEEDED(hr) ? ::SysAllocString(m_task.name.c_str()) : nullptr;
    return hr;
  }
  HRESULT STDMETHODCALLTYPE get_State(TASK_STATE* state) override {
    HRESULT hr = m_world.Answer("IRegisteredTask::get_State", Narrow(m_task.name.c_str()));
    if (SUCCEEDED(hr)) *state = m_task.state;
    return hr;
  }
  HRESULT STDMETHODCALLTYPE put_Enabled(VARIANT_BOOL enabled) override {
    m_world.enabledPuts.emplace_back(m_task.name, enabled);
    return m_world.Answer("IRegisteredTask::put_Enabled",
                          Narrow(m_task.name.c_str()) + ", " + Bool(enabled));
  }

 private:
  CTs2World::Task m_task;
};

class CFakeTaskCollection : public TFake<CStubRegisteredTaskCollection> {
 public:
  using TFake::TFake;
  bool Answers(REFIID iid) const override { return iid == IID_IRegisteredTaskCollection; }
  HRESULT STDMETHODCALLTYPE get_Count(LONG* count) override {
    HRESULT hr = m_world.Answer("IRegisteredTaskCollection::get_Count", "");
    *count = static_cast<LONG>(m_world.systemDefragTasks.size());
    return hr;
  }
  HRESULT STDMETHODCALLTYPE get_Item(VARIANT index, IRegisteredTask** out) override {
    HRESULT hr = m_world.Answer("IRegisteredTaskCollection::get_Item", Describe(index));
    if (SUCCEEDED(hr) && index.vt == VT_INT && index.intVal >= 1 &&
        static_cast<size_t>(index.intVal) <= m_world.systemDefragTasks.size()) {
      *out = new CFakeRegisteredTask(m_world, m_world.systemDefragTasks[index.intVal - 1]);
      return hr;
    }
    *out = nullptr;
    return FAILED(hr) ? hr : E_INVALIDARG;
  }
};

class CFakeFolder : public TFake<CStubTaskFolder> {
 public:
  CFakeFolder(CTs2World& world, std::wstring path) : TFake(world), m_path(std::move(path)) {}
  bool Answers(REFIID iid) const override { return iid == IID_ITaskFolder; }

  HRESULT STDMETHODCALLTYPE CreateFolder(BSTR name, VARIANT sddl, ITaskFolder** out) override {
    HRESULT hr = Answer("CreateFolder", Narrow(name) + ", " + Describe(sddl));
    if (SUCCEEDED(hr)) m_world.productFolderExists = true;
    return Give(hr, out, new CFakeFolder(m_world, L"\\" + std::wstring(name ? name : L"")));
  }
  HRESULT STDMETHODCALLTYPE DeleteFolder(BSTR name, LONG flags) override {
    HRESULT hr = Answer("DeleteFolder", Narrow(name) + ", " + std::to_string(flags));
    if (FAILED(hr)) return hr;
    if (!m_world.productFolderExists) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    m_world.productFolderExists = false;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE DeleteTask(BSTR name, LONG flags) override {
    return Answer("DeleteTask", Narrow(name) + ", " + std::to_string(flags));
  }
  HRESULT STDMETHODCALLTYPE GetTasks(LONG flags, IRegisteredTaskCollection** out) override {
    return Give(Answer("GetTasks", std::to_string(flags)), out, new CFakeTaskCollection(m_world));
  }
  HRESULT STDMETHODCALLTYPE RegisterTaskDefinition(BSTR path, ITaskDefinition* definition,
                                                   LONG flags, VARIANT user, VARIANT password,
                                                   TASK_LOGON_TYPE logon, VARIANT sddl,
                                                   IRegisteredTask** out) override {
    std::string which = !definition                            ? "null"
                        : definition == m_world.lastDefinition ? "definition"
                                                               : "other";
    HRESULT hr = Answer("RegisterTaskDefinition",
                        Narrow(path) + ", " + which + ", " + std::to_string(flags) + ", " +
                            Describe(user) + ", " + Describe(password) + ", " +
                            std::to_string(logon) + ", " + Describe(sddl));
    if (!out) return hr;
    return Give(hr, out, new CFakeRegisteredTask(m_world, {L"Vantrel", TASK_STATE_READY}));
  }

 private:
  HRESULT Answer(const std::string& method, const std::string& args) {
    return m_world.Answer("ITaskFolder[" + Narrow(m_path.c_str()) + "]::" + method, args);
  }
  std::wstring m_path;
};

class CFakeService : public TFake<CStubTaskService> {
 public:
  using TFake::TFake;
  bool Answers(REFIID iid) const override { return iid == IID_ITaskService; }

  HRESULT STDMETHODCALLTYPE Connect(VARIANT server, VARIANT user, VARIANT domain,
                                    VARIANT password) override {
    return m_world.Answer("ITaskService::Connect", Describe(server) + ", " + Describe(user) + ", " +
                                                       Describe(domain) + ", " +
                                                       Describe(password));
  }
  HRESULT STDMETHODCALLTYPE GetFolder(BSTR path, ITaskFolder** out) override {
    std::wstring p = path ? path : L"";
    HRESULT hr = m_world.Answer("ITaskService::GetFolder", Narrow(path));
    if (SUCCEEDED(hr)) {
      bool exists = p == L"\\" || (p == kTaskFolderPath && m_world.productFolderExists) ||
                    (p == kSystemDefragFolder && m_world.systemDefragFolderExists);
      if (!exists) hr = HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    }
    return Give(hr, out, new CFakeFolder(m_world, p));
  }
  HRESULT STDMETHODCALLTYPE NewTask(DWORD flags, ITaskDefinition** out) override {
    CFakeDefinition* made = new CFakeDefinition(m_world);
    HRESULT hr = Give(m_world.Answer("ITaskService::NewTask", std::to_string(flags)), out, made);
    if (SUCCEEDED(hr)) m_world.lastDefinition = static_cast<ITaskDefinition*>(made);
    return hr;
  }
};

}  // namespace

HRESULT CreateFakeTaskService(ITaskService** service) {
  CTs2World* world = CurrentWorld();
  if (!world) return E_UNEXPECTED;
  HRESULT hr = world->Answer("CoCreateInstance", "TaskScheduler");
  return Give(hr, service, new CFakeService(*world));
}

}  // namespace test
}  // namespace vt
