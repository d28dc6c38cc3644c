#include "runtime/program_copy.h"

#include "frame/bounded.h"
#include "frame/msg_token_holder.h"
#include "frame/scoped_handles.h"
#include "frame/sha256.h"
#include "frame/ure.h"
#include "frame/ure_info.h"
#include "runtime/protected_folder.h"
#include "runtime/run_folder.h"
#include "runtime/stream_row_hold.h"
#include "session/action_data.h"
#include "session/property_access.h"

#include <cstring>
#include <memory>
#include <new>

namespace {

// The files the registration program needs, by their place below the runtime folder;
// the Binary row of each is its file name.
struct ProgramFile {
    const char* folder;  // below the runtime folder, or "" for the folder itself
    const char* name;
};
const ProgramFile kProgramFiles[] = {
    {"", "commontoolreg.exe"},
    {"Microsoft.VC80.CRT", "msvcm80.dll"},
    {"Microsoft.VC80.CRT", "msvcp80.dll"},
    {"Microsoft.VC80.CRT", "msvcr80.dll"},
    {"Microsoft.VC80.CRT", "microsoft.vc80.crt.manifest"},
    {"Microsoft.VC80.MFC", "mfc80.dll"},
    {"Microsoft.VC80.MFC", "mfc80u.dll"},
    {"Microsoft.VC80.MFC", "mfcm80.dll"},
    {"Microsoft.VC80.MFC", "mfcm80u.dll"},
    {"Microsoft.VC80.MFC", "microsoft.vc80.mfc.manifest"},
};
static_assert(sizeof kProgramFiles / sizeof kProgramFiles[0] == ProgramCopy::kProgramFileCount,
              "one held handle a file");
const char* const kFolders[] = {"Microsoft.VC80.CRT", "Microsoft.VC80.MFC"};
const char* const kDigestPrefix = "SHA256.";
const DWORD kChunk = 65536;
const DWORD kStreamPiece = 2 * 1024 * 1024;  // more than the largest row the package carries
const DWORD kRowNameCapacity = 73;  // the Binary table's Name column holds 72 characters
const size_t kNameBytes = 8;        // random bytes in a copy's name, two hex digits each

bool filePath(char* out, const char* base, const ProgramFile& file) {
    return file.folder[0] ? fa9::formatText(out, MAX_PATH + 1, "%s\\%s\\%s", base, file.folder, file.name)
                          : fa9::formatText(out, MAX_PATH + 1, "%s\\%s", base, file.name);
}

// The digest of the stream in field 2 of a Binary row, read in large pieces: each
// piece is one question to the installer. A short piece is the stream's end.
bool hashStream(MSIHANDLE record, char hex[Sha256::kHexSize]) {
    std::unique_ptr<char[]> piece(new (std::nothrow) char[kStreamPiece]);
    if (!piece) return false;
    Sha256 digest;
    for (;;) {
        DWORD size = kStreamPiece;
        if (MsiRecordReadStream(record, 2, piece.get(), &size) != ERROR_SUCCESS) return false;
        if (!digest.update(piece.get(), size)) return false;
        if (size < kStreamPiece) break;
    }
    return digest.finishHex(hex);
}

// Copies `from` into the new file `to` (never one already there).
bool copyNew(const char* from, const char* to) {
    unique_hfile source(CreateFileA(from, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!source) return false;
    unique_hfile target(CreateFileA(to, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!target) return false;
    std::unique_ptr<char[]> chunk(new (std::nothrow) char[kChunk]);
    if (!chunk) return false;
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(source.get(), chunk.get(), kChunk, &read, nullptr)) return false;
        if (read == 0) return true;
        DWORD written = 0;
        if (!WriteFile(target.get(), chunk.get(), read, &written, nullptr) || written != read) return false;
    }
}

// Whether the file at `path` has the digest `expected` (lower-case hex). The file is
// opened sharing reading only and, when it matches, left open in `held`: what was checked
// cannot be changed or replaced before it is run or loaded.
bool matches(const char* path, const std::string& expected, unique_hfile& held) {
    unique_hfile file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    std::unique_ptr<char[]> chunk(new (std::nothrow) char[kChunk]);
    if (!chunk) return false;
    Sha256 digest;
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file.get(), chunk.get(), kChunk, &read, nullptr)) return false;
        if (read == 0) break;
        if (!digest.update(chunk.get(), read)) return false;
    }
    char hex[Sha256::kHexSize];
    if (!digest.finishHex(hex) || !fa9::equalsNoCase(hex, expected.c_str())) return false;
    held.reset(file.release());
    return true;
}

