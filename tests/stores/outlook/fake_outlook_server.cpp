// The fake Outlook served out of process, as a local COM server of its own class.
//   fake_outlook_server.exe /regserver [PROGID]  registers the class and its ProgID (HKCR), and
//                                                 PROGID too ("Outlook.Application"), then ends
//   fake_outlook_server.exe /unregserver   removes them
//   fake_outlook_server.exe --serve PARENT NAME SETUP
// serves until the event NAME-quit is set or the process PARENT ends, having set NAME-ready
// once its class is registered; SETUP is PROFILE BUSY_AFTER BUSY_MS RETRY_LATER EXIT_AT HANG_AT,
// as FakeServerSetup says. Started by COM (-Embedding), it serves until its last object is let
// go, set up as the environment variable DIALMEND_FAKE_OUTLOOK (SETUP) says, which it inherits
// from the program that asked for it; without it, the contract's profile.

#include <windows.h>

#include <objbase.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "tests/stores/outlook/fake_outlook.h"
#include "tests/stores/outlook/fake_outlook_process.h"

namespace dialmend {
namespace {

struct Server {
  FakeOutlook outlook;
  FakeServerSetup setup;
  HANDLE stop[2] = {nullptr, nullptr};  // the quit event, the parent process
  DWORD stop_count = 0;
  HANDLE ready = nullptr;  // set once the class is registered
  ULONGLONG busy_since = 0;
  bool served = false;
};

Server* g_server = nullptr;

// Refuses the calls of the busy spell; the calls COM makes for itself pass.
class ServerFilter : public IMessageFilter {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IMessageFilter)) {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    *object = this;
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }

  STDMETHODIMP_(DWORD)
  HandleInComingCall(DWORD, HTASK, DWORD, LPINTERFACEINFO info) override {
    Server& server = *g_server;
    if (!info || !IsEqualIID(info->iid, IID_IDispatch) || server.setup.busy_after < 0 ||
        server.outlook.calls < server.setup.busy_after) {
      return SERVERCALL_ISHANDLED;
    }
    if (server.busy_since == 0) server.busy_since = GetTickCount64();
    if (GetTickCount64() - server.busy_since >= server.setup.busy_ms) return SERVERCALL_ISHANDLED;
    return server.setup.retry_later ? SERVERCALL_RETRYLATER : SERVERCALL_REJECTED;
  }
  STDMETHODIMP_(DWORD) RetryRejectedCall(HTASK, DWORD, DWORD) override {
    return static_cast<DWORD>(-1);
  }
  STDMETHODIMP_(DWORD) MessagePending(HTASK, DWORD, DWORD) override {
    return PENDINGMSG_WAITDEFPROCESS;
  }
};

class Factory : public IClassFactory {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory)) {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    *object = this;
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    if (outer) return CLASS_E_NOAGGREGATION;
    IDispatch* application = g_server->outlook.Application();
    const HRESULT result = application->QueryInterface(iid, object);
    application->Release();
    g_server->served = true;
    return result;
  }
  STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};

void BuildProfile(FakeOutlook& outlook, const std::string& profile) {
  int folders = 0;
  int contacts = 0;
  if (std::sscanf(profile.c_str(), "folders:%d:%d", &folders, &contacts) != 2) {
    BuildContractProfile(outlook);
    outlook.without_tables = profile == "contract-items";
    return;
  }
  for (int f = 0; f < folders; ++f) {
    FakeFolder folder(L"Folder " + std::to_wstring(f));
    for (int c = 0; c < contacts; ++c) {
      folder.items.push_back(FakeContact(
          L"Contact " + std::to_wstring(f) + L"." + std::to_wstring(c),
          {{PhoneField::Home, L"0171 930 8890"}, {PhoneField::Mobile, L"0370 123456"}}));
    }
    outlook.folders.push_back(std::move(folder));
  }
}

// Exits, or stops answering until told to quit, at the calls the setup names.
void OnCall() {
  Server& server = *g_server;
  if (server.outlook.calls == server.setup.exit_at) ExitProcess(3);
  if (server.outlook.calls == server.setup.hang_at) {
    if (server.stop_count == 0) Sleep(INFINITE);
    WaitForMultipleObjects(server.stop_count, server.stop, FALSE, INFINITE);
    ExitProcess(4);
  }
}

