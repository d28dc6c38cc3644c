#include "paths.h"

#include "winsim/control.h"

#include <cctype>
#include <filesystem>

namespace fs = std::filesystem;

namespace winsim::paths {

namespace {

bool isSep(char c) { return c == '\\' || c == '/'; }

char upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

bool isDriveForm(const std::string& p) {
    return p.size() >= 2 && std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':';
}

// Trailing dots and blanks of a name, which Windows drops ("." and ".." stay).
std::string trimComponent(const std::string& c) {
    if (c == "." || c == "..") return c;
    size_t end = c.size();
    while (end > 0 && (c[end - 1] == '.' || c[end - 1] == ' ')) --end;
    return c.substr(0, end);
}

// A path with '\' separators without its \\?\ or \\.\ prefix where a drive (C:\) or a
// share (UNC\server\share) follows it; the rest of the device namespace under \\?\.
std::string withoutDevicePrefix(const std::string& p) {
    if (p.size() < 4 || p[0] != '\\' || p[1] != '\\' || (p[2] != '?' && p[2] != '.') || p[3] != '\\') return p;
    const std::string rest = p.substr(4);
    if (isDriveForm(rest) && rest.size() >= 3 && rest[2] == '\\') return rest;
    if (rest.size() >= 4 && upper(rest[0]) == 'U' && upper(rest[1]) == 'N' && upper(rest[2]) == 'C' && rest[3] == '\\')
        return "\\\\" + rest.substr(4);
    return "\\\\?\\" + rest;
}

}  // namespace

size_t rootLength(const std::string& absolute) {
    if (isDriveForm(absolute)) return absolute.size() >= 3 && isSep(absolute[2]) ? 3 : 2;
    if (absolute.size() < 2 || !isSep(absolute[0]) || !isSep(absolute[1])) return 0;
    // The server and the share, or the device's name.
    const bool device =
        absolute.size() >= 4 && (absolute[2] == '?' || absolute[2] == '.') && isSep(absolute[3]);
    size_t at = device ? 4 : 2;
    for (int names = device ? 1 : 2; names > 0; --names) {
        const size_t sep = absolute.find_first_of("\\/", at);
        if (sep == std::string::npos) return absolute.size();
        at = sep + 1;
    }
    return at;
}

std::string full(const std::string& path, const std::string& currentDir) {
    std::string p = path;
    for (char& c : p)
        if (c == '/') c = '\\';
    p = withoutDevicePrefix(p);
    const std::string currentRoot = currentDir.substr(0, rootLength(currentDir));
    std::string root;
    std::string rest;
    if (isDriveForm(p)) {
        root = std::string(1, upper(p[0])) + ":\\";
        rest = p.substr(2);
        if (rest.empty() || rest[0] != '\\') {
            // "C:x" is relative to that drive's current directory; only the current drive has one here.
            if (isDriveForm(currentDir) && upper(currentDir[0]) == root[0])
                rest = currentDir.substr(2) + "\\" + rest;
            else
                rest = "\\" + rest;
        }
    } else if (p.size() >= 2 && p[0] == '\\' && p[1] == '\\') {
        root = p.substr(0, rootLength(p));
        rest = p.substr(root.size());
    } else if (!p.empty() && p[0] == '\\') {
        root = currentRoot;
        rest = p;
    } else {
        root = currentRoot;
        rest = currentDir.substr(currentRoot.size()) + "\\" + p;
    }
    if (root.empty() || root.back() != '\\') root += '\\';  // a share's root may be written without it
    const bool trailing = !p.empty() && p.back() == '\\';
    std::vector<std::string> out;
    size_t i = 0;
    while (i <= rest.size()) {
        size_t j = rest.find('\\', i);
        if (j == std::string::npos) j = rest.size();
        // Windows drops trailing dots and blanks from the last component only.
        std::string comp = rest.substr(i, j - i);
        if (j == rest.size()) comp = trimComponent(comp);
        if (comp.empty() || comp == ".") {
        } else if (comp == "..") {
            if (!out.empty()) out.pop_back();
        } else {
            out.push_back(comp);
        }
        i = j + 1;
    }
    std::string result = root;
    for (size_t k = 0; k < out.size(); ++k) {
        if (k) result += "\\";
        result += out[k];
    }
    if (trailing && !out.empty()) result += "\\";
    // A share named without a separator after it stays so; a drive's root always has one.
    if (out.empty() && !trailing && !isDriveForm(result)) result.pop_back();
    return result;
}

std::string toHost(const std::string& root, const std::string& absolute) {
    fs::path host = fs::path(root);
    size_t at = 0;
    if (isDriveForm(absolute)) {
        host /= std::string(1, upper(absolute[0]));
        at = 2;
    } else if (absolute.compare(0, 4, "\\\\?\\") == 0) {
        host /= "DEVICE";
        at = 4;
    } else {
        host /= "UNC";
        at = 2;
    }
    std::vector<std::string> parts;
    while (at < absolute.size()) {
        size_t end = absolute.find('\\', at);
        if (end == std::string::npos) end = absolute.size();
        if (end > at) parts.push_back(absolute.substr(at, end - at));
        at = end + 1;
    }
    bool matching = true;
    for (const std::string& comp : parts) {
        // Only a server's or share's name can still be dots here: it names nothing, and
        // never a folder above the machine's root.
        if (comp == "." || comp == "..") return (fs::path(root) / "DEVICE" / "NOWHERE").string();
        if (matching) {
            std::error_code ec;
            fs::path exact = host / comp;
            if (fs::exists(exact, ec)) {
                host = exact;
                continue;
            }
            // Short (8.3) names lead to the same entry, as they do on Windows.
            const std::string name = fs::is_directory(host, ec) ? entryNamed(host, comp) : std::string();
            if (!name.empty()) {
                host /= name;
                continue;
            }
            matching = false;
        }
        host /= comp;
    }
    return host.string();
}

std::string realWindowsPath(const std::string& root, const std::string& host) {
    std::error_code ec;
    const std::string base = fs::canonical(root, ec).string() + "/";
    const std::string real = fs::weakly_canonical(host, ec).string();
    if (ec || real.compare(0, base.size(), base) != 0 || real.size() == base.size()) return std::string();
    std::vector<std::string> parts;
    for (size_t at = base.size(); at <= real.size();) {
        size_t end = real.find('/', at);
        if (end == std::string::npos) end = real.size();
        if (end > at) parts.push_back(real.substr(at, end - at));
        at = end + 1;
    }
    std::string path;
    size_t names = 1;
    if (parts[0].size() == 1 && std::isalpha(static_cast<unsigned char>(parts[0][0]))) {
        path = std::string(1, upper(parts[0][0])) + ":\\";
    } else if (parts[0] == "UNC" && parts.size() >= 3) {
        path = "\\\\" + parts[1] + "\\" + parts[2] + "\\";
        names = 3;
    } else {
        return std::string();
    }
    for (size_t k = names; k < parts.size(); ++k) path = joinName(path, parts[k]);
    return path;
}

std::string joinName(const std::string& folder, const std::string& name) {
    return folder.empty() || folder.back() == '\\' ? folder + name : folder + "\\" + name;
}

std::string baseName(const std::string& path) {
    size_t i = path.find_last_of("\\/");
    return i == std::string::npos ? path : path.substr(i + 1);
}

}  // namespace winsim::paths
