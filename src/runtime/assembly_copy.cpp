#include "runtime/assembly_copy.h"
#include "runtime/held_path.h"
#include "runtime/program_copy.h"
#include "runtime/run_folder.h"
#include "runtime/write_access.h"

#include "platform/bounded.h"
#include "frame/file_attributes.h"
#include "frame/install_log.h"
#include "frame/msg_token_holder.h"
#include "frame/ure.h"
#include "frame/ure_info.h"
#include "session/property_access.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

const size_t kPathCapacity = 261;
const int kTooLong = 5053;
const int kElsewhere = -2;  // a copy's place that led elsewhere: skipped, copy and delete alike
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

// Junctions and symbolic links lead out of the tree: whoever may write below the
// installation folder could point one anywhere and have the copy write, or the restart
// delete, there. They are skipped, each with a warning naming it.
bool isReparsePoint(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// `path` without its double quotes, cut to fit; its length.
size_t unquote(char (&out)[kPathCapacity], const char* path) {
    size_t n = 0;
    for (const char* p = path; *p && n + 1 < kPathCapacity; ++p)
        if (*p != '"') out[n++] = *p;
    out[n] = '\0';
    return n;
}

void warnLink(const char* function, int probe, const char* path) {
    MsgTokenHolder tokens;
    tokens.addString(path);
    ureReport(URE_LOG_WARNING, function, probe, 0, 7112, &tokens, 0, true);
}

// Whether `path` (possibly quoted, possibly ending in a backslash) is itself a link; when
// it is, the warning is given.
bool skipLink(const char* function, const char* path) {
    char plain[kPathCapacity];
    size_t n = unquote(plain, path);
    while (n > 3 && plain[n - 1] == '\\') plain[--n] = '\0';
    if (!isReparsePoint(GetFileAttributesA(plain))) return false;
    warnLink(function, 40, plain);
    return true;
}

// The same warning for a listed entry, whose attributes the listing gave.
bool skipLinkEntry(const char* function, const char* folder, const WIN32_FIND_DATAA& entry) {
    if (!isReparsePoint(entry.dwFileAttributes)) return false;
    char path[kPathCapacity];
    fa9::formatText(path, sizeof path, "%s%s%s", folder,
                    folder[0] && folder[std::strlen(folder) - 1] == '\\' ? "" : "\\", entry.cFileName);
    warnLink(function, 41, path);
    return true;
}

// Full path, upper-cased (characters as the C runtime's locale tells them apart) when `upper`,
// without a final backslash or a trailing quote, then with one backslash. False when it
// does not fit.
bool normalised(const char* path, char* out, bool upper = true) {
    char full[kPathCapacity] = {};
    const DWORD n = GetFullPathNameA(path, static_cast<DWORD>(kPathCapacity), full, nullptr);
    if (n == 0 || n >= kPathCapacity) return false;
    if (upper) iUpperCasePath(full);
    size_t length = std::strlen(full);
    if (length > 0 && full[length - 1] == '\\') full[--length] = '\0';
    if (length > 0 && full[length - 1] == '"') full[--length] = '\0';
    return fa9::copyText(out, kPathCapacity, full) && fa9::appendText(out, kPathCapacity, "\\");
}

// Creates each level of `path` (ending in a backslash) from the left; a file in the way
// is made writable and deleted first. Failures are left to the copy that follows.
void createLevels(const char* path) {
    char level[kPathCapacity] = {};
    const size_t length = std::strlen(path);
    for (size_t i = 0; i < length && i + 1 < kPathCapacity; ++i) {
        if (path[i] != '\\' || (i == 2 && path[1] == ':')) continue;
        std::memcpy(level, path, i);
        level[i] = '\0';
        if (i == 0) continue;
        const DWORD attributes = GetFileAttributesA(level);
        if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            SetFileAttributesA(level, attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
            DeleteFileA(level);
        }
        CreateDirectoryA(level, nullptr);
    }
}

// "dir\" + name, without double quotes; false when it does not fit.
bool childPath(char (&out)[kPathCapacity], const char* directory, const char* name) {
    unquote(out, directory);
    return fa9::appendText(out, kPathCapacity, name);
}

// "final\name", `final` being a folder's final path: only a drive root ends in a
// backslash (the last byte of a double-byte character may be one).
bool below(char (&out)[kPathCapacity], const char* final, const char* name) {
    const bool root = std::strlen(final) == 3 && final[1] == ':';
    return fa9::formatText(out, kPathCapacity, "%s%s%s", final, root ? "" : "\\", name);
}

int copyFolder(const char* source, const char* destination, const char* expected);

// The file `from` copied to the new file `to` through handles. The new file is made
// without following a link at its name (one put there after the old file went makes the
// create fail), and must then lie at `expected`, below the final path of its held folder:
// else a link on the way led it elsewhere, and it is deleted through its own handle, named
// in a warning and skipped. 0, ERROR_DISK_FULL, or -1 for a file skipped.
int copyFileThroughHandles(const char* from, const char* to, const char* expected) {
    unique_hfile source(
        CreateFileA(from, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    FILE_BASIC_INFO basic = {};
    if (!source || !GetFileInformationByHandleEx(source.get(), FileBasicInfo, &basic, sizeof basic)) return -1;
    // Made plain, so that it can still be discarded; the attributes and the time of the
    // last write that CopyFile keeps are given once it is whole.
    unique_hfile copy(CreateFileA(to, GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!copy) return GetLastError() == ERROR_DISK_FULL ? ERROR_DISK_FULL : -1;
    FILE_DISPOSITION_INFO discard = {TRUE};
    char final[kPathCapacity];
    if (!iFinalPath(copy.get(), final, sizeof final) || !iSamePath(final, expected)) {
        SetFileInformationByHandle(copy.get(), FileDispositionInfo, &discard, sizeof discard);
        warnLink("CopyDirectoryTree", 42, to);
        return -1;
    }
    std::vector<char> piece(65536);
    for (;;) {
        DWORD got = 0, written = 0;
        const bool read = ReadFile(source.get(), piece.data(), static_cast<DWORD>(piece.size()), &got, nullptr);
        if (read && got == 0) break;
        const bool wrote = read && WriteFile(copy.get(), piece.data(), got, &written, nullptr);
        if (!wrote || written != got) {
            // Half a file is no copy: it goes, and a full volume stops the copy.
            const bool full = read && !wrote && GetLastError() == ERROR_DISK_FULL;
            SetFileInformationByHandle(copy.get(), FileDispositionInfo, &discard, sizeof discard);
            return full ? ERROR_DISK_FULL : -1;
        }
    }
    FILE_BASIC_INFO kept = {};
    kept.LastWriteTime = basic.LastWriteTime;
    kept.FileAttributes = basic.FileAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                                  FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
    if (kept.FileAttributes == 0) kept.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    SetFileInformationByHandle(copy.get(), FileBasicInfo, &kept, sizeof kept);
    return 0;
}

// What lies at `path`, a file or a link in its place (the link itself, never what it
// leads to), goes through a handle opened without following a link at its name, once it
// lies at `expected`; a read-only file is made writable through that handle first. What
// does not go (a folder, a file in use) makes the new copy's create fail, and so is skipped.
void removeOldCopy(const char* path, const char* expected) {
    unique_hfile old(CreateFileA(path, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    char final[kPathCapacity];
    if (!old || !iFinalPath(old.get(), final, sizeof final) || !iSamePath(final, expected)) return;
    FILE_BASIC_INFO basic = {};
    if (GetFileInformationByHandleEx(old.get(), FileBasicInfo, &basic, sizeof basic) &&
        (basic.FileAttributes & FILE_ATTRIBUTE_READONLY)) {
        basic.FileAttributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
        if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        SetFileInformationByHandle(old.get(), FileBasicInfo, &basic, sizeof basic);
    }
    FILE_DISPOSITION_INFO discard = {TRUE};
    SetFileInformationByHandle(old.get(), FileDispositionInfo, &discard, sizeof discard);
}

// One entry of the source into the destination folder, whose final path is `into`: a
// folder as a tree of its own (so its copy, too, is created upper-cased), a file by
// replacing its copy.
int copyEntry(const char* source, const char* destination, const char* into, const WIN32_FIND_DATAA& entry) {
    char from[kPathCapacity], to[kPathCapacity], expected[kPathCapacity];
    if (!childPath(from, source, entry.cFileName) || !childPath(to, destination, entry.cFileName) ||
        !below(expected, into, entry.cFileName))
        return kTooLong;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        // Skipped, and left to the delete walk's own check of each entry.
        const int rc = copyFolder(from, to, expected);
        return rc == kElsewhere ? 0 : rc;
    }
    removeOldCopy(to, expected);
    // A file that cannot be copied is skipped; a full volume stops the copy, since every
    // file after it would fail the same way and leave a half assembly.
    return copyFileThroughHandles(from, to, expected) == ERROR_DISK_FULL ? ERROR_DISK_FULL : 0;
}

// `sourceDir` and `destinationDir` end in a backslash. The destination is held while its
// entries are copied, so that it stays where its final path says; with `expected`, that
// must be where the folder above it led (else a link put in between is skipped).
int copyTree(const char* sourceDir, const char* destinationDir, bool quoted, const char* expected) {
    if (iIsDirectory(sourceDir)) createLevels(destinationDir);
    char pattern[kPathCapacity];
    if (!fa9::copyText(pattern, kPathCapacity, sourceDir) || !fa9::appendText(pattern, kPathCapacity, "*") ||
        (quoted && !fa9::appendText(pattern, kPathCapacity, "\"")))
        return kTooLong;
    char into[kPathCapacity] = {};
    unique_hfile held;
    if (iHoldPath(destinationDir, held) && iFinalPath(held.get(), into, sizeof into) && expected &&
        !iSamePath(into, expected)) {
        char named[kPathCapacity];
        fa9::copyText(named, sizeof named, destinationDir);
        named[std::strlen(named) - 1] = '\0';  // without its final backslash
        warnLink("CopyDirectoryTree", 43, named);
        return kElsewhere;
    }
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA(pattern, &entry);
    if (find == INVALID_HANDLE_VALUE) return -1;
    int rc = 0;
    do {
        // A destination that could not be made or held takes nothing, as a copy into it would.
        if (into[0] && !isDotEntry(entry.cFileName) && !skipLinkEntry("CopyDirectoryTree", sourceDir, entry))
            rc = copyEntry(sourceDir, destinationDir, into, entry);
    } while (rc == 0 && FindNextFileA(find, &entry));
    FindClose(find);
    return rc;
}

// CopyDirectoryTree, for a destination that must lie at `expected` (or anywhere).
int copyFolder(const char* source, const char* destination, const char* expected) {
    if (!source || !destination) return kTooLong;
    // The copy's folders are made upper-cased; the source is read by the names it has.
    char from[kPathCapacity], to[kPathCapacity], read[kPathCapacity];
    if (!normalised(source, from) || !normalised(destination, to) || !normalised(source, read, false))
        return kTooLong;
    if (std::strcmp(from, to) == 0) return 0;
    if (std::strlen(from) < std::strlen(to) && std::strncmp(to, from, std::strlen(from)) == 0) return kTooLong;
    if (skipLink("CopyDirectoryTree", read) || skipLink("CopyDirectoryTree", to)) return 0;
    return copyTree(read, to, source[0] == '"', expected);
}

// `folder` below the installation folder, which lies at `final` (its place reached
// through the held installation folder): each copy must land below `final`.
int serveProgramFolder(const char* folder, const char* final, const char* mfc, const char* crt, bool markForRestart) {
    char mfcCopy[kPathCapacity], crtCopy[kPathCapacity], mfcFinal[kPathCapacity], crtFinal[kPathCapacity];
    if (!fa9::formatText(mfcCopy, sizeof mfcCopy, "%s\\Microsoft.VC80.MFC", folder) ||
        !fa9::formatText(crtCopy, sizeof crtCopy, "%s\\Microsoft.VC80.CRT", folder) ||
        !below(mfcFinal, final, "Microsoft.VC80.MFC") || !below(crtFinal, final, "Microsoft.VC80.CRT"))
        return -1;
    if (skipLink("copyVC80Assemblies", folder)) return 0;
    // A copy's place taken by a link is skipped, copy and delete alike, and named once;
    // so is one that led elsewhere once the copy had made it.
    bool mfcLink = skipLink("copyVC80Assemblies", mfcCopy);
    bool crtLink = skipLink("copyVC80Assemblies", crtCopy);
    int rc = mfcLink ? 0 : copyFolder(mfc, mfcCopy, mfcFinal);
    if (rc == kElsewhere) mfcLink = true, rc = 0;
    if (rc == 0 && !crtLink) rc = copyFolder(crt, crtCopy, crtFinal);
    if (rc == kElsewhere) crtLink = true, rc = 0;
    if (rc == ERROR_DISK_FULL) {
        // Both assemblies or neither: a half copy would be loaded and fail.
        if (!mfcLink) iRemoveFolderTree(mfcCopy);
        if (!crtLink) iRemoveFolderTree(crtCopy);
        return rc;
    }
    if (rc != 0) return -1;
    if (markForRestart && !mfcLink) ScheduleDeleteTree(mfcCopy);
    if (markForRestart && !crtLink) ScheduleDeleteTree(crtCopy);
    return 0;
}

// Whether no one but the trusted can change a folder above the installation folder: the
// restart deletes by path, following whatever link is in a folder's place then, long after
// the folders are let go. Else the first one that others can change is named in a warning.
bool restartCannotBeMisled(const char* installDir) {
    std::vector<std::string> folders;
    if (!iFoldersAbove(installDir, folders)) return false;
    for (const std::string& folder : folders) {
        if (iOnlyTrustedCanWrite(folder.c_str())) continue;
        MsgTokenHolder tokens(folder.c_str());
        ureReport(URE_LOG_WARNING, "copyVC80Assemblies", 60, 0, 7116, &tokens, 0, true);
        return false;
    }
    return true;
}

// Whether a folder on the way from the installation folder down to `sub` (the last
// one included) is a link; the first one met is named.
bool linkOnTheWay(const char* installDir, const char* sub) {
    char level[kPathCapacity];
    if (!fa9::copyText(level, sizeof level, installDir)) return false;
    size_t at = std::strlen(level);
    for (const char* p = sub;; ++p) {
        if (*p == '\\' || *p == '\0') {
            level[at] = '\0';
            if (skipLink("copyVC80Assemblies", level)) return true;
            if (*p == '\0') return false;
        }
        if (at + 1 >= sizeof level) return false;
        level[at++] = *p;
    }
}

// INSTALLDIR of the product's own copy, else INSTALLDIR; short form when there is one.
bool readInstallDir(MSIHANDLE hInstall, char* installDir) {
    DWORD capacity = kPathCapacity;
    UINT rc = iMsiGetProperty(hInstall, kInstallDirProperty, installDir, &capacity);
    iLogCallFailure(hInstall, "iMsiGetProperty", kInstallDirProperty, static_cast<int>(rc));
    // The length as the read returned it (from the store: bytes with the terminator).
    if (rc != ERROR_SUCCESS || capacity < 2) {
        std::memset(installDir, 0, kPathCapacity);
        capacity = kPathCapacity;
        rc = iMsiGetProperty(hInstall, "INSTALLDIR", installDir, &capacity);
        iLogCallFailure(hInstall, "iMsiGetProperty", "INSTALLDIR", static_cast<int>(rc));
        if (rc != ERROR_SUCCESS) return false;
    }
    char shortForm[kPathCapacity] = {};
    const DWORD n = GetShortPathNameA(installDir, shortForm, static_cast<DWORD>(kPathCapacity));
    if (n > 0 && n < kPathCapacity) fa9::copyText(installDir, kPathCapacity, shortForm);
    return true;
}

}  // namespace

int CopyDirectoryTree(const char* source, const char* destination) { return copyFolder(source, destination, nullptr); }

int ScheduleDeleteTree(const char* directory) {
    if (!directory || std::strlen(directory) < 4) return -1;
    if (skipLink("ScheduleDeleteTree", directory)) return 0;
    char pattern[kPathCapacity];
    if (!fa9::formatText(pattern, sizeof pattern, "%s\\*", directory)) return -1;
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA(pattern, &entry);
    if (find == INVALID_HANDLE_VALUE) return -1;
    do {
        if (isDotEntry(entry.cFileName) || skipLinkEntry("ScheduleDeleteTree", directory, entry)) continue;
        char path[kPathCapacity];
        if (!fa9::formatText(path, sizeof path, "%s\\%s", directory, entry.cFileName)) continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            ScheduleDeleteTree(path);
        else
            MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    } while (FindNextFileA(find, &entry));
    FindClose(find);
    MoveFileExA(directory, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    return 0;
}

int copyVC80Assemblies(MSIHANDLE hInstall) {
    char mfc[kPathCapacity] = {}, crt[kPathCapacity] = {}, installDir[kPathCapacity] = {};
    if (!readInstallDir(hInstall, installDir)) return -1;
    if (!iIsDirectory(installDir)) return 0;  // no program folder to serve
    // As SYSTEM, copy only where no one else can change what the product's programs load,
    // into the folder the path names, not one a link on the way leads to. Held with every
    // folder above it, neither it nor a folder on its path is renamed while the copy runs
    // (a link put in the place of one would lead the folders the copy makes elsewhere),
    // and every copy must land below the place it has.
    std::vector<unique_hfile> above;
    const bool aboveHeld = iHoldFoldersAbove(installDir, above);
    unique_hfile pinned;
    char final[kPathCapacity] = {};
    const bool held = iHoldPath(installDir, pinned) && iFinalPath(pinned.get(), final, sizeof final);
    if (iIsStoreMode(hInstall) &&
        (!aboveHeld || !held || !iLiesAt(pinned.get(), installDir) || !iOnlyTrustedCanWrite(installDir))) {
        MsgTokenHolder tokens(installDir);
        ureReport(URE_SHOW_ERROR, "copyVC80Assemblies", 50, ERROR_INSTALL_FAILURE, 7114, &tokens, 0, true);
        return ERROR_INSTALL_FAILURE;
    }
    if (!held) return -1;
    const bool markForRestart = !iIsStoreMode(hInstall) || restartCannotBeMisled(installDir);
    // Only the files the package carries, from its own rows: the runtime folder's copies
    // are the installing user's to change or add to.
    ProgramCopy assemblies;
    if (assemblies.prepare(hInstall, "copyVC80Assemblies") != 0) return ERROR_INSTALL_FAILURE;
    fa9::formatText(mfc, sizeof mfc, "%s\\Microsoft.VC80.MFC", assemblies.folder());
    fa9::formatText(crt, sizeof crt, "%s\\Microsoft.VC80.CRT", assemblies.folder());

    for (const char* const* sub = kProgramFolders; *sub; ++sub) {
        char folder[kPathCapacity], folderFinal[kPathCapacity];
        if (!fa9::formatText(folder, sizeof folder, "%s%s", installDir, *sub) || !iIsDirectory(folder)) continue;
        if (linkOnTheWay(installDir, *sub) || !below(folderFinal, final, *sub)) continue;
        const int rc = serveProgramFolder(folder, folderFinal, mfc, crt, markForRestart);
        if (rc != 0) return rc == ERROR_DISK_FULL ? rc : -1;
    }

    char messages[kPathCapacity], pattern[kPathCapacity];
    if (!fa9::formatText(messages, sizeof messages, "%smsg", installDir) || !iIsDirectory(messages)) return 0;
    if (skipLink("copyVC80Assemblies", messages)) return 0;
    if (!fa9::formatText(pattern, sizeof pattern, "%s\\*", messages)) return 0;
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA(pattern, &entry);
    if (find == INVALID_HANDLE_VALUE) return 0;
    int rc = 0;
    do {
        if (isDotEntry(entry.cFileName) || !(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
            skipLinkEntry("copyVC80Assemblies", messages, entry))
            continue;
        char language[kPathCapacity], languageFinal[kPathCapacity], sub[kPathCapacity];
        if (!fa9::formatText(language, sizeof language, "%s\\%s", messages, entry.cFileName) ||
            !fa9::formatText(sub, sizeof sub, "msg\\%s", entry.cFileName) || !below(languageFinal, final, sub))
            continue;
        rc = serveProgramFolder(language, languageFinal, mfc, crt, markForRestart);
        if (rc != 0 && rc != ERROR_DISK_FULL) rc = -1;
    } while (rc == 0 && FindNextFileA(find, &entry));
    FindClose(find);
    return rc;
}
