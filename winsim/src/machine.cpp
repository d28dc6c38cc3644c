// The simulated machine: its file system (drive letters below a temporary host
// folder), settings, and the pointer through which the Win32 face finds it.
#include "kernel_handles.h"
#include "module_table.h"
#include "paths.h"
#include "winsim/control.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace winsim {

namespace {
Machine* g_current = nullptr;
}

Machine::Machine() : modules_(std::make_unique<ModuleTable>()) {
    if (g_current) {
        std::fprintf(stderr, "winsim: only one Machine may exist at a time\n");
        std::abort();
    }
    std::string tmpl = (fs::temp_directory_path() / "winsim-XXXXXX").string();
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) throw std::runtime_error("winsim: cannot create the machine's root folder");
    root_ = buf.data();
    fs::create_directories(fs::path(root_) / "C");
    currentDir_ = systemDirectory;
    g_current = this;
    // Windows' own lists (7 and later; the entries for app containers left out):
    // signed-in users may make folders in the root and change what is made there; the
    // system's folders only the system and administrators change.
    const DWORD modify = DELETE | GENERIC_EXECUTE | GENERIC_WRITE | GENERIC_READ;
    const DWORD readExecute = FILE_GENERIC_READ | FILE_GENERIC_EXECUTE;
    setAccessList("C:\\", {kSidSystem, true,
                            {{kSidSystem, true, true, FILE_ALL_ACCESS},
                             {kSidAdministrators, true, true, FILE_ALL_ACCESS},
                             {kSidUsers, true, true, readExecute},
                             {kSidAuthenticatedUsers, true, true, modify, true},
                             {kSidAuthenticatedUsers, true, false, FILE_ADD_SUBDIRECTORY},
                             {kSidCreatorOwner, true, true, GENERIC_ALL, true}}});
    const AccessList systemFolder = {kSidTrustedInstaller, true,
                                     {{kSidTrustedInstaller, true, true, FILE_ALL_ACCESS},
                                      {kSidSystem, true, true, FILE_ALL_ACCESS},
                                      {kSidAdministrators, true, true, FILE_ALL_ACCESS},
                                      {kSidUsers, true, true, readExecute},
                                      {kSidCreatorOwner, true, true, GENERIC_ALL, true}}};
    for (const char* folder : {"C:\\Windows", "C:\\Program Files", "C:\\Program Files (x86)"}) {
        makeDirs(folder);
        setAccessList(folder, systemFolder);
    }
    makeDirs(systemDirectory);
    makeDirs("C:\\Windows\\Temp");
    makeDirs(tempDirectory);
    environment["PATH"] = systemDirectory + ";C:\\Windows";
    environment["SystemRoot"] = "C:\\Windows";
    environment["TEMP"] = tempDirectory;
    environment["TMP"] = tempDirectory;
}

Machine::~Machine() {
    closeAllKernelHandles();
    modules_.reset();
    std::error_code ec;
    fs::remove_all(root_, ec);
    g_current = nullptr;
}

Machine& Machine::current() {
    if (!g_current) {
        std::fprintf(stderr, "winsim: a Win32 function was called with no Machine\n");
        std::abort();
    }
    return *g_current;
}

Machine* Machine::currentOrNull() { return g_current; }

std::string Machine::fullPath(const std::string& winPath) const {
    std::lock_guard<std::recursive_mutex> g(lock_);
    return paths::full(winPath, currentDir_);
}

std::string Machine::hostPath(const std::string& winPath) const {
    std::lock_guard<std::recursive_mutex> g(lock_);
    return paths::toHost(root_, paths::full(winPath, currentDir_));
}

void Machine::makeDirs(const std::string& winPath) {
    fs::create_directories(hostPath(winPath));
}

