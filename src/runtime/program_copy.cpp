#include "runtime/program_copy.h"

#include "platform/bounded.h"
#include "frame/file_attributes.h"
#include "frame/msg_token_holder.h"
#include "platform/scoped_handles.h"
#include "frame/ure.h"
#include "frame/ure_info.h"
#include "runtime/run_folder.h"
#include "runtime/stream_row_hold.h"
#include "session/action_data.h"
#include "session/property_access.h"
#include "trust/trusted_accounts.h"

#include <string>
#include <vector>

namespace {

// The files the registration program needs, by their place below the copy; the Binary
// row of each is its file name.
struct ProgramFile {
    const char* folder;  // below the copy, or "" for the copy itself
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
const DWORD kStreamPiece = 65536;
const size_t kNameBytes = 8;  // random bytes in a copy's name, two hex digits each

bool filePath(char* out, const char* base, const ProgramFile& file) {
    return file.folder[0] ? fa9::formatText(out, MAX_PATH + 1, "%s\\%s\\%s", base, file.folder, file.name)
                          : fa9::formatText(out, MAX_PATH + 1, "%s\\%s", base, file.name);
}

void report(const char* action, int probe, uint32_t message, const char* token) {
    MsgTokenHolder tokens(token);
    ureReport(URE_SHOW_ERROR, action, probe, ERROR_INSTALL_FAILURE, message, &tokens, 0, true);
}

// Where the rows come from: the session's database in an immediate action, served by the
// installer; the installer's copy of the package in the script.
class RowSource {
public:
    // 0, or the message that refuses the source (reported by the caller with `token`).
    uint32_t open(MSIHANDLE hInstall, std::string& token) {
        script_ = iIsStoreMode(hInstall);
        if (!script_) {
            database_.reset(MsiGetActiveDatabase(hInstall));
            token = "Binary";
            return database_ ? 0 : 7115;
        }
        if (iOpenPackageCopy(hInstall, held_, package_, token)) return 0;
        if (token.empty()) token = kProgramFiles[0].name;  // no data to name the package
        return 7115;
    }

    bool read(const char* row, std::vector<unsigned char>& out) {
        if (script_) return package_.readBinary(row, out);
        return readSessionRow(row, out);
    }

private:
    bool readSessionRow(const char* row, std::vector<unsigned char>& out) {
        char query[128];
        if (!fa9::formatText(query, sizeof query, "SELECT * FROM Binary WHERE Name='%s'", row)) return false;
        unique_msihandle view, record;
        if (MsiDatabaseOpenViewA(database_.get(), query, view.out()) != ERROR_SUCCESS ||
            MsiViewExecute(view.get(), 0) != ERROR_SUCCESS || MsiViewFetch(view.get(), record.out()) != ERROR_SUCCESS)
            return false;
        out.clear();
        bool ok = true;
        for (;;) {
            const size_t at = out.size();
            out.resize(at + kStreamPiece);
            DWORD size = kStreamPiece;
            ok = MsiRecordReadStream(record.get(), 2, reinterpret_cast<char*>(out.data() + at), &size) == ERROR_SUCCESS;
            out.resize(at + (ok ? size : 0));
            if (!ok || size == 0) break;
        }
        StreamRowHold::offer(record);
        record.reset();
        MsiViewClose(view.get());
        return ok;
    }

