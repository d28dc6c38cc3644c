#include "paths.h"

#include "winsim/control.h"

#include <cctype>
#include <filesystem>

namespace fs = std::filesystem;

namespace winsim::paths {

namespace {

bool isSep(char c) { return c == '\\' || c == '/'; }

// Trailing dots and blanks of a name, which Windows drops ("." and ".." stay).
std::string trimComponent(const std::string& c) {
    if (c == "." || c == "..") return c;
    size_t end = c.size();
    while (end > 0 && (c[end - 1] == '.' || c[end - 1] == ' ')) --end;
    return c.substr(0, end);
}

}  // namespace

std::string full(const std::string& path, const std::string& currentDir) {
    std::string p = path;
    for (char& c : p)
        if (c == '/') c = '\\';
    std::string base;
    std::string rest;
    if (p.size() >= 2 && std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':') {
        base = std::string(1, static_cast<char>(std::toupper(static_cast<unsigned char>(p[0])))) + ":";
        rest = p.substr(2);
        if (rest.empty() || !isSep(rest[0])) {
            // "C:x" is relative to that drive's current directory; only the current drive has one here.
            if (!currentDir.empty() && std::toupper(static_cast<unsigned char>(currentDir[0])) == base[0])
                rest = currentDir.substr(2) + "\\" + rest;
            else
                rest = "\\" + rest;
        }
    } else if (!p.empty() && isSep(p[0])) {
        base = currentDir.substr(0, 2);
        rest = p;
    } else {
        base = currentDir.substr(0, 2);
        rest = currentDir.substr(2) + "\\" + p;
    }
    bool trailing = !p.empty() && isSep(p.back());
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
    std::string result = base + "\\";
    for (size_t k = 0; k < out.size(); ++k) {
        if (k) result += "\\";
        result += out[k];
    }
    if (trailing && !out.empty()) result += "\\";
    return result;
}

Split split(const std::string& absolute) {
    Split s;
    if (!absolute.empty()) s.drive = static_cast<char>(std::toupper(static_cast<unsigned char>(absolute[0])));
    size_t i = absolute.find('\\');
    while (i != std::string::npos && i < absolute.size()) {
        size_t j = absolute.find('\\', i + 1);
        std::string comp = absolute.substr(i + 1, j == std::string::npos ? std::string::npos : j - i - 1);
        if (!comp.empty()) s.parts.push_back(comp);
        i = j;
    }
    return s;
}

std::string toHost(const std::string& root, const std::string& absolute) {
    Split s = split(absolute);
    fs::path host = fs::path(root) / std::string(1, s.drive);
    bool matching = true;
    for (const std::string& comp : s.parts) {
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
    std::string path(1, static_cast<char>(std::toupper(static_cast<unsigned char>(real[base.size()]))));
    path += ":\\";
    const size_t rest = base.size() + 2;
    for (size_t i = rest; i < real.size(); ++i) path += real[i] == '/' ? '\\' : real[i];
    return path;
}

std::string baseName(const std::string& path) {
    size_t i = path.find_last_of("\\/");
    return i == std::string::npos ? path : path.substr(i + 1);
}

}  // namespace winsim::paths
