#include "runtime/runtime_extraction.h"

#include "platform/bounded.h"
#include "frame/file_attributes.h"
#include "frame/install_log.h"
#include "platform/scoped_handles.h"
#include "runtime/stream_row_hold.h"

#include <cstring>
#include <memory>
#include <new>

namespace {

const size_t kPathCapacity = 261;
const DWORD kStreamChunk = 65536;
const size_t kSmallChunk = 1024;

}  // namespace

UINT StreamFileFromBinary(MSIHANDLE hInstall, MSIHANDLE database, const char* rowName, const char* path) {
    char query[1024];
    if (!fa9::formatText(query, sizeof query, "SELECT * FROM Binary WHERE Name='%s'", rowName ? rowName : ""))
        return 1;
    unique_msihandle view;
    UINT rc = MsiDatabaseOpenViewA(database, query, view.out());
    iLogCallFailure(hInstall, "MsiDatabaseOpenView", "StreamFileFromBinary", static_cast<int>(rc));
    if (rc != ERROR_SUCCESS) return 1;
    rc = MsiViewExecute(view.get(), 0);
    iLogCallFailure(hInstall, "MsiViewExecute", "StreamFileFromBinary", static_cast<int>(rc));
    if (rc != ERROR_SUCCESS) return 1;
    unique_msihandle record;
    rc = MsiViewFetch(view.get(), record.out());
    iLogCallFailure(hInstall, "MsiViewFetch", "StreamFileFromBinary", static_cast<int>(rc));
    if (rc != ERROR_SUCCESS) return 1;

    // Always a new file: a name someone else made first (in a folder the installing user
    // may write) would have us fill, or run, what they control.
    unique_hfile file(CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file && (GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS)) {
        MsiViewClose(view.get());
        return 2;
    }
    if (!file) {
        char line[kPathCapacity + 64];
        fa9::formatText(line, sizeof line, "Failed to create the %s file", path);
        iLogMessage(hInstall, line);
        MsiViewClose(view.get());
        return 1;
    }
    // Each read is a round trip to the installer: 64 KB a read rather than a kilobyte
    // (the file written is the same), a kilobyte only when the larger buffer cannot be had.
    char small[kSmallChunk];
    std::unique_ptr<char[]> large(new (std::nothrow) char[kStreamChunk]);
    char* chunk = large ? large.get() : small;
    const DWORD chunkSize = large ? kStreamChunk : kSmallChunk - 1;
    UINT result = 0;
    bool writeFailed = false;
    for (;;) {
        DWORD size = chunkSize;
        if (MsiRecordReadStream(record.get(), 2, chunk, &size) != ERROR_SUCCESS) {
            result = 1;  // what was written stays
            break;
        }
        if (size == 0) break;
        DWORD written = 0;
        // A write that fails (a full disk) fails the file: its caller names it.
        if (!WriteFile(file.get(), chunk, size, &written, nullptr) || written != size) {
            result = 1;
            writeFailed = true;
            break;
        }
    }
    // The file, the record, then the view: the record's stream is let go while its view
    // is still open (or kept by the action's hold, stream_row_hold.h).
    file.reset();
    // Half a file is no file: it would be loaded or run as if whole. This call made it new.
    if (writeFailed) DeleteFileA(path);
    StreamRowHold::offer(record);
    record.reset();
    MsiViewClose(view.get());
    return result;
}

int CreateDirectoryTree(const char* path) {
    if (!path || !*path) return -1;
    char copy[kPathCapacity];
    if (!fa9::copyText(copy, sizeof copy, path)) return -1;
    size_t n = std::strlen(copy);
    if (copy[n - 1] == '\\') copy[--n] = '\0';
    if (iIsDirectory(copy) || CreateDirectoryA(copy, nullptr)) return 0;
    char* cut = std::strrchr(copy, '\\');
    if (!cut) return iIsDirectory(copy) ? 0 : -1;
    *cut = '\0';
    if (copy[0]) CreateDirectoryTree(copy);
    *cut = '\\';
    CreateDirectoryA(copy, nullptr);
    return iIsDirectory(copy) ? 0 : -1;
}
