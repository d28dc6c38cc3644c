// Path names: GetFullPathNameA and GetShortPathNameA, with the 8.3 short names that
// NTFS generates for long names.
#include "paths.h"
#include "winsim/control.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using winsim::Machine;

namespace {

bool isSep(char c) { return c == '\\' || c == '/'; }

char upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

// Characters an 8.3 name may not hold (besides blanks, control and non-ASCII bytes).
bool isShortNameInvalid(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return u <= 0x20 || u >= 0x7f || std::strchr("\"*+,/:;<=>?[\\]|", c) != nullptr;
}

// A name that is already a valid 8.3 name gets no generated short name: 1-8 characters,
// optionally a dot and 1-3 more, none of them invalid.
bool isValidShortName(const std::string& name) {
    const size_t dot = name.find('.');
    if (dot != std::string::npos && name.find('.', dot + 1) != std::string::npos) return false;
    const size_t baseLength = dot == std::string::npos ? name.size() : dot;
    if (baseLength < 1 || baseLength > 8) return false;
    if (dot != std::string::npos) {
        const size_t extLength = name.size() - dot - 1;
        if (extLength < 1 || extLength > 3) return false;
    }
    for (char c : name)
        if (c != '.' && isShortNameInvalid(c)) return false;
    return true;
}

// The part of a generated short name that does not depend on its neighbours: up to six
// characters of the base and up to three of the extension (after the last dot),
// upper-cased, blanks and dots dropped, other invalid characters made '_'.
struct ShortStem {
    std::string prefix;
    std::string ext;
    bool operator==(const ShortStem& o) const { return prefix == o.prefix && ext == o.ext; }
};

std::string cleanForShortName(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == ' ' || c == '.') continue;
        out += isShortNameInvalid(c) ? '_' : upper(c);
    }
    return out;
}

ShortStem stemOf(const std::string& name) {
    const size_t dot = name.rfind('.');
    // A name whose only dot leads (".profile") has no extension.
    const bool hasExt = dot != std::string::npos && dot != 0;
    ShortStem stem;
    stem.prefix = cleanForShortName(hasExt ? name.substr(0, dot) : name).substr(0, 6);
    stem.ext = hasExt ? cleanForShortName(name.substr(dot + 1)).substr(0, 3) : std::string();
    return stem;
}

// The generated short name of `name` in host folder `folder`. Names that share a stem
// are numbered ~1, ~2, ... in the sorted order of their long names, so the result does
// not depend on the order in which the files were made.
std::string generatedShortName(const std::string& name, const fs::path& folder) {
    const ShortStem stem = stemOf(name);
    std::vector<std::string> sharing;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        const std::string sibling = entry.path().filename().string();
        if (!isValidShortName(sibling) && stemOf(sibling) == stem) sharing.push_back(sibling);
    }
    auto upperOf = [](std::string s) {
        for (char& c : s) c = upper(c);
        return s;
    };
    std::sort(sharing.begin(), sharing.end(),
              [&](const std::string& a, const std::string& b) { return upperOf(a) < upperOf(b); });
    size_t number = 1;
    for (size_t i = 0; i < sharing.size(); ++i) {
        if (sharing[i] == name) {
            number = i + 1;
            break;
        }
    }
    const std::string tail = "~" + std::to_string(number);
    std::string result = stem.prefix.substr(0, std::min<size_t>(stem.prefix.size(), 8 - tail.size())) + tail;
    if (!stem.ext.empty()) result += "." + stem.ext;
    return result;
}

// Windows drops trailing dots and blanks of a name when it looks the name up.
std::string trimmedName(const std::string& component) {
    size_t end = component.size();
    while (end > 0 && (component[end - 1] == '.' || component[end - 1] == ' ')) --end;
    return component.substr(0, end);
}

}  // namespace

// The entry of host folder `folder` that `component` names, by its long name (without
// regard to case) or by its generated short name; empty when there is none.
std::string winsim::paths::entryNamed(const fs::path& folder, const std::string& component) {
    const std::string wanted = trimmedName(component);
    if (wanted.empty()) return std::string();
    std::error_code ec;
    std::string byShortName;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (winsim::equalsNoCase(name, wanted)) return name;
        if (byShortName.empty() && !isValidShortName(name) &&
            winsim::equalsNoCase(generatedShortName(name, folder), wanted))
            byShortName = name;
    }
    return byShortName;
}