void Machine::writeFile(const std::string& winPath, const std::string& bytes) {
    std::string host = hostPath(winPath);
    fs::create_directories(fs::path(host).parent_path());
    std::ofstream out(host, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("winsim: cannot write " + winPath);
}

void Machine::copyFileIn(const std::string& hostSource, const std::string& winPath) {
    std::ifstream in(hostSource, std::ios::binary);
    if (!in) throw std::runtime_error("winsim: cannot read " + hostSource);
    std::ostringstream ss;
    ss << in.rdbuf();
    writeFile(winPath, ss.str());
}

std::string Machine::readFile(const std::string& winPath) const {
    std::ifstream in(hostPath(winPath), std::ios::binary);
    if (!in) throw std::runtime_error("winsim: cannot read " + winPath);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool Machine::fileExists(const std::string& winPath) const {
    std::error_code ec;
    return fs::is_regular_file(hostPath(winPath), ec);
}

bool Machine::dirExists(const std::string& winPath) const {
    std::error_code ec;
    return fs::is_directory(hostPath(winPath), ec);
}

std::string Machine::currentDirectory() const {
    std::lock_guard<std::recursive_mutex> g(lock_);
    return currentDir_;
}

void Machine::setCurrentDirectory(const std::string& winPath) {
    std::lock_guard<std::recursive_mutex> g(lock_);
    currentDir_ = paths::full(winPath, currentDir_);
}

void Machine::registerNativeModule(const std::string& baseName, std::map<std::string, FARPROC> exports) {
    std::lock_guard<std::recursive_mutex> g(lock_);
    native_[baseName] = std::move(exports);
}

const std::map<std::string, FARPROC>* Machine::nativeExports(const std::string& baseName) const {
    std::lock_guard<std::recursive_mutex> g(lock_);
    auto it = native_.find(baseName);
    return it == native_.end() ? nullptr : &it->second;
}

void Machine::setComponent(const std::string& product, const std::string& component, INSTALLSTATE state,
                           const std::string& path) {
    std::lock_guard<std::recursive_mutex> g(lock_);
    components_[product + "|" + component] = ComponentState{state, path};
}

std::optional<Machine::ComponentState> Machine::component(const std::string& product,
                                                          const std::string& component) const {
    std::lock_guard<std::recursive_mutex> g(lock_);
    auto it = components_.find(product + "|" + component);
    if (it == components_.end()) return std::nullopt;
    return it->second;
}

void Machine::setProduct(const std::string& product, ProductRegistration registration) {
    std::lock_guard<std::recursive_mutex> g(lock_);
    products_[product] = std::move(registration);
}

std::optional<Machine::ProductRegistration> Machine::product(const std::string& product) const {
    std::lock_guard<std::recursive_mutex> g(lock_);
    auto it = products_.find(product);
    if (it == products_.end()) return std::nullopt;
    return it->second;
}

}  // namespace winsim

namespace winsim {

void Machine::setVolumeFreeSpace(char drive, unsigned long long bytes) {
    std::lock_guard<std::recursive_mutex> g(lock_);
    volumeFree_[static_cast<char>(std::toupper(static_cast<unsigned char>(drive)))] = bytes;
}

std::optional<unsigned long long> Machine::volumeFreeSpace(char drive) const {
    std::lock_guard<std::recursive_mutex> g(lock_);
    auto it = volumeFree_.find(static_cast<char>(std::toupper(static_cast<unsigned char>(drive))));
    return it == volumeFree_.end() ? std::nullopt : std::optional<unsigned long long>(it->second);
}

void Machine::setDriveType(char letter, UINT type) {
    std::lock_guard<std::recursive_mutex> g(lock_);
    const char drive = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
    driveTypes_[drive] = type;
    if (type != DRIVE_UNKNOWN && type != DRIVE_NO_ROOT_DIR)
        fs::create_directories(fs::path(root_) / std::string(1, drive));
}

UINT Machine::driveType(char letter) const {
    std::lock_guard<std::recursive_mutex> g(lock_);
    const char drive = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
    if (drive < 'A' || drive > 'Z') return DRIVE_NO_ROOT_DIR;
    auto it = driveTypes_.find(drive);
    if (it != driveTypes_.end()) return it->second;
    std::error_code ec;
    return fs::is_directory(fs::path(root_) / std::string(1, drive), ec) ? DRIVE_FIXED : DRIVE_NO_ROOT_DIR;
}

bool Machine::isRemote(const std::string& winPath) const {
    const std::string full = fullPath(winPath);
    if (full.size() >= 2 && full[1] == ':') return driveType(full[0]) == DRIVE_REMOTE;
    return full.compare(0, 2, "\\\\") == 0 && full.compare(0, 4, "\\\\?\\") != 0;
}

size_t Machine::remoteTouches() const {
    std::lock_guard<std::recursive_mutex> g(lock_);
    return remoteTouches_;
}

void Machine::noteFileSystemCall(const std::string& winPath) {
    std::lock_guard<std::recursive_mutex> g(lock_);
    if (isRemote(winPath)) ++remoteTouches_;
}

bool takeVolumeSpace(char drive, unsigned long long bytes) {
    Machine* m = Machine::currentOrNull();
    if (!m) return true;
    auto left = m->volumeFreeSpace(drive);
    if (!left) return true;
    if (bytes > *left) return false;
    m->setVolumeFreeSpace(drive, *left - bytes);
    return true;
}

void returnVolumeSpace(char drive, unsigned long long bytes) {
    Machine* m = Machine::currentOrNull();
    if (!m) return;
    if (auto left = m->volumeFreeSpace(drive)) m->setVolumeFreeSpace(drive, *left + bytes);
}

}  // namespace winsim