bool SetValue(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
  return RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), name, REG_SZ, value.c_str(),
                         static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

int Register(const char* other_prog_id) {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  const std::wstring clsid_key = std::wstring(L"CLSID\\") + kFakeOutlookClsid;
  const bool done =
      SetValue(clsid_key, nullptr, L"Dialmend stand-in Outlook") &&
      SetValue(clsid_key + L"\\LocalServer32", nullptr,
               L"\"" + std::wstring(path, length) + L"\"") &&
      SetValue(clsid_key + L"\\ProgID", nullptr, kFakeOutlookProgId) &&
      SetValue(kFakeOutlookProgId, nullptr, L"Dialmend stand-in Outlook") &&
      SetValue(std::wstring(kFakeOutlookProgId) + L"\\CLSID", nullptr, kFakeOutlookClsid) &&
      (!other_prog_id ||
       SetValue(
           std::wstring(other_prog_id, other_prog_id + std::strlen(other_prog_id)) + L"\\CLSID",
           nullptr, kFakeOutlookClsid));
  if (!done) std::fprintf(stderr, "fake_outlook_server: cannot write the registry\n");
  return done ? 0 : 1;
}

int Unregister() {
  RegDeleteTreeW(HKEY_CLASSES_ROOT, (std::wstring(L"CLSID\\") + kFakeOutlookClsid).c_str());
  RegDeleteTreeW(HKEY_CLASSES_ROOT, kFakeOutlookProgId);
  return 0;
}

// Serves until told to stop; started by COM, until the last object is let go.
int Serve(Server& server) {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  ServerFilter filter;
  CoRegisterMessageFilter(&filter, nullptr);
  server.outlook.on_call = OnCall;
  Factory factory;
  CLSID clsid;
  DWORD cookie = 0;
  if (FAILED(CLSIDFromString(kFakeOutlookClsid, &clsid)) ||
      FAILED(CoRegisterClassObject(clsid, &factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE,
                                   &cookie))) {
    std::fprintf(stderr, "fake_outlook_server: cannot register its class\n");
    return 1;
  }
  if (server.ready) SetEvent(server.ready);
  for (;;) {
    const DWORD woke =
        MsgWaitForMultipleObjects(server.stop_count, server.stop, FALSE, 1000, QS_ALLINPUT);
    if (woke < WAIT_OBJECT_0 + server.stop_count) break;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    if (server.stop_count == 0 && server.served && server.outlook.live_objects == 0) break;
  }
  CoRevokeClassObject(cookie);
  CoRegisterMessageFilter(nullptr, nullptr);
  CoUninitialize();
  return 0;
}

}  // namespace
}  // namespace dialmend

int main(int argc, char** argv) {
  using namespace dialmend;
  const std::string first = argc > 1 ? argv[1] : "";
  if (first == "/regserver" || first == "-regserver") return Register(argc > 2 ? argv[2] : nullptr);
  if (first == "/unregserver" || first == "-unregserver") return Unregister();
  Server server;
  g_server = &server;
  std::vector<std::string> setup(argv + std::min(argc, 4), argv + argc);
  if (first != "--serve") {
    std::istringstream words(
        std::getenv("DIALMEND_FAKE_OUTLOOK") ? std::getenv("DIALMEND_FAKE_OUTLOOK") : "");
    setup.assign(std::istream_iterator<std::string>(words), {});
  }
  if (setup.size() == 6) {
    server.setup.profile = setup[0];
    server.setup.busy_after = std::atoi(setup[1].c_str());
    server.setup.busy_ms = std::strtoul(setup[2].c_str(), nullptr, 10);
    server.setup.retry_later = setup[3] == "1";
    server.setup.exit_at = std::atoi(setup[4].c_str());
    server.setup.hang_at = std::atoi(setup[5].c_str());
  }
  BuildProfile(server.outlook, server.setup.profile);
  if (first == "--serve" && argc == 10) {
    const std::string name = argv[3];
    server.stop[0] = OpenEventA(SYNCHRONIZE, FALSE, (name + "-quit").c_str());
    server.stop[1] = OpenProcess(SYNCHRONIZE, FALSE, std::strtoul(argv[2], nullptr, 10));
    if (!server.stop[0] || !server.stop[1]) return 1;
    server.stop_count = 2;
    server.ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, (name + "-ready").c_str());
    if (!server.ready) return 1;
  }
  return Serve(server);
}
