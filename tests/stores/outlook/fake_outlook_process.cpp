#include "tests/stores/outlook/fake_outlook_process.h"

#include <filesystem>

namespace dialmend {
namespace {

constexpr DWORD kStartWaitMs = 30000;
constexpr DWORD kStopWaitMs = 10000;

std::wstring ServerPath() {
  wchar_t own[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, own, MAX_PATH);
  return (std::filesystem::path(std::wstring(own, length)).parent_path() /
          L"fake_outlook_server.exe")
      .wstring();
}

// Starts `command` and waits up to `wait_ms` for `ready` (or, without one, for its end).
// Returns the process, or nullptr with the reason in `failure`.
HANDLE Start(std::wstring command, HANDLE ready, DWORD wait_ms, std::string& failure) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    failure =
        "fake_outlook_server.exe cannot be started (error " + std::to_string(GetLastError()) + ")";
    return nullptr;
  }
  CloseHandle(process.hThread);
  const HANDLE waits[2] = {ready ? ready : process.hProcess, process.hProcess};
  const DWORD woke = WaitForMultipleObjects(ready ? 2 : 1, waits, FALSE, wait_ms);
  if (woke == WAIT_OBJECT_0) return process.hProcess;
  failure = woke == WAIT_TIMEOUT ? "fake_outlook_server.exe did not get ready in time"
                                 : "fake_outlook_server.exe ended before it served";
  TerminateProcess(process.hProcess, 1);
  WaitForSingleObject(process.hProcess, kStopWaitMs);
  CloseHandle(process.hProcess);
  return nullptr;
}

// Registers the server's class and ProgID; returns why it could not.
std::string Register() {
  std::string failure;
  const HANDLE process =
      Start(L"\"" + ServerPath() + L"\" /regserver", nullptr, kStartWaitMs, failure);
  if (!process) return failure;
  DWORD code = 1;
  GetExitCodeProcess(process, &code);
  CloseHandle(process);
  return code == 0 ? std::string() : "fake_outlook_server.exe /regserver failed";
}

}  // namespace

FakeOutlookServer::FakeOutlookServer(const FakeServerSetup& setup) {
  static const std::string registered = Register();
  if (!registered.empty()) {
    m_failure = registered;
    return;
  }
  static int serial = 0;
  const std::wstring name = L"DialmendFakeOutlook-" + std::to_wstring(GetCurrentProcessId()) +
                            L"-" + std::to_wstring(++serial);
  const HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, (name + L"-ready").c_str());
  m_quit = CreateEventW(nullptr, TRUE, FALSE, (name + L"-quit").c_str());
  const std::wstring profile(setup.profile.begin(), setup.profile.end());
  const std::wstring command =
      L"\"" + ServerPath() + L"\" --serve " + std::to_wstring(GetCurrentProcessId()) + L" " + name +
      L" " + profile + L" " + std::to_wstring(setup.busy_after) + L" " +
      std::to_wstring(setup.busy_ms) + L" " + (setup.retry_later ? L"1 " : L"0 ") +
      std::to_wstring(setup.exit_at) + L" " + std::to_wstring(setup.hang_at);
  m_process = Start(command, ready, kStartWaitMs, m_failure);
  CloseHandle(ready);
}

FakeOutlookServer::~FakeOutlookServer() {
  if (m_process) {
    // Asked first, so that it takes its class back from COM; killed if it does not end.
    SetEvent(m_quit);
    if (!Ended(kStopWaitMs)) {
      TerminateProcess(m_process, 1);
      WaitForSingleObject(m_process, kStopWaitMs);
    }
    CloseHandle(m_process);
  }
  if (m_quit) CloseHandle(m_quit);
}

bool FakeOutlookServer::Ended(unsigned long wait_ms) const {
  return m_process && WaitForSingleObject(m_process, wait_ms) == WAIT_OBJECT_0;
}

}  // namespace dialmend
