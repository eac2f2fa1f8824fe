#pragma once

// The fake Outlook served by a process of its own (fake_outlook_server.exe, built beside the
// tests), so that every call crosses a process boundary as calls to a real Outlook do.

// The other Windows headers need what windows.h declares first.
#include <windows.h>

#include <string>

namespace dialmend {

// The ProgID and class under which the server registers.
inline constexpr wchar_t kFakeOutlookProgId[] = L"Dialmend.FakeOutlook";
inline constexpr wchar_t kFakeOutlookClsid[] = L"{9c5cd6cb-367f-4bb9-95cc-2c966a7270b7}";

// What the server is asked to do; its command line carries it.
struct FakeServerSetup {
  // "contract": the profile of the store contract; "contract-items": the same in an Outlook
  // without tables; "folders:F:C": F folders of C contacts, each with two old numbers.
  std::string profile = "contract";
  // Once this many calls are accepted, every call that comes in is refused for busy_ms.
  // Negative: never.
  int busy_after = -1;
  unsigned long busy_ms = 0;
  // Refuse as an Outlook busy with work does (SERVERCALL_RETRYLATER) instead of as one with a
  // dialog box open (SERVERCALL_REJECTED).
  bool retry_later = false;
  // The process exits while taking this accepted call, counted from 1; 0: never.
  int exit_at = 0;
  // This accepted call never returns; 0: none.
  int hang_at = 0;
};

// One server process, registered first (once per test program) and started from beside this
// program; stopped when this goes. Every wait for it is bounded.
class FakeOutlookServer {
 public:
  explicit FakeOutlookServer(const FakeServerSetup& setup = {});
  ~FakeOutlookServer();
  FakeOutlookServer(const FakeOutlookServer&) = delete;
  FakeOutlookServer& operator=(const FakeOutlookServer&) = delete;

  // Empty once the server serves its class; else why it does not.
  [[nodiscard]] const std::string& Failure() const { return m_failure; }
  // Asks the server to end, even from inside a call it never answers.
  void Quit() const { SetEvent(m_quit); }
  // Whether the process ends within `wait_ms`.
  [[nodiscard]] bool Ended(unsigned long wait_ms) const;

 private:
  HANDLE m_process = nullptr;
  HANDLE m_quit = nullptr;
  std::string m_failure;
};

}  // namespace dialmend
