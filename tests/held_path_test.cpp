// The gate's table: every consumer of a path that the script, as SYSTEM, runs, reads, copies
// or deletes, against every shape of attack on that path. Each cell names its outcome.
#include "actions/exports.h"
#include "fixture.h"
#include "platform/scoped_handles.h"
#include "runtime/run_folder.h"

#include <gmock/gmock.h>

#include <cctype>
#include <functional>
#include <string>

using namespace fa9test;
using ::testing::StartsWith;

namespace {

enum Shape {  // their initials head the columns of kConsumers
    kTrusted,       // where only the trusted can change it (Program Files; the Installer folder)
    kOpenToUsers,   // below C:\, where every signed-in user may change it
    kLinkOnTheWay,  // a junction above it, leading to a trusted place
    kSwappedAbove,  // the folder above renamed away right after the check
    kShare,         // \\server\share\...
    kLongShare,     // \\?\UNC\server\share\...
    kDotDot,        // a trusted folder followed by ..\ into an open one
    kNotInData,     // the name missing from the action's data
    kNetworkDrive,  // Z:\..., a drive letter of a share
    kNotThere,      // not there yet, below a folder every signed-in user may change
    kUserOwned,     // locked, but owned by a standard user, who may rewrite its list at will
    kHeldAbove,     // the folder above open in another process that shares nothing
    kShapes
};
const char* const kShapeNames[kShapes] = {"trusted",    "open to users", "link on the way", "swapped above",
                                          "share",      "long share",    "dot-dot",         "not in data",
                                          "network drive", "not there",  "user-owned",      "held above"};
const char* kUser = "S-1-5-21-1004336348-1177238915-682003330-1009";
const std::string kRemoteServer = "\\\\server\\share\\";

// Where `trusted` (a folder path ending in a backslash) is named for each shape, and where
// what it names really lies.
struct Place {
    std::string named, real;
};
Place placeFor(Shape shape, const std::string& trusted) {
    const std::string leaf = trusted.substr(trusted.rfind('\\', trusted.size() - 2) + 1);
    switch (shape) {
    case kOpenToUsers:
    case kNotThere: return {"C:\\Open\\" + leaf, "C:\\Open\\" + leaf};
    case kLinkOnTheWay: return {"C:\\Program Files\\Lnk\\" + leaf, trusted};
    case kShare: return {kRemoteServer + leaf, kRemoteServer + leaf};
    case kLongShare: return {"\\\\?\\UNC\\server\\share\\" + leaf, kRemoteServer + leaf};
    case kDotDot: return {"C:\\Windows\\..\\Open\\" + leaf, "C:\\Open\\" + leaf};
    case kNetworkDrive: return {"Z:\\" + leaf, "Z:\\" + leaf};
    default: return {trusted, trusted};
    }
}

// One cell's machine: the package's rows in the installer's copy, the script's run mode.
class GateTable : public SessionTest {
public:
    using SessionTest::machine;
    using SessionTest::session;
    UINT run(UINT(WINAPI* ca)(MSIHANDLE)) { return rc_ = SessionTest::run(ca); }
    void SetUp() override {
        installRuntime(stringLibrary("en_US"));
        putProgramFiles(session, "C:\\Stand-ins");
        writeScriptPackage(session, "{7C1D0A11-57B1-4E60-9A05-3C1E0F0A9700}");
        session.setRunMode(winsim::RunMode::Scheduled);
    }
    // Arranges `shape` for a consumer whose trusted place is `trusted`: `put` puts what it
    // acts on below the real place; returns the path the consumer is handed.
    std::string arrange(Shape shape, const std::string& trusted, const std::function<void(const std::string&)>& put) {
        const Place place = placeFor(shape, trusted);
        const std::string above = trusted.substr(0, trusted.rfind('\\', trusted.size() - 2));
        if (shape == kLinkOnTheWay) machine.makeLink("C:\\Program Files\\Lnk", above);
        if (shape == kNetworkDrive) machine.setDriveType('Z', DRIVE_REMOTE);
        if (shape != kNotThere) put(place.real);
        if (shape == kNotThere) machine.makeDirs("C:\\Open");
        if (shape == kUserOwned) machine.setOwner(place.real, kUser);
        if (shape == kHeldAbove)
            other_.reset(CreateFileA(above.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                     nullptr));
        if (shape == kSwappedAbove) {
            // Another process renames the folder away once the consumer has checked it.
            const std::string folder = trusted.substr(0, trusted.size() - 1);
            const auto swap = [this, folder](const std::string&) {
                if (!renamed_) renamed_ = MoveFileExA(folder.c_str(), (folder + " Gone").c_str(), 0) ? 1 : -1;
            };
            machine.onProcessStart = swap;
            machine.onDirectoryCreated = swap;
        }
        machine.runAsSystem();
        return place.named;
    }
    void data(const std::string& entries) { session.setProperty("CustomActionData", entries); }
    int renamed_ = 0;  // 1: the swap went through, -1: refused
    UINT rc_ = 0;      // the consumer's result
    unique_hfile other_;  // another process's handle
};

void standIn(winsim::Machine& m, const char* program, const std::string& path) {
    m.copyFileIn(std::string(FA9_STANDINS_DIR) + "/" + program, path);
}

// Each consumer as the script runs it: arranges the shape, runs it, tells whether it acted.
bool devenv(GateTable& t, Shape s) {
    const std::string dir = t.arrange(s, "C:\\Program Files\\VS8\\IDE\\", [&](const std::string& real) {
        standIn(t.machine, "devenv", real + "devenv.exe");
        // The program locked, its folder open: a DLL put beside it would load as SYSTEM.
        if (s == kOpenToUsers)
            t.machine.setAccessList(real + "devenv.exe", {winsim::kSidSystem, true,
                                                          {{winsim::kSidSystem, true, false, FILE_ALL_ACCESS}}});
    });
    t.data(s == kNotInData ? "VS90_INSTALLDIR=;REMOVE=" : "VS80_INSTALLDIR=" + dir + ";VS90_INSTALLDIR=;REMOVE=");
    t.run(SetupWOLTTemplateCA);
    return !t.machine.launches().empty();
}
bool machineConfig(GateTable& t, Shape s) {
    const std::string dir = t.arrange(s, "C:\\Program Files\\FA9 Tools\\", [&](const std::string& real) {
        standIn(t.machine, "macconfigchange", real + "bin\\macConfigChange.exe");
    });
    t.data(s == kNotInData ? "FA9_PROGRAM_TIMEOUT=" : "INSTALLDIR=" + dir);
    t.run(RegisterWOLTMachineCfgCA);
    return !t.machine.launches().empty();
}
bool registration(GateTable& t, Shape s) {
    const std::string dir = t.arrange(s, "C:\\Program Files\\FA9 Tools\\", [&](const std::string& real) {
        t.machine.makeDirs(real);
    });
    t.data(std::string(s == kNotInData ? "" : "INSTALLDIR=" + dir + ";") + "CURRENT_PROCESS_DIRECTORY=" +
           kRuntimeDir + ";ProductName=P;DATABASE=" + kScriptPackage);
    t.run(RegisterWOLTKeysCA);
    return !t.machine.launches().empty();
}
bool assemblyCopy(GateTable& t, Shape s) {
    std::string real;
    const std::string dir = t.arrange(s, "C:\\Program Files\\FA9 Server\\", [&](const std::string& r) {
        t.machine.makeDirs(r + "BIN");
        real = r;
    });
    t.data(std::string(s == kNotInData ? "" : "INSTALLDIR=" + dir + ";") + "DATABASE=" + kScriptPackage);
    t.run(CopyVC80AssembliesCA);
    return t.machine.dirExists(real + "BIN\\MICROSOFT.VC80.CRT") && t.renamed_ <= 0;
}
// A program folder below a trusted installation folder, and the assembly folders in it:
// open to users is the CRT assembly folder that was there before the run.
bool servedFolder(GateTable& t, Shape s) {
    const std::string install = "C:\\Program Files\\FA9 Server\\", crt = install + "FUNCTION\\Microsoft.VC80.CRT";
    t.machine.makeDirs("C:\\Program Files\\Elsewhere");
    if (s == kLinkOnTheWay)
        t.machine.makeLink(install + "FUNCTION", "C:\\Program Files\\Elsewhere");
    else
        t.machine.makeDirs(s == kOpenToUsers ? crt : install + "FUNCTION");
    if (s == kUserOwned) t.machine.setOwner(install + "FUNCTION", kUser);
    if (s == kOpenToUsers)
        t.machine.setAccessList(
            crt, {winsim::kSidSystem, false, {{winsim::kSidAuthenticatedUsers, true, true, GENERIC_ALL}}});
    t.machine.runAsSystem();
    t.data("INSTALLDIR=" + install + ";DATABASE=" + kScriptPackage);
    t.run(CopyVC80AssembliesCA);
    return t.machine.fileExists(crt + "\\msvcr80.dll") &&
           !t.machine.dirExists("C:\\Program Files\\Elsewhere\\MICROSOFT.VC80.CRT");
}
// The ..\ form leads to a folder as locked as the Installer folder, but another one.
bool packageCopy(GateTable& t, Shape s) {
    std::string package = t.arrange(s, "C:\\Windows\\Installer\\", [&](const std::string& real) {
        if (real != "C:\\Windows\\Installer\\") t.session.writePackageCopy(real + "5fa9c.msi");
    }) + "5fa9c.msi";
    if (s == kDotDot) {
        package = "C:\\Windows\\Installer\\..\\..\\Program Files\\Installer\\5fa9c.msi";
        t.session.writePackageCopy("C:\\Program Files\\Installer\\5fa9c.msi");
    }
    t.machine.makeDirs("C:\\Program Files\\FA9 Server\\BIN");
    t.data("INSTALLDIR=C:\\Program Files\\FA9 Server\\" + (s == kNotInData ? "" : ";DATABASE=" + package));
    t.run(CopyVC80AssembliesCA);
    return t.machine.dirExists("C:\\Program Files\\FA9 Server\\BIN\\MICROSOFT.VC80.CRT");
}
// A finished program copy in the script's temporary folder, made by SYSTEM with the
// library's own list (trusted), or by a user who left it open, or as a link.
bool sweep(GateTable& t, Shape s) {
    const std::string temp = t.machine.tempDirectory + "\\", copy = temp + "FA9RUN0123456789abcdef";
    t.machine.makeDirs("C:\\Program Files\\Elsewhere");
    t.machine.writeFile("C:\\Program Files\\Elsewhere\\keep.dll", "keep");
    if (s == kLinkOnTheWay)
        t.machine.makeLink(copy, "C:\\Program Files\\Elsewhere");
    else
        t.machine.writeFile(copy + "\\commontoolreg.exe", "old copy");
    if (s == kOpenToUsers)
        t.machine.setAccessList(copy, {winsim::kSidSystem, false, {{winsim::kSidUsers, true, true, GENERIC_ALL}}});
    else if (s != kLinkOnTheWay)
        t.machine.setAccessList(copy, {winsim::kSidSystem, true, {{winsim::kSidSystem, true, true, GENERIC_ALL}}});
    t.machine.writeFile(copy + ".live", "");
    if (s == kUserOwned) t.machine.setOwner(copy + ".live", kUser);  // a user's lookalike
    t.machine.runAsSystem();
    iSweepFinishedRunFolders(t.machine.tempDirectory.c_str(), "FA9RUN");
    EXPECT_TRUE(t.machine.fileExists("C:\\Program Files\\Elsewhere\\keep.dll"));
    return !t.machine.fileExists(copy + ".live");
}
// The copies are marked for the restart only where no folder above the installation
// folder can be changed by others: C:\Tools below C:\ can, C:\Tools\WOLT is locked.
bool restartMarks(GateTable& t, Shape s) {
    const std::string install = s == kOpenToUsers ? "C:\\Tools\\WOLT\\" : "C:\\Program Files\\FA9 Server\\";
    t.machine.makeDirs(install + "BIN");
    t.machine.setAccessList(install, {winsim::kSidAdministrators, true,
                                      {{winsim::kSidSystem, true, true, FILE_ALL_ACCESS},
                                       {winsim::kSidAdministrators, true, true, FILE_ALL_ACCESS}}});
    // A file in a served copy that this run does not write is never marked.
    t.machine.writeFile(install + "BIN\\Microsoft.VC80.CRT\\extra.dll", "someone's");
    t.machine.runAsSystem();
    t.data("INSTALLDIR=" + install + ";DATABASE=" + kScriptPackage);
    t.run(CopyVC80AssembliesCA);
    const std::vector<std::string> pending = winsim::pendingFileOperations(t.machine);
    for (const std::string& op : pending) EXPECT_EQ(op.find("extra.dll"), std::string::npos);
    EXPECT_TRUE(t.machine.fileExists(install + "BIN\\Microsoft.VC80.CRT\\msvcr80.dll"));
    return !pending.empty();
}

// Each consumer's outcome for each shape, in the order of Shape: D done (it acted); refused,
// the message naming the place: R others may change it (7114), K a link (7117), F not on a
// local fixed drive (7118), M not there (7119); S skipped (7112 names the link), N not in
// data (7115 names the property), L left silently (as the sweep leaves what is not its
// own), U copies made but unmarked for the restart (7116), - no path of that shape.
// A capital letter other than D stops the installation (1603); a small one lets it go on.
const struct {
    const char* name;
    bool (*run)(GateTable&, Shape);
    const char* cells;  // one letter a shape, blank-separated
} kConsumers[] = {
    //                                                   t o l s S L d n N x u h
    // The other IDE's run goes on.
    {"devenv.exe", devenv,                              "D r k D f f r n f l r m"},
    {"macConfigChange.exe", machineConfig,              "D R K D F F R N F L R M"},
    {"INSTALLDIR for commontoolreg.exe", registration,  "D R K D F F R N F M R M"},
    {"VC80 copy", assemblyCopy,                         "D R K D F F R N F l R M"},
    // The package copy must lie directly in the Installer folder: anything else is refused
    // before a byte of it is read.
    {"package copy", packageCopy,                       "D N N D N N N N N N N N"},
    // Named below a trusted installation folder, not given by a path.
    {"served folder", servedFolder,                     "D r s - - - - - - - r -"},
    // The copies' parent is the script's own temporary folder, not a path anyone hands it.
    {"sweep", sweep,                                    "D l l - - - - - - - l -"},
    {"restart marks", restartMarks,                     "D u - - - - - - - - - -"},
};

bool logHas(const std::vector<std::string>& log, const char* text) {
    for (const std::string& line : log)
        if (line.find(text) != std::string::npos) return true;
    return false;
}
const char* kRefusedText = "can be changed by users other than administrators, so the installation does not run";

TEST(Gate, EveryConsumerAgainstEveryShape) {
    for (const auto& consumer : kConsumers) {
        for (int shape = 0; shape < kShapes; ++shape) {
            const char letter = consumer.cells[2 * shape];
            if (letter == '-') continue;
            const char expected = static_cast<char>(std::toupper(letter));
            SCOPED_TRACE(std::string(consumer.name) + " / " + kShapeNames[shape]);
            Fresh<GateTable> cell;
            const bool acted = consumer.run(cell, static_cast<Shape>(shape));
            const std::vector<std::string> log = cell.session.logLines();
            EXPECT_EQ(acted, expected == 'D');
            EXPECT_EQ(cell.rc_, expected != 'D' && std::isupper(letter) ? 1603u : 0u);
            EXPECT_EQ(logHas(log, "points elsewhere and was skipped"), expected == 'S');
            EXPECT_EQ(logHas(log, kRefusedText), expected == 'R');
            EXPECT_EQ(logHas(log, "that leads to another place, so the installation does not run"), expected == 'K');
            EXPECT_EQ(logHas(log, "is not on a local fixed drive of this computer"), expected == 'F');
            EXPECT_EQ(logHas(log, "is missing or cannot be opened to be checked"), expected == 'M');
            EXPECT_EQ(logHas(log, "The installation package's record of "), expected == 'N');
            EXPECT_EQ(logHas(log, "are not marked for deletion at the next restart"), expected == 'U');
            if (shape == kShare || shape == kLongShare || shape == kNetworkDrive) {
                EXPECT_EQ(cell.machine.remoteTouches(), 0u);
            }
            if (shape == kSwappedAbove) { EXPECT_EQ(cell.renamed_, -1) << "held folders cannot be renamed"; }
        }
    }
}

}  // namespace

