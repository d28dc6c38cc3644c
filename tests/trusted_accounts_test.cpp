// The protected folder: what goes into it is the trusted's alone, whoever may write in the
// folder above it.
#include "fixture.h"
#include "trust/trusted_accounts.h"

using namespace fa9test;

namespace {

using ProtectedFolder = SessionTest;

// SYSTEM, the administrators and, when asked, the installing user may put or replace
// anything inside, down to folders made in it; another user may not, though any user may
// write in C:\ above it. A folder already there (anyone may have made it) is refused and
// left as it is.
TEST_F(ProtectedFolder, IsChangedByTheTrustedAloneAndNeverReused) {
    using Token = winsim::Machine::Token;
    const Token user{"S-1-5-21-1004336348-1177238915-682003330-1003", false};
    for (const bool withUser : {true, false}) {
        SCOPED_TRACE(withUser);
        const std::string path = withUser ? "C:\\P" : "C:\\R";
        machine.token = user;
        ASSERT_TRUE(iCreateProtectedFolder(path.c_str(), withUser));
        machine.makeDirs(path + "\\sub");
        const std::pair<Token, bool> writers[] = {{user, withUser},
                                                  {{"S-1-5-21-1004336348-1177238915-682003330-1004", false}, false},
                                                  {{"S-1-5-21-1004336348-1177238915-682003330-1005", true}, true},
                                                  {{winsim::kSidSystem, false}, true}};
        for (const auto& [token, may] : writers) {
            machine.token = token;
            EXPECT_EQ(machine.tokenCanWrite(path + "\\sub\\version.dll"), may) << token.userSid;
        }
    }
    machine.token = user;
    machine.makeDirs("C:\\Q");
    EXPECT_FALSE(iCreateProtectedFolder("C:\\Q", true));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_FALSE(machine.accessList("C:\\Q").has_value());
    EXPECT_FALSE(iCreateProtectedFolder("", false));
    EXPECT_EQ(winsim::openLocalAllocationCount() + winsim::openKernelHandleCount(), 0u);
}

}  // namespace