// What cannot go now (a file a process the program left running still uses) goes at
// the next restart; what is not there is done.
void removeNowOrAtRestart(const char* path, bool folder) {
    if (folder ? RemoveDirectoryA(path) : DeleteFileA(path)) return;
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
        MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

void reportMismatch(const char* action, const char* path) {
    MsgTokenHolder tokens(path);
    ureReport(URE_SHOW_ERROR, action, 90, ERROR_INSTALL_FAILURE, 7111, &tokens, 0, true);
}

// "FA9RUN" and 16 hex digits from the platform's generator: a user who shares the
// temporary folder cannot make every name a copy could take before the script runs.
bool randomName(char* out, size_t capacity, const char* folder) {
    BCRYPT_ALG_HANDLE generator = nullptr;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&generator, BCRYPT_RNG_ALGORITHM, nullptr, 0))) return false;
    unsigned char bytes[kNameBytes] = {};
    const bool drawn = BCRYPT_SUCCESS(BCryptGenRandom(generator, bytes, sizeof bytes, 0));
    BCryptCloseAlgorithmProvider(generator, 0);
    char hex[2 * kNameBytes + 1] = {};
    for (size_t i = 0; drawn && i < kNameBytes; ++i) fa9::formatText(hex + 2 * i, 3, "%02x", bytes[i]);
    return drawn && fa9::formatText(out, capacity, "%s\\FA9RUN%s", folder, hex);
}

// A fresh folder of its own below the process's temporary folder (the SYSTEM account's
// in an elevated script), made with an access list for SYSTEM and Administrators only.
// A name someone else made first is never used: the create fails and another is drawn.
// Its marker (run_folder.h) is made first and held in `marker` while the copy is used;
// copies of runs that are over, killed ones among them, go before a name is chosen.
bool makeProtectedFolder(char* out, HANDLE& marker) {
    char temp[MAX_PATH + 1] = {};
    const DWORD n = GetTempPathA(sizeof temp, temp);
    if (n == 0 || n >= sizeof temp) return false;
    if (temp[n - 1] == '\\') temp[n - 1] = '\0';
    iSweepFinishedRunFolders(temp, "FA9RUN", true);
    for (int attempt = 0; attempt < 8; ++attempt) {
        if (!randomName(out, MAX_PATH + 1, temp)) return false;
        marker = iHoldRunMarker(out);
        if (marker == INVALID_HANDLE_VALUE) {
            if (GetLastError() != ERROR_FILE_EXISTS) return false;
            continue;
        }
        if (iCreateProtectedFolder(out, false)) return true;
        const DWORD error = GetLastError();
        iDropRunMarker(out, marker);  // the marker only: a folder already there is not ours
        marker = INVALID_HANDLE_VALUE;
        if (error != ERROR_ALREADY_EXISTS) return false;
    }
    return false;
}

}  // namespace