// A standard user's own run acts for no one else: it is held, not checked, and copies onto
// a share as onto a local folder.
TEST(Gate, AStandardUsersOwnCopyGoesOntoAShare) {
    Fresh<GateTable> cell;
    cell.session.setRunMode(winsim::RunMode::Immediate);
    cell.machine.token = {kUser, false};
    cell.machine.makeDirs(kRemoteServer + "FA9\\BIN");
    cell.session.setProperty("INSTALLDIR", kRemoteServer + "FA9\\");
    EXPECT_EQ(cell.run(CopyVC80AssembliesCA), 0u);
    EXPECT_EQ(cell.machine.readFile(kRemoteServer + "FA9\\BIN\\MICROSOFT.VC80.CRT\\msvcr80.dll"),
              "assembly file msvcr80.dll");
    EXPECT_THAT(cell.session.logLines(), ::testing::IsEmpty());
}

// Where the script runs macConfigChange.exe from, beyond the table's shapes: a folder the
// administrators locked below C:\ is trusted; a program that others may change is not.
TEST(Gate, TheProgramsFolderAndFileAccessLists) {
    const std::string locked = "C:\\Tools\\FA9\\", tools = "C:\\Program Files\\FA9 Tools\\";
    const struct {
        const char* label;
        std::string dir;
        std::function<void(winsim::Machine&)> arrange;
        std::string refusal;  // the place the refusal names and why; "": the program runs
    } rows[] = {
        // As an administrator would lock it, shutting one user out entirely.
        {"locked below C:\\", locked,
         [&](winsim::Machine& m) {
             m.setAccessList(locked, {winsim::kSidAdministrators, true,
                                      {{kUser, false, true, GENERIC_ALL},
                                       {winsim::kSidSystem, true, true, FILE_ALL_ACCESS},
                                       {winsim::kSidAdministrators, true, true, FILE_ALL_ACCESS},
                                       {winsim::kSidUsers, true, true, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE}}});
         },
         ""},
        {"program writable by users", tools,
         [&](winsim::Machine& m) {
             m.setAccessList(tools + "bin\\macConfigChange.exe",
                             {"", false, {{winsim::kSidUsers, true, false, FILE_GENERIC_WRITE}}});
         },
         tools + "bin\\macConfigChange.exe " + kRefusedText},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        Fresh<GateTable> t;
        standIn(t.machine, "macconfigchange", row.dir + "bin\\macConfigChange.exe");
        t.data("INSTALLDIR=" + row.dir);
        t.machine.runAsSystem();
        row.arrange(t.machine);
        EXPECT_EQ(t.run(RegisterWOLTMachineCfgCA), row.refusal.empty() ? 0u : 1603u);
        EXPECT_EQ(t.machine.launches().size(), row.refusal.empty() ? 1u : 0u);
        if (!row.refusal.empty()) { EXPECT_THAT(t.log(), ::testing::Contains(StartsWith("1: Error: " + row.refusal))); }
    }
}
