#include "runtime/assembly_copy.h"
#include "runtime/program_copy.h"
#include "runtime/run_folder.h"

#include "frame/file_attributes.h"
#include "frame/install_log.h"
#include "frame/message_strings.h"
#include "frame/msg_token_holder.h"
#include "frame/ure.h"
#include "frame/ure_info.h"
#include "platform/bounded.h"
#include "session/property_access.h"
#include "trust/held_path.h"
#include "trust/trusted_accounts.h"

#include <cstring>
#include <deque>
#include <string>
#include <vector>

namespace {

const size_t kPathCapacity = 261;
const int kTooLong = 5053;
const int kDeepest = 32;  // deeper than any assembly
const char* const kInstallDirProperty = "INSTALLDIR.2BC48F01_561E_4906_8321_946A9F5A90AA";

// The program folders below the installation folder, in the order they are served.
const char* const kProgramFolders[] = {
    "BIN",
    "BIN\\routine",
    "dasfcn",
    "FUNCTION",
    "FUNCTION\\unfenced",
    "security\\Plugin\\ZNK\\client",
    "security\\Plugin\\ZNK\\group",
    "security\\Plugin\\ZNK\\server",
    "doc\\bin",
    nullptr,
};

bool isDotEntry(const char* name) { return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0; }

void warn(const char* function, int probe, uint32_t message, const char* place) {
    MsgTokenHolder tokens(place);
    ureReport(URE_LOG_WARNING, function, probe, 0, message, &tokens, 0, true);
}

// What the gate refused below the installation folder is skipped, copy and delete alike:
// a link is named (it leads out of the tree, where whoever may write below the folder
// could point it), so is a folder others may change (they could swap what programs load);
// one that is not there or cannot be opened takes nothing, silently.
void warnRefused(const char* function, int probe, Gate gate, const HeldPath& place) {
    if (gate == Gate::Link || gate == Gate::Elsewhere) warn(function, probe, 7112, place.refused());
    if (gate == Gate::OpenToOthers) warn(function, probe, 7114, place.refused());
}

// `path` without its double quotes, cut to fit.
void unquote(char (&out)[kPathCapacity], const char* path) {
    size_t n = 0;
    for (const char* p = path; *p && n + 1 < kPathCapacity; ++p)
        if (*p != '"') out[n++] = *p;
    out[n] = '\0';
}

// Full path, upper-cased (characters as the C runtime's locale tells them apart) when `upper`,
// without a final backslash. False when it does not fit.
bool normalised(const char* path, char* out, bool upper) {
    char plain[kPathCapacity], full[kPathCapacity] = {};
    unquote(plain, path);
    const DWORD n = GetFullPathNameA(plain, static_cast<DWORD>(kPathCapacity), full, nullptr);
    if (n == 0 || n >= kPathCapacity) return false;
    if (upper) iUpperCasePath(full);
    size_t length = std::strlen(full);
    while (length > 3 && full[length - 1] == '\\') full[--length] = '\0';
    return fa9::copyText(out, kPathCapacity, full);
}

// A file (never a folder or a link) in the way of a folder to be made goes, through its handle.
void clearWay(const char* path) {
    unique_hfile way(CreateFileA(path, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    FILE_BASIC_INFO info = {};
    if (way && GetFileInformationByHandleEx(way.get(), FileBasicInfo, &info, sizeof info) &&
        !(info.FileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
        iDeleteThrough(way.get());
}

// Creates each level of `path` from the left (folders it makes get the upper-cased names
// the path has). Failures are left to the hold that follows.
void createLevels(const char* path) {
    char level[kPathCapacity] = {};
    const size_t length = std::strlen(path);
    for (size_t i = 3; i <= length && i < kPathCapacity; ++i) {
        if (path[i] != '\\' && path[i] != '\0') continue;
        std::memcpy(level, path, i);
        level[i] = '\0';
        clearWay(level);
        CreateDirectoryA(level, nullptr);
    }
}

// The folder `name` of the held `parent`, made (upper-cased) where it is missing, then held
// (changeable by the trusted alone when `trusted`); `made` tells whether this run made it.
Gate makeAndHold(const HeldPath& parent, const char* name, bool trusted, HeldPath& out, bool& made) {
    char upper[kPathCapacity], path[kPathCapacity];
    made = false;
    if (fa9::copyText(upper, sizeof upper, name) &&
        fa9::formatText(path, sizeof path, "%s\\%s", parent.path(), (iUpperCasePath(upper), upper))) {
        clearWay(path);
        made = CreateDirectoryA(path, nullptr) != FALSE;
    }
    return parent.holdChild(made ? upper : name, Held::Folder, trusted, out);
}

// The tree `source` copied into the held folder `into`: files replaced through the gate,
// folders made upper-cased. Each file this run wrote, then each folder after its files,
// goes into `made`. 0, or ERROR_DISK_FULL (the copy stops there: every file after it would
// fail the same way), -1 when the source cannot be listed.
int copyInto(const std::string& source, const HeldPath& into, std::vector<std::string>& made, int depth) {
    std::vector<std::pair<std::string, DWORD>> entries;  // the names first: nothing changes under the search
    {
        WIN32_FIND_DATAA entry;
        unique_hfind find(FindFirstFileA((source + "\\*").c_str(), &entry));
        if (!find) return -1;
        do {
            if (!isDotEntry(entry.cFileName)) entries.emplace_back(entry.cFileName, entry.dwFileAttributes);
        } while (FindNextFileA(find.get(), &entry));
    }
    for (const auto& [name, attributes] : entries) {
        const std::string from = source + "\\" + name;
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            warn("CopyDirectoryTree", 41, 7112, from.c_str());
            continue;
        }
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            HeldPath folder;
            bool madeNow = false;
            const Gate gate =
                depth < kDeepest ? makeAndHold(into, name.c_str(), false, folder, madeNow) : Gate::Missing;
            warnRefused("CopyDirectoryTree", 43, gate, folder);
            const int rc = gate == Gate::Accepted ? copyInto(from, folder, made, depth + 1) : 0;
            if (gate == Gate::Accepted && madeNow) made.push_back(folder.path());
            if (rc == ERROR_DISK_FULL) return rc;
            continue;
        }
        unique_hfile file(CreateFileA(from.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        Gate why = Gate::Accepted;
        // A file that cannot be copied is skipped; a full volume stops the copy.
        const int rc = file ? iCopyFileInto(file.get(), into, name.c_str(), why) : -1;
        if (why != Gate::Accepted) warn("CopyDirectoryTree", 42, 7112, (std::string(into.path()) + "\\" + name).c_str());
        if (rc == ERROR_DISK_FULL) return rc;
        if (rc == 0) made.push_back(std::string(into.path()) + "\\" + name);
    }
    return 0;
}

// Both assemblies into the held program folder, each assembly folder changeable by the
// trusted alone (SYSTEM's programs load from it): what this run wrote there, files and the
// folders it made, is marked for deletion at the next restart when `mark`. 0, or
// ERROR_DISK_FULL with what this run wrote there removed (a half copy would be loaded and
// fail).
int serveProgramFolder(const HeldPath& folder, const std::string& copy, bool mark) {
    std::vector<std::string> made;
    int rc = 0;
    for (const char* name : {"Microsoft.VC80.MFC", "Microsoft.VC80.CRT"}) {
        HeldPath assembly;
        bool madeNow = false;
        const Gate gate = makeAndHold(folder, name, true, assembly, madeNow);
        warnRefused("copyVC80Assemblies", 45, gate, assembly);
        if (gate != Gate::Accepted) continue;
        rc = copyInto(copy + "\\" + name, assembly, made, 0);
        if (madeNow) made.push_back(assembly.path());
        if (rc != 0) break;
    }
    if (rc == ERROR_DISK_FULL) {
        // Below the held program folder, in folders the trusted alone can change: by name,
        // files before their folders.
        for (const std::string& path : made)
            if (!DeleteFileA(path.c_str())) RemoveDirectoryA(path.c_str());
        return rc;
    }
    if (rc != 0) return -1;
    for (const std::string& path : made)
        if (mark) MoveFileExA(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    return 0;
}

// `sub` ("a\b") below the held installation folder, each folder on the way held in
// `chain` (the last one is the program folder) and changeable by the trusted alone.
Gate holdBelow(const HeldPath& install, const char* sub, std::deque<HeldPath>& chain) {
    chain.clear();
    std::string rest = sub;
    for (;;) {
        const size_t cut = rest.find('\\');
        const HeldPath& parent = chain.empty() ? install : chain.back();
        chain.emplace_back();  // a deque: `parent` stays where it is
        const Gate gate = parent.holdChild(rest.substr(0, cut).c_str(), Held::Folder, true, chain.back());
        if (gate != Gate::Accepted || cut == std::string::npos) return gate;
        rest = rest.substr(cut + 1);
    }
}

// INSTALLDIR of the product's own copy, else INSTALLDIR; short form when there is one.
// 0, -1 when neither can be read, ERROR_INSTALL_FAILURE (reported) when in the script the
// action's data holds neither.
int readInstallDir(MSIHANDLE hInstall, char* installDir) {
    DWORD capacity = kPathCapacity;
    UINT rc = iMsiGetActionProperty(hInstall, kInstallDirProperty, installDir, &capacity);
    if (rc != kNotInActionData) iLogCallFailure(hInstall, "iMsiGetProperty", kInstallDirProperty, static_cast<int>(rc));
    // The length as the read returned it (from the store: bytes with the terminator).
    if (rc != ERROR_SUCCESS || capacity < 2) {
        std::memset(installDir, 0, kPathCapacity);
        capacity = kPathCapacity;
        rc = iMsiGetActionProperty(hInstall, "INSTALLDIR", installDir, &capacity);
        if (rc == kNotInActionData) {
            MsgTokenHolder tokens("INSTALLDIR");
            ureReport(URE_SHOW_ERROR, "copyVC80Assemblies", 15, ERROR_INSTALL_FAILURE, 7115, &tokens, 0, true);
            return ERROR_INSTALL_FAILURE;
        }
        iLogCallFailure(hInstall, "iMsiGetProperty", "INSTALLDIR", static_cast<int>(rc));
        if (rc != ERROR_SUCCESS) return -1;
    }
    // Only a local fixed drive is asked for a short name: the gate refuses any other
    // untouched, and asking a share or a network drive would sign in to its server.
    const char root[] = {installDir[0], ':', '\\', '\0'};
    if (installDir[1] != ':' || GetDriveTypeA(root) != DRIVE_FIXED) return 0;
    char shortForm[kPathCapacity] = {};
    const DWORD n = GetShortPathNameA(installDir, shortForm, static_cast<DWORD>(kPathCapacity));
    if (n > 0 && n < kPathCapacity) fa9::copyText(installDir, kPathCapacity, shortForm);
    return 0;
}

}  // namespace

int CopyDirectoryTree(const char* source, const char* destination) {
    if (!source || !destination) return kTooLong;
    // The copy's folders are made upper-cased; the source is read by the names it has.
    char from[kPathCapacity], to[kPathCapacity], read[kPathCapacity];
    if (!normalised(source, from, true) || !normalised(destination, to, true) || !normalised(source, read, false))
        return kTooLong;
    if (std::strcmp(from, to) == 0) return 0;
    const size_t n = std::strlen(from);
    if (n < std::strlen(to) && std::strncmp(to, from, n) == 0 && to[n] == '\\') return kTooLong;
    if (!iIsDirectory(read)) return -1;
    createLevels(to);
    HeldPath into;
    const Gate gate = into.hold(to, Held::Folder, 0);
    warnRefused("CopyDirectoryTree", 40, gate, into);
    std::vector<std::string> made;
    // A destination that could not be made or held takes nothing.
    return gate == Gate::Accepted ? copyInto(read, into, made, 0) : 0;
}

int copyVC80Assemblies(MSIHANDLE hInstall) {
    char installDir[kPathCapacity] = {};
    if (const int rc = readInstallDir(hInstall, installDir)) return rc;
    // As SYSTEM (or elevated), copy only where no one else can change what the product's
    // programs load, into the folder the path names, not one a link on the way leads to.
    // Held with every folder above it, none is renamed while the copy runs.
    HeldPath install;
    const Gate gate = install.hold(installDir, Held::Folder, 1);
    if (gate == Gate::Missing) return 0;  // no program folder to serve
    if (gate != Gate::Accepted) {
        if (!iRunsElevated()) return -1;
        MsgTokenHolder tokens(install.refused());
        ureReport(URE_SHOW_ERROR, "copyVC80Assemblies", 50, ERROR_INSTALL_FAILURE, ureRefusalMessage(gate), &tokens, 0,
                  true);
        return ERROR_INSTALL_FAILURE;
    }
    // The restart deletes by path, following whatever link is in a folder's place by then,
    // long after the folders are let go: only where no one else can change a folder above.
    const std::string open = iRunsElevated() ? install.firstChangeableFolder() : std::string();
    if (!open.empty()) warn("copyVC80Assemblies", 60, 7116, open.c_str());
    // Only the files the package carries, from its own rows: the runtime folder's copies
    // are the installing user's to change or add to.
    ProgramCopy assemblies;
    if (assemblies.prepare(hInstall, "copyVC80Assemblies") != 0) return ERROR_INSTALL_FAILURE;

    for (const char* const* sub = kProgramFolders; *sub; ++sub) {
        std::deque<HeldPath> chain;
        if (!iIsDirectory((std::string(install.path()) + "\\" + *sub).c_str())) continue;
        const Gate gate = holdBelow(install, *sub, chain);
        warnRefused("copyVC80Assemblies", 40, gate, chain.back());
        if (gate != Gate::Accepted) continue;
        const int rc = serveProgramFolder(chain.back(), assemblies.folder(), open.empty());
        if (rc != 0) return rc;
    }

    HeldPath messages;
    const Gate listed = install.holdChild("msg", Held::Folder, true, messages);
    warnRefused("copyVC80Assemblies", 40, listed, messages);
    if (listed != Gate::Accepted) return 0;
    std::vector<std::string> languages;
    {
        WIN32_FIND_DATAA entry;
        unique_hfind find(FindFirstFileA((std::string(messages.path()) + "\\*").c_str(), &entry));
        if (!find) return 0;
        do {
            if (!isDotEntry(entry.cFileName) && (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                languages.emplace_back(entry.cFileName);
        } while (FindNextFileA(find.get(), &entry));
    }
    for (const std::string& name : languages) {
        HeldPath language;
        const Gate held = messages.holdChild(name.c_str(), Held::Folder, true, language);
        warnRefused("copyVC80Assemblies", 41, held, language);
        const int rc = held == Gate::Accepted ? serveProgramFolder(language, assemblies.folder(), open.empty()) : 0;
        if (rc != 0) return rc;
    }
    return 0;
}
