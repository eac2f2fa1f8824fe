#include "stores/carddav/credentials.h"

#include <gtest/gtest.h>

#include <string>

namespace dialmend {
namespace {

struct NetrcRow {
  const char* name;
  const char* netrc;
  const char* host;
  const char* user;
  // "user:password", or empty for no login.
  const char* expected;
};

class NetrcLoginRows : public testing::TestWithParam<NetrcRow> {};

TEST_P(NetrcLoginRows, FindsTheLoginCurlWould) {
  const NetrcRow& row = GetParam();
  const std::optional<Login> login = NetrcLogin(row.netrc, row.host, row.user);
  EXPECT_EQ(login ? login->user + ":" + std::string(login->password.View()) : std::string(),
            row.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, NetrcLoginRows,
    testing::Values(
        NetrcRow{"MachineAndUser", "machine dav.example.org login ann password pw1\n",
                 "dav.example.org", "ann", "ann:pw1"},
        NetrcRow{"HostInAnyCase", "machine DAV.example.org login ann password pw1",
                 "dav.EXAMPLE.org", "ann", "ann:pw1"},
        NetrcRow{"OtherUserOfTheMachine",
                 "machine h login bob password b\nmachine h login ann password a", "h", "ann",
                 "ann:a"},
        NetrcRow{"FirstLoginWhenNoUserIsNamed",
                 "machine h login bob password b\nmachine h login ann password a", "h", "",
                 "bob:b"},
        NetrcRow{"OtherMachineOnly", "machine other login ann password a", "h", "ann", ""},
        NetrcRow{"DefaultAfterMachines",
                 "machine other login ann password a\ndefault login ann password d", "h", "ann",
                 "ann:d"},
        NetrcRow{"NoPassword", "machine h login ann", "h", "ann", ""},
        NetrcRow{"QuotedPasswordWithSpace", "machine h login ann password \"a b\\\"c\"", "h", "ann",
                 "ann:a b\"c"},
        NetrcRow{"MacdefBodySkipped",
                 "macdef init\nmachine h login eve password e\n\nmachine h login ann password a",
                 "h", "", "ann:a"},
        NetrcRow{"Ipv6WithoutBrackets", "machine ::1 login ann password a", "[::1]", "ann",
                 "ann:a"},
        NetrcRow{"Empty", "", "h", "ann", ""}),
    [](const testing::TestParamInfo<NetrcRow>& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace dialmend
