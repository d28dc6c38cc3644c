#include "session/action_data.h"

#include <cstring>
#include <memory>
#include <new>

namespace {

void appendEscaped(std::string& data, const char* text) {
    for (const char* p = text ? text : ""; *p; ++p) {
        switch (*p) {
        case '%': data += "%25"; break;
        case ';': data += "%3B"; break;
        case '=': data += "%3D"; break;
        default: data += *p; break;
        }
    }
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Decodes data[begin, end) into `out`; false on a "%" without two hex digits.
bool unescape(const char* data, size_t begin, size_t end, std::string& out) {
    out.clear();
    for (size_t i = begin; i < end; ++i) {
        if (data[i] != '%') {
            out += data[i];
            continue;
        }
        if (end - i < 3) return false;
        const int high = hexValue(data[i + 1]), low = hexValue(data[i + 2]);
        if (high < 0 || low < 0) return false;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return true;
}

}  // namespace

void iAppendActionEntry(std::string& data, const char* name, const char* value) {
    if (!data.empty()) data += ';';
    appendEscaped(data, name);
    data += '=';
    appendEscaped(data, value);
}

ActionEntry iFindActionEntry(const char* data, size_t size, const char* name, std::string& value) {
    if (!data || !name) return ActionEntry::Absent;
    std::string entryName;
    size_t start = 0;
    while (start < size) {
        size_t end = start;
        while (end < size && data[end] != ';') ++end;
        size_t equals = start;
        while (equals < end && data[equals] != '=') ++equals;
        if (equals == end) return ActionEntry::Malformed;
        if (!unescape(data, start, equals, entryName) || !unescape(data, equals + 1, end, value))
            return ActionEntry::Malformed;
        if (entryName == name) return ActionEntry::Found;
        start = end + 1;
    }
    value.clear();
    return ActionEntry::Absent;
}

bool iReadActionData(MSIHANDLE hInstall, std::string& data) {
    data.clear();
    char probe[1] = {};
    DWORD size = 0;
    // The installer's two calls: the size first, then the value.
    if (MsiGetPropertyA(hInstall, "CustomActionData", probe, &size) != ERROR_MORE_DATA) return false;
    std::unique_ptr<char[]> text(new (std::nothrow) char[size + 1]);
    if (!text) return false;
    DWORD capacity = size + 1;
    if (MsiGetPropertyA(hInstall, "CustomActionData", text.get(), &capacity) != ERROR_SUCCESS) return false;
    data.assign(text.get(), std::strlen(text.get()));
    return !data.empty();
}

bool iGetActionValue(MSIHANDLE hInstall, const char* name, std::string& value) {
    std::string data;
    if (!iReadActionData(hInstall, data)) return false;
    return iFindActionEntry(data.data(), data.size(), name, value) == ActionEntry::Found;
}

bool iOpenPackageCopy(MSIHANDLE hInstall, HeldPath& held, PackageFile& package, std::string& path) {
    path.clear();
    // The installer's own ProductCode, which it offers every script action: through
    // iMsiGetProperty the store would answer first, and the store is the user's to change.
    char session[64] = {};  // a GUID in braces has 38 characters
    DWORD capacity = sizeof session;
    return iGetActionValue(hInstall, "DATABASE", path) &&
           MsiGetPropertyA(hInstall, "ProductCode", session, &capacity) == ERROR_SUCCESS &&
           iOpenProductPackage(path, session, held, package);
}
