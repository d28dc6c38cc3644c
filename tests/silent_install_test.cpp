// SetSilentInstallPropertiesCA: the environment prepared first, then the response file's
// FILE made the target of INSTALLDIR.
#include "actions/exports.h"
#include "fixture.h"

#include <gmock/gmock.h>

using namespace fa9test;

namespace {

const char* kPackageDir = "C:\\Program Files\\FA9 Tools\\";
const char* kRsp = "C:\\rsp\\silent.rsp";

class SilentInstall : public SessionTest {
protected:
    void SetUp() override {
        installRuntime(stringLibrary("en_US"));
        ToolsPath::install(machine, session);
        session.setProperty("TempFolder", kTempFolder);
        session.setProperty("PROP_RSP_PROD", "WOLT_TOOLS");
        session.setProperty("RSP_FILE_PATH", kRsp);
    }
    std::string installDir() const { return session.targetPath("INSTALLDIR").value_or("(no folder)"); }
    std::string path() const { return machine.environment.count("PATH") ? machine.environment.at("PATH") : ""; }
};


// A refused value (whatever the installer's reason) fails the action (1603) with both
// reports, of which the full interface shows only the second. The environment was prepared
// first, whatever came after, and the directory's property follows its target path.
TEST_F(SilentInstall, FileKeywordBecomesTheTargetOfINSTALLDIR) {
    const auto initial = machine.environment;
    session.setProperty("UILevel", "5");
    session.setCostingDone(true);
    const struct {
        const char* rspFile;     // after the PROD line
        const char* installDir;  // the target path afterwards
        std::vector<std::string> log;
    } rows[] = {{"", kPackageDir, {}},
                {"FILE=D:\\Tools\n", "D:\\Tools\\", {}},
                {"FILE=Tools\n", kPackageDir,
                 {"Error: The installation directory given in the response file could not be set (result code 1627). "
                  "Check the keyword FILE in the response file.",
                  "Error: The value \"Tools\\\" is not valid for the keyword FILE. Correct it in the response file and "
                  "run the installation again."}}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.rspFile);
        machine.environment = initial;
        session.setProperty("INSTALLDIR", kPackageDir);
        session.setTargetPath("INSTALLDIR", kPackageDir);
        session.clearLog();
        machine.writeFile(kRsp, std::string("PROD=WOLT_TOOLS\n") + row.rspFile);
        EXPECT_EQ(run(SetSilentInstallPropertiesCA), row.log.empty() ? 0u : 1603u);
        EXPECT_EQ(installDir(), row.installDir);
        EXPECT_EQ(session.property("INSTALLDIR"), row.installDir);
        EXPECT_EQ(log(), logged(row.log));
        EXPECT_EQ(machine.messageBoxes.size(), row.log.empty() ? 0u : 1u);
        EXPECT_EQ(path(), ToolsPath::prepared());
    }
}

TEST_F(SilentInstall, AnEnvironmentFailureEndsTheActionFirst) {
    machine.setComponent(ToolsPath::kProduct, ToolsPath::kComponent, INSTALLSTATE_ABSENT, "");
    session.setTargetPath("INSTALLDIR", kPackageDir);
    machine.writeFile(kRsp, "PROD=WOLT_TOOLS\nFILE=D:\\Tools\n");
    EXPECT_EQ(run(SetSilentInstallPropertiesCA), 1603u);
    EXPECT_THAT(log(), testing::ElementsAre(logged("Error: The installer property ComponentPath could not be read.")));
    EXPECT_EQ(path(), ToolsPath::kOld);
    EXPECT_EQ(installDir(), kPackageDir);
}

}  // namespace