namespace {

using winsim::paths::entryNamed;

// The host folder a path's first component is looked up in, and the root of its drive
// or share; moves `pos` past a drive letter, or past a share's server and name
// (\\server\share, or \\?\UNC\server\share).
fs::path startFolder(Machine& m, const std::string& in, size_t& pos, fs::path& driveRoot) {
    size_t server = std::string::npos;
    if (pos == 0 && in.size() > 2 && isSep(in[0]) && isSep(in[1])) server = 2;
    if (pos == 4 && in.size() > 8 && winsim::equalsNoCase(in.substr(4, 3), "UNC") && isSep(in[7])) server = 8;
    if (server != std::string::npos) {
        size_t end = in.find_first_of("\\/", server);
        if (end != std::string::npos) end = in.find_first_of("\\/", end + 1);
        pos = end == std::string::npos ? in.size() : end;
        driveRoot = m.hostPath("\\\\" + in.substr(server, pos - server));
        return driveRoot;
    }
    const std::string current = m.currentDirectory();
    char drive = upper(current[0]);
    bool relative = true;
    if (pos + 1 < in.size() && in[pos] != '/' && in[pos + 1] == ':') {
        // "C:name" is relative to that drive's current directory; only the current drive has one here.
        relative = upper(in[pos]) == drive && !(pos + 2 < in.size() && isSep(in[pos + 2]));
        drive = upper(in[pos]);
        pos += 2;
    } else if (pos < in.size() && isSep(in[pos])) {
        relative = false;
    }
    driveRoot = fs::path(m.hostRoot()) / std::string(1, drive);
    return relative ? fs::path(m.hostPath(current)) : driveRoot;
}

// Copies `text` out the way the path functions do: its length on success, else the
// size needed with the terminator, the buffer untouched.
DWORD copyOut(const std::string& text, LPSTR buffer, DWORD capacity) {
    if (!buffer || capacity <= text.size()) return static_cast<DWORD>(text.size() + 1);
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return static_cast<DWORD>(text.size());
}

// GetShortPathNameA and GetLongPathNameA: each existing component as its 8.3 name, or
// as the folder holds its long name.
DWORD convertPathName(LPCSTR lpszLongPath, LPSTR lpszShortPath, DWORD cchBuffer, bool toShort) {
    Machine& m = Machine::current();
    if (!lpszLongPath) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::string in = lpszLongPath;
    if (in.empty()) {
        SetLastError(ERROR_BAD_PATHNAME);
        return 0;
    }
    m.noteFileSystemCall(in);
    size_t pos = 0;
    if (in.compare(0, 4, "\\\\?\\") == 0) pos = 4;
    if (in.find_first_of("*?", pos) != std::string::npos) {
        SetLastError(ERROR_INVALID_NAME);
        return 0;
    }
    // The result keeps the form of the input: relative stays relative, separators and
    // their doubling stay as they were; only long components change.
    std::string out = in.substr(0, pos);
    const size_t rootStart = pos;
    fs::path driveRoot;
    fs::path folder = startFolder(m, in, pos, driveRoot);
    out += in.substr(rootStart, pos - rootStart);
    while (pos < in.size()) {
        if (isSep(in[pos])) {
            out += in[pos++];
            continue;
        }
        size_t end = pos;
        while (end < in.size() && !isSep(in[end])) ++end;
        const std::string component = in.substr(pos, end - pos);
        const bool last = in.find_first_not_of("\\/", end) == std::string::npos;
        pos = end;
        if (component == "." || component == "..") {
            if (component == ".." && folder != driveRoot) folder = folder.parent_path();
            out += component;
            continue;
        }
        std::error_code ec;
        const std::string onDisk = fs::is_directory(folder, ec) ? entryNamed(folder, component) : std::string();
        if (onDisk.empty()) {
            SetLastError(last ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
            return 0;
        }
        // Names already 8.3 come out as the folder holds them, as a directory listing reports them.
        out += !toShort || isValidShortName(onDisk) ? onDisk : generatedShortName(onDisk, folder);
        folder /= onDisk;
    }
    return copyOut(out, lpszShortPath, cchBuffer);
}

}  // namespace

extern "C" {

DWORD WINAPI GetShortPathNameA(LPCSTR lpszLongPath, LPSTR lpszShortPath, DWORD cchBuffer) {
    return convertPathName(lpszLongPath, lpszShortPath, cchBuffer, true);
}

DWORD WINAPI GetLongPathNameA(LPCSTR lpszShortPath, LPSTR lpszLongPath, DWORD cchBuffer) {
    return convertPathName(lpszShortPath, lpszLongPath, cchBuffer, false);
}

DWORD WINAPI GetFullPathNameA(LPCSTR lpFileName, DWORD nBufferLength, LPSTR lpBuffer, LPSTR* lpFilePart) {
    if (!lpFileName || !*lpFileName) {
        SetLastError(ERROR_INVALID_NAME);
        return 0;
    }
    Machine& m = Machine::current();
    const std::string in = lpFileName;
    // The ANSI function works through a MAX_PATH wide buffer: a longer name, or a full
    // path that would not fit it, is refused rather than cut.
    if (in.size() > MAX_PATH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    // A name after \\?\ is handed on as it is: nothing is folded or changed.
    std::string full = in;
    if (in.compare(0, 4, "\\\\?\\") != 0) {
        full = m.fullPath(in);
        // The other device prefixes (\\.\, //?/) stay, the path after them folded.
        if (in.size() >= 4 && isSep(in[0]) && isSep(in[1]) && (in[2] == '.' || in[2] == '?') && isSep(in[3])) {
            const std::string after = full.compare(0, 4, "\\\\?\\") == 0 ? full.substr(4)
                                      : full.compare(0, 2, "\\\\") == 0 ? "UNC" + full.substr(1)
                                                                          : full;
            full = std::string("\\\\") + in[2] + "\\" + after;
        }
        // A drive given with its root keeps the letter as written.
        if (in.size() >= 3 && std::isalpha(static_cast<unsigned char>(in[0])) && in[1] == ':' && isSep(in[2]))
            full[0] = in[0];
        // A last component of nothing but dots and blanks (other than "." and "..") is
        // dropped, but its separator stays.
        const size_t lastSep = in.find_last_of("\\/");
        const std::string last = in.substr(lastSep == std::string::npos ? 0 : lastSep + 1);
        if (!last.empty() && last != "." && last != ".." && last.find_first_not_of(". ") == std::string::npos &&
            full.back() != '\\')
            full += '\\';
    }

    if (full.size() >= MAX_PATH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    const DWORD n = copyOut(full, lpBuffer, nBufferLength);
    if (n == full.size() && lpFilePart) {
        // Double quotes are ordinary characters here: a quoted path is a relative name.
        *lpFilePart = full.back() == '\\' ? nullptr : lpBuffer + full.rfind('\\') + 1;
    }
    return n;
}

}  // extern "C"