void iHashProgramRows(MSIHANDLE hInstall, std::string& entries) {
    StreamRowHold hold;  // released last, after the view
    unique_msihandle database(MsiGetActiveDatabase(hInstall));
    if (!database) return;
    unique_msihandle view;
    if (MsiDatabaseOpenViewA(database.get(), "SELECT * FROM Binary", view.out()) != ERROR_SUCCESS) return;
    if (MsiViewExecute(view.get(), 0) != ERROR_SUCCESS) return;
    // In the order of the rows; a row missing or unreadable has no digest.
    for (;;) {
        unique_msihandle record;
        if (MsiViewFetch(view.get(), record.out()) != ERROR_SUCCESS) break;
        char name[kRowNameCapacity] = {};
        DWORD capacity = kRowNameCapacity;
        if (MsiRecordGetStringA(record.get(), 1, name, &capacity) != ERROR_SUCCESS) continue;
        bool needed = false;
        for (const ProgramFile& file : kProgramFiles) needed = needed || std::strcmp(file.name, name) == 0;
        if (!needed) continue;
        char hex[Sha256::kHexSize];
        if (!hashStream(record.get(), hex)) continue;
        iAppendActionEntry(entries, (std::string(kDigestPrefix) + name).c_str(), hex);
        StreamRowHold::offer(record);
    }
    MsiViewClose(view.get());
}

ProgramCopy::~ProgramCopy() { remove(); }

void ProgramCopy::remove() {
    if (!copy_[0]) return;
    for (unique_hfile& file : held_) file.reset();
    for (const ProgramFile& file : kProgramFiles) {
        char path[MAX_PATH + 1];
        if (filePath(path, copy_, file)) removeNowOrAtRestart(path, false);
    }
    for (const char* sub : kFolders) {
        char path[MAX_PATH + 1];
        if (fa9::formatText(path, sizeof path, "%s\\%s", copy_, sub)) removeNowOrAtRestart(path, true);
    }
    removeNowOrAtRestart(copy_, true);
    // The marker goes with the folder; one left beside a folder that stayed tells a later
    // run that this one is over.
    iEndRunFolder(copy_, marker_);
    marker_ = INVALID_HANDLE_VALUE;
    copy_[0] = '\0';
}

UINT ProgramCopy::prepare(MSIHANDLE hInstall, const char* runtimeDir, const char* action) {
    fa9::copyText(folder_, sizeof folder_, runtimeDir);
    // An immediate action runs as the installing user, who could run the program anyway.
    if (!iIsStoreMode(hInstall)) return ERROR_SUCCESS;
    // In the script only the installer's data counts (a digest in the user's store proves
    // nothing), and without it nothing runs: a row authored without its data, or a
    // package without digests, would otherwise run whatever the runtime folder holds.
    std::string data;
    const std::string programDigest = std::string(kDigestPrefix) + kProgramFiles[0].name;
    std::string unused;
    if (!iReadActionData(hInstall, data) ||
        iFindActionEntry(data.data(), data.size(), programDigest.c_str(), unused) != ActionEntry::Found) {
        MsgTokenHolder tokens(kProgramFiles[0].name);
        ureReport(URE_SHOW_ERROR, action, 80, ERROR_INSTALL_FAILURE, 7115, &tokens, 0, true);
        return ERROR_INSTALL_FAILURE;
    }

    char source[MAX_PATH + 1];
    if (!makeProtectedFolder(copy_, marker_)) {
        copy_[0] = '\0';
        filePath(source, runtimeDir, kProgramFiles[0]);
        reportMismatch(action, source);
        return ERROR_INSTALL_FAILURE;
    }
    bool ok = true;
    for (const char* sub : kFolders) {
        char path[MAX_PATH + 1];
        ok = ok && fa9::formatText(path, sizeof path, "%s\\%s", copy_, sub) && CreateDirectoryA(path, nullptr);
    }
    for (size_t i = 0; i < kProgramFileCount; ++i) {
        const ProgramFile& file = kProgramFiles[i];
        char target[MAX_PATH + 1];
        std::string expected;
        const std::string name = std::string(kDigestPrefix) + file.name;
        const bool fits = filePath(source, runtimeDir, file) && filePath(target, copy_, file);
        if (!ok || !fits || iFindActionEntry(data.data(), data.size(), name.c_str(), expected) != ActionEntry::Found ||
            !copyNew(source, target) || !matches(target, expected, held_[i])) {
            reportMismatch(action, source);
            remove();
            return ERROR_INSTALL_FAILURE;
        }
    }
    fa9::copyText(folder_, sizeof folder_, copy_);
    return ERROR_SUCCESS;
}
