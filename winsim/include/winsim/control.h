// The control face of the simulated Windows, for tests: build a machine and an
// installer session on it, run a custom action, read back what it did.
//
// One Machine exists at a time; the Win32 face acts on it (Machine::current()).
// Paths on the control face are Windows paths ("C:\\Temp\\x.dll"); registry paths
// are physical (a 32-bit view's key is written with its WOW6432Node part).
#pragma once

#include "winsim/win32_api.h"

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace winsim {

// Case-insensitive ordering for registry names, property tables keyed as Windows keys them.
struct NoCaseLess {
    bool operator()(const std::string& a, const std::string& b) const;
};
bool equalsNoCase(const std::string& a, const std::string& b);

// An access list: its entries, and its owner. Only the entries whose rights include
// writing (create inside, change, delete, change the list or the owner) decide the write
// checks; reading is open. An object without a list of its own takes the inheritable
// entries of its parent's; a protected list takes nothing from above. A drive's root or a
// hive without a list lets everyone write.
struct WriteEntry {
    std::string sid;
    bool allow = true;
    bool inheritable = true;  // passed on to what is created inside (OI/CI)
    DWORD rights = GENERIC_ALL;
    bool inheritOnly = false;  // IO: passed on only, no right on the object itself
};
struct AccessList {
    std::string owner;
    bool isProtected = false;
    std::vector<WriteEntry> entries;
};
// Well-known SIDs.
inline const char kSidSystem[] = "S-1-5-18";
inline const char kSidAdministrators[] = "S-1-5-32-544";
inline const char kSidUsers[] = "S-1-5-32-545";
inline const char kSidEveryone[] = "S-1-1-0";
inline const char kSidAuthenticatedUsers[] = "S-1-5-11";
inline const char kSidCreatorOwner[] = "S-1-3-0";
inline const char kSidTrustedInstaller[] = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
// The entries that make up an object's list on Windows: its own, then those it inherits
// (inheritance-only cleared but for CREATOR OWNER, `inherited` set). `chain` is the object's own list first,
// then its parent's, up to the root (null: no list of its own).
struct EffectiveEntry {
    WriteEntry entry;
    bool inherited = false;
};
std::vector<EffectiveEntry> effectiveEntries(const std::vector<const AccessList*>& chain);
// Whether a token with these SIDs may write under the effective list of `chain`.
bool writeAllowed(const std::vector<const AccessList*>& chain, const std::vector<std::string>& sids);

enum class Hive { ClassesRoot, CurrentUser, LocalMachine, Users };

struct RegValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

class Registry {
public:
    Registry();
    ~Registry();
    Registry(const Registry&) = delete;
    Registry& operator=(const Registry&) = delete;

    // Seeding and inspection; paths are physical and case-insensitive, "A\\B\\C".
    void createKey(Hive hive, const std::string& path);
    void setValue(Hive hive, const std::string& path, const std::string& name, DWORD type,
                  const std::vector<BYTE>& data);
    // Stores the text with its terminator, as RegSetValueExA callers do.
    void setString(Hive hive, const std::string& path, const std::string& name, const std::string& value,
                   DWORD type = REG_SZ);
    void setDword(Hive hive, const std::string& path, const std::string& name, DWORD value);
    std::optional<RegValue> value(Hive hive, const std::string& path, const std::string& name) const;
    // The value's text up to its first terminator; nullopt when the value is missing.
    std::optional<std::string> getString(Hive hive, const std::string& path, const std::string& name) const;
    bool keyExists(Hive hive, const std::string& path) const;
    std::vector<std::string> subkeys(Hive hive, const std::string& path) const;
    std::vector<std::string> valueNames(Hive hive, const std::string& path) const;
    void deleteKey(Hive hive, const std::string& path);

    // Faults: every open or create of exactly this key fails with `code`.
    void failOpen(Hive hive, const std::string& path, LONG code);
    // Opens and creates of this key that ask for any write access get ERROR_ACCESS_DENIED,
    // and so do writes through a handle opened for reading only.
    void denyWrite(Hive hive, const std::string& path);
    // A key's own access list (Machine::AccessList rules, checked against the machine's
    // token on every open or create for writing).
    void setAccessList(Hive hive, const std::string& path, const AccessList& list);
    void clearFaults();

    // Key handles opened through the Win32 face and not closed yet (predefined keys aside).
    size_t openHandleCount() const;

    struct Impl;
    Impl& impl() { return *impl_; }

private:
    std::unique_ptr<Impl> impl_;
};

struct MessageBoxCall {
    HWND owner = nullptr;
    std::string text;
    std::string caption;
    UINT style = 0;
    int answer = 0;
};

class Machine {
public:
    Machine();
    ~Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    // The machine the Win32 face acts on; aborts when none exists.
    static Machine& current();
    static Machine* currentOrNull();

    Registry& registry() { return registry_; }

    // ---- file system: drive letters and other machines' shares under a temporary host folder ----
    // Drive X: is the host folder <root>/X; \\server\share\... (also written \\?\UNC\server\share\...)
    // is <root>/UNC/server/share/..., so a test makes a share by making a folder on it.
    // \\?\C:\x is C:\x; the rest of the device namespace holds nothing.
    const std::string& hostRoot() const { return root_; }
    // Maps a Windows path (absolute, or relative to the current directory) to the host
    // path; existing components are matched without regard to case.
    std::string hostPath(const std::string& winPath) const;
    // Absolute Windows path, "." and ".." folded, a \\?\ prefix before a drive or share dropped.
    std::string fullPath(const std::string& winPath) const;
    void makeDirs(const std::string& winPath);
    void writeFile(const std::string& winPath, const std::string& bytes);
    void copyFileIn(const std::string& hostSource, const std::string& winPath);
    std::string readFile(const std::string& winPath) const;
    bool fileExists(const std::string& winPath) const;
    bool dirExists(const std::string& winPath) const;
    // A reparse point (a junction or symbolic link) at `linkPath` leading to `target`,
    // modelled by a host symbolic link; FindFirstFileA and GetFileAttributesA show it
    // with FILE_ATTRIBUTE_REPARSE_POINT.
    void makeLink(const std::string& linkPath, const std::string& target);
    // Room left on the volume of a drive letter: writes and copies that do not fit fail
    // with ERROR_DISK_FULL, deleted files give their room back. A volume has no limit
    // until a test sets one.
    void setVolumeFreeSpace(char drive, unsigned long long bytes);
    std::optional<unsigned long long> volumeFreeSpace(char drive) const;
    // What GetDriveTypeA answers for a drive's root: DRIVE_FIXED for a drive the machine
    // has (C:, and any letter a file or folder was made on), DRIVE_NO_ROOT_DIR for one it
    // has not, else what a test set (DRIVE_REMOVABLE, DRIVE_REMOTE, DRIVE_CDROM, ...;
    // setting a type other than DRIVE_NO_ROOT_DIR or DRIVE_UNKNOWN makes the drive exist).
    void setDriveType(char letter, UINT type);
    UINT driveType(char letter) const;
    // Whether the path lies on another machine: a share, or a drive whose type is DRIVE_REMOTE.
    bool isRemote(const std::string& winPath) const;
    // File-system calls of the Win32 face made on a path on another machine, each of which
    // would reach that server (and authenticate to it) on Windows: every call that names
    // such a path (opening, creating, attributes, listing, security by name, copy, move,
    // delete, short and long names, a loader's or CreateProcessA's probe of a file there,
    // GetDriveTypeA of a share's root). GetFullPathNameA, which touches nothing, and calls
    // through a handle already opened are not counted; neither is the control face.
    size_t remoteTouches() const;
    // Called by the Win32 face for each file-system call on `winPath`: counted when remote.
    void noteFileSystemCall(const std::string& winPath);
    std::string currentDirectory() const;
    void setCurrentDirectory(const std::string& winPath);

    // ---- system settings ----
    UINT ansiCodePage = 1252;
    LANGID systemLanguage = 0x0409;
    // The library ships as a 32-bit DLL, so by default it runs as a 32-bit process
    // on 64-bit Windows and sees the 32-bit registry view.
    bool wow64Process = true;
    // No new thread can be started (CreateThread and _beginthreadex fail as when the
    // process is out of memory).
    bool threadsFail = false;
    std::string systemDirectory = "C:\\Windows\\System32";
    std::string tempDirectory = "C:\\Users\\setup\\AppData\\Local\\Temp";

    // ---- environment (names without regard to case) ----
    std::map<std::string, std::string, NoCaseLess> environment;

    // ---- user32 ----
    std::vector<MessageBoxCall> messageBoxes;
    // Scripted answers, taken in order; when none is left a box answers with its first button.
    std::deque<int> messageBoxAnswers;
    HWND foregroundWindow = reinterpret_cast<HWND>(0x10010);
    std::vector<std::string> debugOutput;

    // ---- installed components, as MsiGetComponentPath reports them ----
    struct ComponentState {
        INSTALLSTATE state = INSTALLSTATE_UNKNOWN;
        std::string path;
    };
    // Keyed by product code and component code, without regard to case.
    void setComponent(const std::string& product, const std::string& component, INSTALLSTATE state,
                      const std::string& path);
    std::optional<ComponentState> component(const std::string& product, const std::string& component) const;

    // ---- installed products, as MsiEnumPatchesA and MsiGetProductInfoA("Transforms") report them ----
    struct ProductRegistration {
        std::vector<std::string> patches;  // the applied patches' codes, in order
        std::string transforms;            // the registered transforms, ';'-separated
    };
    // Keyed by product code without regard to case; an unregistered product is unknown.
    void setProduct(const std::string& product, ProductRegistration registration);
    std::optional<ProductRegistration> product(const std::string& product) const;

    // ---- modules ----
    // A host implementation for the exports of a DLL: GetProcAddress on a module with this
    // base name returns these functions, for names the PE file really exports.
    void registerNativeModule(const std::string& baseName, std::map<std::string, FARPROC> exports);
    const std::map<std::string, FARPROC>* nativeExports(const std::string& baseName) const;
    std::vector<std::string> loadedModules() const;  // full Windows paths, in load order
    // Libraries mapped as data only (LoadLibraryExA), full Windows paths, in load order.
    std::vector<std::string> dataFileModules() const;
    // Libraries whose entry point ran because they were loaded as code, in order.
    std::vector<std::string> entryPointsRun() const;

    struct ModuleTable;
    ModuleTable& modules() { return *modules_; }

    std::recursive_mutex& lock() { return lock_; }

    // What GetVersionExA reports (Windows XP SP3 unless a test says otherwise).
    OSVERSIONINFOA version = {sizeof(OSVERSIONINFOA), 5, 1, 2600, VER_PLATFORM_WIN32_NT, "Service Pack 3"};
    // Windows created with CreateWindowExA that still exist (class names), for tests.
    std::vector<std::string> openWindowClasses() const;

    // Standard input, output and error of the process (GetStdHandle/SetStdHandle). A
    // custom-action server has no console: all three start as null.
    HANDLE standardHandles[3] = {nullptr, nullptr, nullptr};

    // Processes started with CreateProcessA, in order: what the child was given.
    struct ProcessLaunch {
        std::string commandLine;     // as passed
        std::string program;         // the Windows path of the program that ran
        std::vector<std::string> arguments;  // argv as the child's C runtime splits it
        std::string currentDirectory;
    };
    std::vector<ProcessLaunch> launches() const;
    void recordLaunch(ProcessLaunch launch);

    // ---- security: the token the process runs as, owners and write lists ----
    // The user SID and groups of the process token. SYSTEM ("S-1-5-18") is a member of
    // the Administrators group, as on Windows.
    struct Token {
        std::string userSid = "S-1-5-21-1004336348-1177238915-682003330-1001";
        bool administrator = true;
    };
    Token token;
    void runAsSystem() { token = Token{"S-1-5-18", true}; }
    // The SIDs an access check matches for the token: the user, Everyone, Authenticated
    // Users, Users, and Administrators for an administrator.
    std::vector<std::string> tokenSids() const;
    // The owner new objects get from this token: Administrators for an administrator.
    std::string defaultOwner() const;

    // Files and folders, by Windows path without regard to case. A new machine's C:\,
    // Program Files, Program Files (x86) and Windows folders carry the lists Windows gives
    // them: any signed-in user may make folders in the root and change what is made there,
    // only TrustedInstaller, SYSTEM and Administrators may change the other three.
    // A path through a link names what the link leads to, as the named calls
    // (GetNamedSecurityInfoA) follow it; with `linkItself` a link at the path's last name
    // is meant itself, as a handle opened with FILE_FLAG_OPEN_REPARSE_POINT holds it
    // (GetSecurityInfo). A link's own owner is SYSTEM until a test sets it.
    void setAccessList(const std::string& winPath, AccessList list, bool linkItself = false);
    std::optional<AccessList> accessList(const std::string& winPath) const;  // its own list only
    std::optional<std::string> owner(const std::string& winPath, bool linkItself = false) const;
    void setOwner(const std::string& winPath, const std::string& sid, bool linkItself = false);
    // Whether the token may write the file or folder (an existing one), or create it (a
    // missing one: its folder decides).
    bool tokenCanWrite(const std::string& winPath) const;
    // The entries of the file's or folder's list as its security descriptor shows them.
    std::vector<EffectiveEntry> effectiveAccessList(const std::string& winPath, bool linkItself = false) const;
    // Objects removed lose what was recorded for them; a renamed one (a link: itself) takes
    // its own and what is recorded below it to its new name, as Windows keeps security
    // with the object.
    void forgetSecurity(const std::string& winPath);
    void moveSecurity(const std::string& fromPath, const std::string& toPath);
    // Another process of the machine acting right after CreateDirectoryA made a folder
    // (the full Windows path): what a race with the installation would give.
    std::function<void(const std::string& winPath)> onDirectoryCreated;
    // Another process acting right before CreateProcessA looks for the program of this
    // command line: what a race with a check made before the start would give.
    std::function<void(const std::string& commandLine)> onProcessStart;

private:
    std::string root_;
    std::string currentDir_;
    Registry registry_;
    std::map<std::string, std::map<std::string, FARPROC>, NoCaseLess> native_;
    std::map<std::string, ComponentState, NoCaseLess> components_;
    std::map<std::string, ProductRegistration, NoCaseLess> products_;
    std::unique_ptr<ModuleTable> modules_;
    std::vector<ProcessLaunch> launches_;
    std::map<std::string, AccessList, NoCaseLess> accessLists_;
    // The full path without a trailing backslash: a folder's key for lists and owners.
    std::string securityKey(const std::string& winPath, bool linkItself = false) const;
    // The lists that decide for the object of this key: its own first, then its folders'
    // (null: none of its own). Called with lock_ held.
    std::vector<const AccessList*> accessChain(std::string key) const;
    std::map<std::string, std::string, NoCaseLess> owners_;
    std::map<char, unsigned long long> volumeFree_;
    std::map<char, UINT> driveTypes_;
    size_t remoteTouches_ = 0;
    mutable std::recursive_mutex lock_;
};

// One cell of a package table: null, text, integer or a binary stream.
struct Cell {
    enum class Kind { Null, Text, Int, Stream } kind = Kind::Null;
    std::string text;  // also the bytes of a stream
    int number = 0;
    static Cell null() { return Cell(); }
    static Cell str(std::string t) { return Cell{Kind::Text, std::move(t), 0}; }
    static Cell integer(int v) { return Cell{Kind::Int, std::string(), v}; }
    static Cell stream(std::string bytes) { return Cell{Kind::Stream, std::move(bytes), 0}; }
};

// The package's tables, as the active database shows them to a custom action.
class Database {
public:
    void createTable(const std::string& name, std::vector<std::string> columns);
    void insertRow(const std::string& table, std::vector<Cell> row);
    bool hasTable(const std::string& name) const { return tables_.count(name) != 0; }
    const std::vector<std::string>& columns(const std::string& table) const { return tables_.at(table).columns; }
    const std::vector<std::vector<Cell>>& rows(const std::string& table) const { return tables_.at(table).rows; }
    std::vector<std::vector<Cell>>& rows(const std::string& table) { return tables_.at(table).rows; }

    // A Binary row: Name and its Data stream.
    void addBinary(const std::string& name, const std::string& bytes);

    // Faults: executing a view on this table fails with `code`.
    void failExecute(const std::string& table, UINT code) { executeFaults_[table] = code; }
    std::optional<UINT> executeFault(const std::string& table) const;

    // False: MsiGetActiveDatabase answers 0.
    bool available = true;

private:
    struct Table {
        std::vector<std::string> columns;
        std::vector<std::vector<Cell>> rows;
    };
    std::map<std::string, Table> tables_;
    std::map<std::string, UINT> executeFaults_;
};

enum class RunMode { Immediate, Scheduled, Rollback, Commit };

struct LogEntry {
    INSTALLMESSAGE type = INSTALLMESSAGE_INFO;
    std::string line;  // the text as the installer log shows it
};

// A box the installer itself showed for an error, warning or user message.
struct InstallerBox {
    INSTALLMESSAGE kind = INSTALLMESSAGE_ERROR;
    std::string text;
    UINT buttons = MB_OK;  // MB_TYPEMASK bits of the message type
    UINT icon = 0;         // MB_ICONMASK bits
    int answer = 0;
};

class Session {
public:
    explicit Session(Machine& machine);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    MSIHANDLE handle() const { return handle_; }
    Machine& machine() { return machine_; }

    // Properties are case-sensitive, as the installer keeps them.
    void setProperty(const std::string& name, const std::string& value);
    void removeProperty(const std::string& name);
    std::string property(const std::string& name) const;
    bool hasProperty(const std::string& name) const;
    const std::map<std::string, std::string>& properties() const { return properties_; }

    // In scheduled, rollback and commit mode the installer offers only these three.
    void setRunMode(RunMode mode) { mode_ = mode; }
    RunMode runMode() const { return mode_; }

    // Faults: MsiGetPropertyA of this name returns `code` and leaves the buffer alone
    // (code 0 takes the fault away).
    void failGetProperty(const std::string& name, UINT code) {
        if (code)
            getFaults_[name] = code;
        else
            getFaults_.erase(name);
    }
    // Faults: MsiSetPropertyA of this name returns `code` and changes nothing.
    void failSetProperty(const std::string& name, UINT code) { setFaults_[name] = code; }
    std::optional<UINT> setFault(const std::string& name) const;

    Database& database() { return database_; }
    // Writes the installer's copy of the package at this Windows path: a compound file
    // holding a "Binary.<Name>" stream for each Binary row with data, the string pool,
    // _Columns, the database's Property table with the session's ProductCode in place of
    // its own, and its CustomAction table (winsim/package_copy.h), as they are now: rows
    // added later are the session's alone, as a transform's are. Changes nothing else: a
    // test sets DATABASE (or the action data) to the path itself.
    void writePackageCopy(const std::string& winPath);

    // Feature states as MsiGetFeatureStateA reports them: installed state and action.
    void setFeatureState(const std::string& feature, INSTALLSTATE installed, INSTALLSTATE action) {
        features_[feature] = {installed, action};
    }
    const std::map<std::string, std::pair<INSTALLSTATE, INSTALLSTATE>>& featureStates() const { return features_; }
    // Component states as MsiGetComponentStateA reports them (immediate mode only).
    void setComponentState(const std::string& component, INSTALLSTATE installed, INSTALLSTATE action) {
        componentStates_[component] = {installed, action};
    }
    const std::map<std::string, std::pair<INSTALLSTATE, INSTALLSTATE>>& componentStates() const {
        return componentStates_;
    }

    // Target paths of the Directory table's folders (MsiGetTargetPathA/MsiSetTargetPathA).
    // Costing must be finished before a target path can be set.
    void setTargetPath(const std::string& folder, const std::string& path) { targetPaths_[folder] = path; }
    std::optional<std::string> targetPath(const std::string& folder) const {
        auto it = targetPaths_.find(folder);
        return it == targetPaths_.end() ? std::nullopt : std::optional<std::string>(it->second);
    }
    void setCostingDone(bool done) { costingDone_ = done; }
    bool costingDone() const { return costingDone_; }

    const std::vector<LogEntry>& log() const { return log_; }
    std::vector<std::string> logLines() const;
    void clearLog() { log_.clear(); }
    void appendLog(INSTALLMESSAGE type, const std::string& line) { log_.push_back({type, line}); }

    // Runs a custom action with this session's handle, as the installer would.
    UINT run(UINT(WINAPI* customAction)(MSIHANDLE));

    // The installer's user-interface level, as its UILevel property gives it (the
    // installer knows it in every run mode, even where custom actions cannot read the
    // property); 5, the full interface, when the property is not set.
    int uiLevel() const;
    // Error, warning and user messages the installer showed as boxes, in order.
    std::vector<InstallerBox> installerBoxes;
    // Scripted answers, taken in order; when none is left a box answers with its first button.
    std::deque<int> installerBoxAnswers;

    std::optional<UINT> getFault(const std::string& name) const;
    bool offersProperty(const std::string& name) const;

    // Calls the custom action made to the installer through this session: the session's
    // own functions, the database and its views, and each read of a fetched row's stream.
    // Each is a round trip from the custom-action server to the installer.
    size_t installerCalls() const { return installerCalls_; }
    void resetInstallerCalls() { installerCalls_ = 0; }
    void countInstallerCall() { ++installerCalls_; }

private:
    Machine& machine_;
    MSIHANDLE handle_ = 0;
    RunMode mode_ = RunMode::Immediate;
    std::map<std::string, std::string> properties_;
    std::map<std::string, UINT> getFaults_;
    std::map<std::string, UINT> setFaults_;
    std::vector<LogEntry> log_;
    Database database_;
    std::map<std::string, std::pair<INSTALLSTATE, INSTALLSTATE>> features_;
    std::map<std::string, std::pair<INSTALLSTATE, INSTALLSTATE>> componentStates_;
    std::map<std::string, std::string> targetPaths_;
    bool costingDone_ = true;
    size_t installerCalls_ = 0;
};

// The Session Manager's PendingFileRenameOperations as a list of strings: pairs of a
// "\??\" path and its new name, "" for a delete at the next restart.
std::vector<std::string> pendingFileOperations(const Machine& machine);

// A command line split into arguments the way the C runtime of a Windows program
// splits it (quotes, backslashes before quotes, doubled quotes inside quotes).
std::vector<std::string> splitCommandLine(const std::string& line);

// Number of MSI handles open right now (records, sessions, ...): tests check that a
// custom action closes what it opens.
size_t openMsiHandleCount();
// Number of kernel handles (files, ...) open right now.
size_t openKernelHandleCount();
// What Windows does to the handles of a process that ends, however it ends (a killed
// custom-action server included): every kernel handle is closed. A machine's process
// ends with the machine.
void closeAllKernelHandles();
// Blocks the security calls handed out (descriptors, SID strings) not yet given to LocalFree.
size_t openLocalAllocationCount();

}  // namespace winsim
