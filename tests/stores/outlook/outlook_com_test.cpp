#include "stores/outlook/com_dispatch.h"

#include <gtest/gtest.h>

#include <string>

// How the Outlook store waits for a busy Outlook and says what a COM failure means. Run on
// Windows or under wine.

namespace dialmend {
namespace {

TEST(BusyServer, IsWaitedForInStepsUpToThirtySeconds) {
  EXPECT_EQ(RetryDelay(0), kRetryStepMs);
  EXPECT_EQ(RetryDelay(kRetryLimitMs - 1), kRetryStepMs);
  EXPECT_EQ(RetryDelay(kRetryLimitMs), std::nullopt);
  auto* filter = new BusyServerFilter;
  EXPECT_EQ(filter->RetryRejectedCall(nullptr, 500, SERVERCALL_RETRYLATER), kRetryStepMs);
  EXPECT_EQ(filter->RetryRejectedCall(nullptr, 500, SERVERCALL_REJECTED), kRetryStepMs);
  EXPECT_EQ(filter->RetryRejectedCall(nullptr, kRetryLimitMs, SERVERCALL_RETRYLATER),
            static_cast<DWORD>(-1));
  EXPECT_EQ(filter->HandleInComingCall(CALLTYPE_TOPLEVEL, nullptr, 0, nullptr),
            static_cast<DWORD>(SERVERCALL_ISHANDLED));
  EXPECT_EQ(filter->MessagePending(nullptr, 0, PENDINGTYPE_TOPLEVEL),
            static_cast<DWORD>(PENDINGMSG_WAITDEFPROCESS));
  filter->Release();
}

TEST(BusyServer, IsWaitedForNoLongerThanTheStoreWasToldToNorOnceTheWaitIsGivenUp) {
  CallSignals signals;
  auto* filter = new BusyServerFilter(500, &signals);
  EXPECT_EQ(filter->RetryRejectedCall(nullptr, 400, SERVERCALL_REJECTED), kRetryStepMs);
  EXPECT_TRUE(signals.rejected);
  EXPECT_EQ(filter->RetryRejectedCall(nullptr, 500, SERVERCALL_REJECTED), static_cast<DWORD>(-1));
  EXPECT_EQ(filter->MessagePending(nullptr, 5000, PENDINGTYPE_TOPLEVEL),
            static_cast<DWORD>(PENDINGMSG_WAITDEFPROCESS));
  signals.cancel = true;
  EXPECT_EQ(filter->RetryRejectedCall(nullptr, 100, SERVERCALL_REJECTED), static_cast<DWORD>(-1));
  EXPECT_EQ(filter->MessagePending(nullptr, 100, PENDINGTYPE_TOPLEVEL),
            static_cast<DWORD>(PENDINGMSG_CANCELCALL));
  filter->Release();
}

TEST(ComText, NamesFailuresInWords) {
  EXPECT_EQ(FailureText(REGDB_E_CLASSNOTREG), "Outlook is not installed");
  EXPECT_EQ(FailureText(RPC_E_CALL_REJECTED),
            "Outlook stayed busy and did not answer for 30 seconds (a dialog box may be open in "
            "Outlook)");
  EXPECT_NE(FailureText(CO_E_SERVER_EXEC_FAILURE).find("different user or elevation"),
            std::string::npos);
  // An unmapped code still reads as words, from the system or with words around it.
  const std::string text = FailureText(static_cast<HRESULT>(0x80070020));
  EXPECT_NE(text.find_first_of("abcdefghijklmnopqrstuvwxyz"), std::string::npos) << text;
  const std::string unknown = FailureText(static_cast<HRESULT>(0x8004DF0B));
  EXPECT_NE(unknown.find("unexplained"), std::string::npos) << unknown;
  // An exception's wCode counts from 0x80040200.
  EXCEPINFO exception{};
  exception.wCode = 1;
  const std::string counted = FailureText(DISP_E_EXCEPTION, &exception);
  EXPECT_NE(counted.find("0x80040201"), std::string::npos) << counted;
}

TEST(ComText, DescribesAReadFailureAsARead) {
  EXPECT_EQ(FailureText(static_cast<HRESULT>(0x80040102), nullptr, FailureContext::Read),
            "Outlook does not allow it to be read");
  EXCEPINFO exception{};
  exception.scode = E_FAIL;
  exception.bstrDescription = SysAllocString(L"You don't have appropriate permission.");
  EXPECT_EQ(FailureText(DISP_E_EXCEPTION, &exception, FailureContext::Read),
            "you don't have appropriate permission");
  SysFreeString(exception.bstrDescription);
}

TEST(ComText, LowersTheFirstLetterOfEnglishTextAlone) {
  EXPECT_EQ(AsClause("Access is denied.\r\n", true), "access is denied");
  EXPECT_EQ(AsClause("Zugriff verweigert.\r\n", false), "Zugriff verweigert");
  EXPECT_EQ(AsClause("Outlook cannot do this.", true), "Outlook cannot do this");
}

TEST(ComText, KnowsTheServerGoneCodes) {
  for (const HRESULT code :
       {RPC_E_DISCONNECTED, static_cast<HRESULT>(0x80010007), static_cast<HRESULT>(0x80010012),
        static_cast<HRESULT>(0x800706BA), static_cast<HRESULT>(0x800706BE),
        static_cast<HRESULT>(0x800706BF), static_cast<HRESULT>(0x80080008)}) {
    EXPECT_TRUE(IsServerGone(code)) << code;
    EXPECT_EQ(FailureText(code), "Outlook has closed") << code;
  }
  EXPECT_FALSE(IsServerGone(E_FAIL));
}

}  // namespace
}  // namespace dialmend