    bool script_ = false;
    unique_msihandle database_;
    HeldPath held_;  // the package copy, and the folders above it
    PackageFile package_;
};

// `bytes` into the new file `path` (never one already there), then the file held open
// for reading, sharing reading only.
bool writeNew(const char* path, const std::vector<unsigned char>& bytes, unique_hfile& held) {
    {
        unique_hfile file(CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return false;
        DWORD written = 0;
        const DWORD size = static_cast<DWORD>(bytes.size());
        if (size && (!WriteFile(file.get(), bytes.data(), size, &written, nullptr) || written != size)) {
            file.reset();
            DeleteFileA(path);  // half a file is no file
            return false;
        }
    }
    held.reset(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                           nullptr));
    return static_cast<bool>(held);
}

// "FA9RUN" and 16 hex digits from the platform's generator: a user who shares the
// temporary folder cannot make every name a copy could take before it is made.
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

// Where copies are made: the process's temporary folder (the SYSTEM account's in the
// script), but the system's (<Windows>\Temp) for an administrator's elevated action: the
// administrator's own temporary folder can be written by their unelevated programs, which
// could rename a fresh copy's folder away and put their own in its place before its files
// are held; in the system's, users may make folders but not rename anyone else's. Without
// one there is no copy (fail closed rather than fall back to the administrator's own).
bool copyParent(char (&out)[MAX_PATH + 1]) {
    if (iRunsElevated() && !iRunsAsSystem()) {
        const UINT n = GetSystemWindowsDirectoryA(out, sizeof out);
        return n > 0 && n < sizeof out && fa9::appendText(out, sizeof out, n > 3 ? "\\Temp" : "Temp") &&
               iIsDirectory(out);
    }
    const DWORD n = GetTempPathA(sizeof out, out);
    if (n == 0 || n >= sizeof out) return false;
    if (out[n - 1] == '\\') out[n - 1] = '\0';
    return true;
}

// A fresh folder of its own below copyParent(), made with an access list for SYSTEM and
// Administrators, and for an installing user who is no administrator, that user (whose
// action could not write it otherwise, and who gains nothing by changing what runs as
// them). A name
// someone else made first is never used: the create fails and another is drawn. Its
// marker (run_folder.h) is made first and held in `marker` while the copy is used;
// copies of runs that are over, killed ones among them, go before a name is chosen.
bool makeProtectedFolder(char* out, HANDLE& marker) {
    char temp[MAX_PATH + 1] = {};
    if (!copyParent(temp)) return false;
    iSweepFinishedRunFolders(temp, "FA9RUN");
    const bool withUser = !iRunsElevated();
    for (int attempt = 0; attempt < 8; ++attempt) {
        if (!randomName(out, MAX_PATH + 1, temp)) return false;
        marker = iHoldRunMarker(out);
        if (marker == INVALID_HANDLE_VALUE) {
            if (GetLastError() != ERROR_FILE_EXISTS) return false;
            continue;
        }
        if (iCreateProtectedFolder(out, withUser)) return true;
        const DWORD error = GetLastError();
        iDropRunMarker(out, marker);  // the marker only: a folder already there is not ours
        marker = INVALID_HANDLE_VALUE;
        if (error != ERROR_ALREADY_EXISTS) return false;
    }
    return false;
}

}  // namespace

ProgramCopy::~ProgramCopy() { remove(); }

void ProgramCopy::remove() {
    if (!folder_[0]) return;
    for (unique_hfile& file : held_) file.reset();
    hold_.release();
    // What cannot go now (a file a process the program left running still uses) stays with
    // its marker, which tells a later run's sweep that this one is over.
    iEndRunFolder(folder_, marker_);
    marker_ = INVALID_HANDLE_VALUE;
    folder_[0] = '\0';
}

UINT ProgramCopy::prepare(MSIHANDLE hInstall, const char* action) {
    StreamRowHold hold;  // released last, after the rows' views
    RowSource rows;
    std::string token;
    if (const uint32_t refused = rows.open(hInstall, token)) {
        report(action, 80, refused, token.c_str());
        return ERROR_INSTALL_FAILURE;
    }
    // Held through the gate while in use: made by us with our own list, it must still be
    // that folder, changeable by the trusted alone, when the files are written and run.
    const bool made = makeProtectedFolder(folder_, marker_);
    if (!made || hold_.hold(folder_, Held::Folder, 1) != Gate::Accepted) {
        if (made) remove();  // ours to remove; a name whose create failed is someone else's
        folder_[0] = '\0';
        report(action, 90, 7111, kProgramFiles[0].name);
        return ERROR_INSTALL_FAILURE;
    }
    bool ok = true;
    for (const char* sub : kAssemblyFolders) {
        char path[MAX_PATH + 1];
        ok = ok && fa9::formatText(path, sizeof path, "%s\\%s", folder_, sub) && CreateDirectoryA(path, nullptr);
    }
    std::vector<unsigned char> bytes;
    for (size_t i = 0; i < kProgramFileCount; ++i) {
        const ProgramFile& file = kProgramFiles[i];
        if (!rows.read(file.name, bytes)) {
            report(action, 95, 7115, file.name);
            remove();
            return ERROR_INSTALL_FAILURE;
        }
        char target[MAX_PATH + 1];
        if (!ok || !filePath(target, folder_, file) || !writeNew(target, bytes, held_[i])) {
            report(action, 90, 7111, file.name);
            remove();
            return ERROR_INSTALL_FAILURE;
        }
    }
    return ERROR_SUCCESS;
}
