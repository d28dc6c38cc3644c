// The registry of the simulated Windows: four hives of keys, the advapi32 Reg*A functions
// over them, WOW64 redirection for 32-bit callers, and faults for tests.
//
// Values are kept as the A functions see them (ANSI bytes); the real registry keeps UTF-16,
// which only shows through in the terminator fix-up that RegSetValueExA makes.
//
// HKEY_CURRENT_USER is its own hive rather than a link to HKEY_USERS\<sid>, and
// HKEY_CLASSES_ROOT is a separate simple root for now, not the merged view of
// HKLM\SOFTWARE\Classes and HKCU\Software\Classes that Windows presents.
#include "winsim/control.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <set>
#include <utility>

// Codes and rights the Win32 face does not declare but the registry returns or accepts.
namespace {
constexpr LONG kErrorBadPathname = 161L;   // ERROR_BAD_PATHNAME
constexpr LONG kErrorNoAccess = 998L;      // ERROR_NOACCESS
constexpr REGSAM kMaximumAllowed = 0x02000000;
constexpr REGSAM kGenericRead = 0x80000000;
constexpr REGSAM kGenericWrite = 0x40000000;
constexpr REGSAM kGenericExecute = 0x20000000;
constexpr REGSAM kGenericAll = 0x10000000;
constexpr REGSAM kViewBits = KEY_WOW64_32KEY | KEY_WOW64_64KEY;
constexpr REGSAM kAllKeyRights = KEY_ALL_ACCESS;
// What a "deny write" ACL takes away.
constexpr REGSAM kWriteRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | DELETE | WRITE_DAC | WRITE_OWNER | KEY_CREATE_LINK;
}  // namespace

namespace winsim {

// The registry orders names by their upper-case form (so '_' sorts after the letters).
bool NoCaseLess::operator()(const std::string& a, const std::string& b) const {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const int ca = std::toupper(static_cast<unsigned char>(a[i]));
        const int cb = std::toupper(static_cast<unsigned char>(b[i]));
        if (ca != cb) return ca < cb;
    }
    return a.size() < b.size();
}

bool equalsNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

namespace {

using Path = std::vector<std::string>;

struct Node {
    std::string name;  // as first created
    std::string className;
    std::map<std::string, std::shared_ptr<Node>, NoCaseLess> children;
    std::vector<std::pair<std::string, RegValue>> values;  // in creation order
    bool deleted = false;
    FILETIME lastWrite{};
};

FILETIME now() {
    // 100 ns ticks since 1601-01-01.
    const auto since1970 = std::chrono::duration_cast<std::chrono::nanoseconds>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count();
    const uint64_t ticks = static_cast<uint64_t>(since1970 / 100) + 116444736000000000ULL;
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(ticks & 0xffffffffu);
    ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return ft;
}

void touch(Node& n) { n.lastWrite = now(); }

std::string upper(const std::string& s) {
    std::string r = s;
    for (char& c : r) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return r;
}

std::string joinUpper(const Path& p) {
    std::string r;
    for (const auto& c : p) {
        if (!r.empty()) r += '\\';
        r += upper(c);
    }
    return r;
}

// Control-face paths: lenient, empty components are skipped.
Path splitLenient(const std::string& path) {
    Path out;
    std::string cur;
    for (char c : path) {
        if (c == '\\') {
            if (!cur.empty()) out.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) out.push_back(cur);
    return out;
}

// Win32-face subkey names: a leading backslash is refused as Windows refuses it, trailing
// ones are ignored.
LONG splitSubkey(const char* sub, Path& out) {
    out.clear();
    if (!sub || !*sub) return ERROR_SUCCESS;
    if (*sub == '\\') return kErrorBadPathname;
    out = splitLenient(sub);
    return ERROR_SUCCESS;
}

bool startsWith(const Path& p, std::initializer_list<const char*> prefix) {
    if (p.size() < prefix.size()) return false;
    size_t i = 0;
    for (const char* c : prefix) {
        if (!equalsNoCase(p[i++], c)) return false;
    }
    return true;
}

// Keys under HKLM\SOFTWARE that both views share (Windows 7 and later), relative to SOFTWARE.
// Subkeys inherit their parent's behaviour.
const std::vector<Path>& sharedSoftwareKeys() {
    static const std::vector<Path> keys = [] {
        const char* list[] = {
            "Microsoft\\COM3",
            "Microsoft\\Cryptography\\Calais\\Current",
            "Microsoft\\Cryptography\\Calais\\Readers",
            "Microsoft\\Cryptography\\Services",
            "Microsoft\\CTF\\SystemShared",
            "Microsoft\\CTF\\TIP",
            "Microsoft\\DFS",
            "Microsoft\\Driver Signing",
            "Microsoft\\EnterpriseCertificates",
            "Microsoft\\EventSystem",
            "Microsoft\\MSMQ",
            "Microsoft\\Non-Driver Signing",
            "Microsoft\\Notepad\\DefaultFonts",
            "Microsoft\\OLE",
            "Microsoft\\RAS",
            "Microsoft\\RPC",
            "Microsoft\\SOFTWARE\\Microsoft\\Shared Tools\\MSInfo",
            "Microsoft\\SystemCertificates",
            "Microsoft\\TermServLicensing",
            "Microsoft\\Transaction Server",
            "Microsoft\\Windows\\CurrentVersion\\App Paths",
            "Microsoft\\Windows\\CurrentVersion\\Control Panel\\Cursors\\Schemes",
            "Microsoft\\Windows\\CurrentVersion\\Explorer\\AutoplayHandlers",
            "Microsoft\\Windows\\CurrentVersion\\Explorer\\DriveIcons",
            "Microsoft\\Windows\\CurrentVersion\\Explorer\\KindMap",
            "Microsoft\\Windows\\CurrentVersion\\Group Policy",
            "Microsoft\\Windows\\CurrentVersion\\Policies",
            "Microsoft\\Windows\\CurrentVersion\\PreviewHandlers",
            "Microsoft\\Windows\\CurrentVersion\\Setup",
            "Microsoft\\Windows\\CurrentVersion\\Telephony",
            "Microsoft\\Windows NT\\CurrentVersion\\Console",
            "Microsoft\\Windows NT\\CurrentVersion\\FontDpi",
            "Microsoft\\Windows NT\\CurrentVersion\\FontLink",
            "Microsoft\\Windows NT\\CurrentVersion\\FontMapper",
            "Microsoft\\Windows NT\\CurrentVersion\\Fonts",
            "Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes",
            "Microsoft\\Windows NT\\CurrentVersion\\Gre_Initialize",
            "Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options",
            "Microsoft\\Windows NT\\CurrentVersion\\LanguagePack",
            "Microsoft\\Windows NT\\CurrentVersion\\NetworkCards",
            "Microsoft\\Windows NT\\CurrentVersion\\Perflib",
            "Microsoft\\Windows NT\\CurrentVersion\\Ports",
            "Microsoft\\Windows NT\\CurrentVersion\\Print",
            "Microsoft\\Windows NT\\CurrentVersion\\ProfileList",
            "Microsoft\\Windows NT\\CurrentVersion\\Time Zones",
            "Policies",
            "RegisteredApplications",
        };
        std::vector<Path> v;
        for (const char* s : list) v.push_back(splitLenient(s));
        return v;
    }();
    return keys;
}

bool isPrefix(const Path& prefix, const Path& p, size_t offset) {
    if (p.size() < offset + prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (!equalsNoCase(prefix[i], p[offset + i])) return false;
    }
    return true;
}

// Classes keys that stay per-view inside the otherwise shared Classes trees.
bool isRedirectedClassesChild(const std::string& name) {
    static const char* names[] = {"CLSID", "DirectShow", "Interface", "Media Type", "MediaFoundation"};
    for (const char* n : names) {
        if (equalsNoCase(name, n)) return true;
    }
    return false;
}

// Maps a key as a caller of one view names it to where it lives.
Path redirect(Hive hive, const Path& logical, bool view32) {
    if (!view32) return logical;
    Path p = logical;
    if (hive == Hive::LocalMachine && startsWith(p, {"SOFTWARE"})) {
        if (p.size() >= 2 && equalsNoCase(p[1], "WOW6432Node")) return p;  // already physical
        if (p.size() >= 2 && equalsNoCase(p[1], "Classes")) {
            // Classes is shared; a few COM subtrees move to Classes\WOW6432Node.
            if (p.size() >= 3 && isRedirectedClassesChild(p[2])) p.insert(p.begin() + 2, "WOW6432Node");
            return p;
        }
        for (const auto& shared : sharedSoftwareKeys()) {
            if (isPrefix(shared, p, 1)) return p;
        }
        p.insert(p.begin() + 1, "WOW6432Node");
        return p;
    }
    if (hive == Hive::CurrentUser && startsWith(p, {"Software", "Classes"})) {
        // HKCU\Software itself is shared; only these COM subtrees of its Classes are not.
        if (p.size() >= 3 && isRedirectedClassesChild(p[2])) p.insert(p.begin() + 2, "WOW6432Node");
        return p;
    }
    return p;
}

struct KeyHandle {
    Hive hive;
    Path logical;   // as the caller named it, in its view
    Path physical;  // where it lives
    bool view32 = false;
    REGSAM granted = 0;
    std::shared_ptr<Node> node;
};

REGSAM mapGeneric(REGSAM sam) {
    REGSAM r = sam & ~(kGenericRead | kGenericWrite | kGenericExecute | kGenericAll | kViewBits);
    if (sam & kGenericRead) r |= KEY_READ;
    if (sam & kGenericWrite) r |= KEY_WRITE;
    if (sam & kGenericExecute) r |= KEY_EXECUTE;
    if (sam & kGenericAll) r |= KEY_ALL_ACCESS;
    return r;
}

bool isPredefinedValue(HKEY h, Hive& hive) {
    // Windows looks at the low 32 bits only.
    switch (static_cast<uint32_t>(reinterpret_cast<uintptr_t>(h))) {
        case 0x80000000u: hive = Hive::ClassesRoot; return true;
        case 0x80000001u: hive = Hive::CurrentUser; return true;
        case 0x80000002u: hive = Hive::LocalMachine; return true;
        case 0x80000003u: hive = Hive::Users; return true;
        default: return false;
    }
}

}  // namespace

struct Registry::Impl {
    std::shared_ptr<Node> roots[4];
    std::set<KeyHandle*> handles;
    std::map<std::pair<int, std::string>, LONG> openFaults;
    std::set<std::pair<int, std::string>> denied;
    std::map<std::pair<int, std::string>, AccessList> lists;

    Impl() {
        for (auto& r : roots) {
            r = std::make_shared<Node>();
            touch(*r);
        }
    }
    ~Impl() {
        for (KeyHandle* h : handles) delete h;
    }

    std::shared_ptr<Node>& root(Hive h) { return roots[static_cast<int>(h)]; }

    std::shared_ptr<Node> find(Hive hive, const Path& p) {
        std::shared_ptr<Node> n = root(hive);
        for (const auto& c : p) {
            auto it = n->children.find(c);
            if (it == n->children.end()) return nullptr;
            n = it->second;
        }
        return n;
    }

    std::shared_ptr<Node> ensure(Hive hive, const Path& p) {
        std::shared_ptr<Node> n = root(hive);
        for (const auto& c : p) {
            auto it = n->children.find(c);
            if (it == n->children.end()) {
                auto child = std::make_shared<Node>();
                child->name = c;
                touch(*child);
                it = n->children.emplace(c, child).first;
                touch(*n);
            }
            n = it->second;
        }
        return n;
    }

    static void markDeleted(Node& n) {
        n.deleted = true;
        for (auto& c : n.children) markDeleted(*c.second);
        n.children.clear();
        n.values.clear();
    }

    const LONG* openFault(Hive hive, const Path& p) const {
        auto it = openFaults.find({static_cast<int>(hive), joinUpper(p)});
        return it == openFaults.end() ? nullptr : &it->second;
    }
    bool writeDenied(Hive hive, const Path& p) const {
        if (denied.count({static_cast<int>(hive), joinUpper(p)}) != 0) return true;
        if (lists.empty()) return false;
        // The key's own list first, then its parents' up to the hive's root.
        std::vector<const AccessList*> chain;
        for (size_t n = p.size() + 1; n-- > 0;) {
            auto it = lists.find({static_cast<int>(hive), joinUpper(Path(p.begin(), p.begin() + n))});
            chain.push_back(it == lists.end() ? nullptr : &it->second);
        }
        Machine* m = Machine::currentOrNull();
        return m && !writeAllowed(chain, m->tokenSids());
    }

    // Access a new handle to this key gets, or ERROR_ACCESS_DENIED.
    LONG grant(Hive hive, const Path& physical, REGSAM sam, REGSAM& granted) const {
        const bool maximum = (sam & kMaximumAllowed) != 0;
        REGSAM want = mapGeneric(sam & ~kMaximumAllowed);
        REGSAM allowed = kAllKeyRights;
        if (writeDenied(hive, physical)) allowed &= ~kWriteRights;
        if (maximum) want |= allowed;
        if (want & ~allowed & kWriteRights) return ERROR_ACCESS_DENIED;
        granted = want;
        return ERROR_SUCCESS;
    }

    HKEY newHandle(Hive hive, Path logical, Path physical, bool view32, REGSAM granted, std::shared_ptr<Node> node) {
        auto* h = new KeyHandle{hive, std::move(logical), std::move(physical), view32, granted, std::move(node)};
        handles.insert(h);
        return reinterpret_cast<HKEY>(h);
    }
};

namespace {

// What a HKEY argument refers to: a live handle, or a predefined root seen in the process's view.
struct Base {
    Hive hive = Hive::LocalMachine;
    Path logical;
    Path physical;
    bool view32 = false;
    REGSAM granted = 0;
    std::shared_ptr<Node> node;
    bool predefined = false;
};

Registry::Impl& reg() { return Machine::current().registry().impl(); }

LONG resolve(Registry::Impl& r, HKEY h, Base& out) {
    auto* kh = reinterpret_cast<KeyHandle*>(h);
    if (h && r.handles.count(kh)) {
        out.hive = kh->hive;
        out.logical = kh->logical;
        out.physical = kh->physical;
        out.view32 = kh->view32;
        out.granted = kh->granted;
        out.node = kh->node;
        out.predefined = false;
        return ERROR_SUCCESS;
    }
    Hive hive;
    if (h && isPredefinedValue(h, hive)) {
        out.hive = hive;
        out.logical.clear();
        out.physical.clear();
        out.view32 = Machine::current().wow64Process;
        out.node = r.root(hive);
        out.predefined = true;
        out.granted = kAllKeyRights;
        if (r.writeDenied(hive, Path{})) out.granted &= ~kWriteRights;
        return ERROR_SUCCESS;
    }
    return ERROR_INVALID_HANDLE;
}

// The view an open, create or delete acts in: the explicit flag, else the handle's.
LONG chooseView(REGSAM sam, const Base& base, bool& view32) {
    const REGSAM v = sam & kViewBits;
    if (v == kViewBits) return ERROR_INVALID_PARAMETER;
    if (v == KEY_WOW64_32KEY) view32 = true;
    else if (v == KEY_WOW64_64KEY) view32 = false;
    else view32 = base.view32;
    return ERROR_SUCCESS;
}

Path concat(const Path& a, const Path& b) {
    Path r = a;
    r.insert(r.end(), b.begin(), b.end());
    return r;
}

// Where a subkey path below a handle leads: the handle's key, the view in force, and
// the subkey's path as the caller names it and as it is stored. `clear` (may be null)
// is emptied once the handle is known to be valid, as the open and create calls do.
struct Target {
    Base base;
    bool view32 = false;
    Path logical;
    Path physical;
};

LONG locate(Registry::Impl& r, HKEY h, REGSAM sam, const char* subkey, PHKEY clear, Target& t) {
    LONG rc = resolve(r, h, t.base);
    if (rc != ERROR_SUCCESS) return rc;
    if (clear) *clear = nullptr;
    if ((rc = chooseView(sam, t.base, t.view32)) != ERROR_SUCCESS) return rc;
    Path sub;
    if ((rc = splitSubkey(subkey, sub)) != ERROR_SUCCESS) return rc;
    if (t.base.node->deleted) return ERROR_KEY_DELETED;
    t.logical = concat(t.base.logical, sub);
    t.physical = redirect(t.base.hive, t.logical, t.view32);
    return ERROR_SUCCESS;
}

// For value and enumeration calls: the key behind the handle, checked for access.
LONG keyFor(Registry::Impl& r, HKEY h, REGSAM need, std::shared_ptr<Node>& node) {
    Base base;
    LONG rc = resolve(r, h, base);
    if (rc != ERROR_SUCCESS) return rc;
    if ((base.granted & need) != need) return ERROR_ACCESS_DENIED;
    if (base.node->deleted) return ERROR_KEY_DELETED;
    node = base.node;
    return ERROR_SUCCESS;
}

bool isStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

}  // namespace

// ---- control face ----

namespace {
// The control face may run while a custom action's threads use the Win32 face.
struct ControlLock {
    std::unique_lock<std::recursive_mutex> lock;
    explicit ControlLock(const Registry* r) {
        Machine* m = Machine::currentOrNull();
        if (m && &m->registry() == r) lock = std::unique_lock<std::recursive_mutex>(m->lock());
    }
};
}  // namespace

Registry::Registry() : impl_(std::make_unique<Impl>()) {}
Registry::~Registry() = default;

void Registry::createKey(Hive hive, const std::string& path) {
    ControlLock g(this);
    impl_->ensure(hive, splitLenient(path));
}

void Registry::setValue(Hive hive, const std::string& path, const std::string& name, DWORD type,
                        const std::vector<BYTE>& data) {
    ControlLock g(this);
    auto node = impl_->ensure(hive, splitLenient(path));
    for (auto& v : node->values) {
        if (equalsNoCase(v.first, name)) {
            v.second = RegValue{type, data};
            touch(*node);
            return;
        }
    }
    node->values.emplace_back(name, RegValue{type, data});
    touch(*node);
}

void Registry::setString(Hive hive, const std::string& path, const std::string& name, const std::string& value,
                         DWORD type) {
    std::vector<BYTE> data(value.begin(), value.end());
    data.push_back(0);
    if (type == REG_MULTI_SZ && (value.empty() || value.back() != '\0')) data.push_back(0);
    setValue(hive, path, name, type, data);
}

void Registry::setDword(Hive hive, const std::string& path, const std::string& name, DWORD value) {
    std::vector<BYTE> data(4);
    for (int i = 0; i < 4; ++i) data[i] = static_cast<BYTE>((value >> (8 * i)) & 0xff);
    setValue(hive, path, name, REG_DWORD, data);
}

std::optional<RegValue> Registry::value(Hive hive, const std::string& path, const std::string& name) const {
    ControlLock g(this);
    auto node = impl_->find(hive, splitLenient(path));
    if (!node) return std::nullopt;
    for (const auto& v : node->values) {
        if (equalsNoCase(v.first, name)) return v.second;
    }
    return std::nullopt;
}

std::optional<std::string> Registry::getString(Hive hive, const std::string& path, const std::string& name) const {
    auto v = value(hive, path, name);
    if (!v) return std::nullopt;
    std::string s(v->data.begin(), v->data.end());
    const size_t nul = s.find('\0');
    if (nul != std::string::npos) s.resize(nul);
    return s;
}

bool Registry::keyExists(Hive hive, const std::string& path) const {
    ControlLock g(this);
    return impl_->find(hive, splitLenient(path)) != nullptr;
}

std::vector<std::string> Registry::subkeys(Hive hive, const std::string& path) const {
    ControlLock g(this);
    std::vector<std::string> out;
    auto node = impl_->find(hive, splitLenient(path));
    if (node) {
        for (const auto& c : node->children) out.push_back(c.second->name);
    }
    return out;
}

std::vector<std::string> Registry::valueNames(Hive hive, const std::string& path) const {
    ControlLock g(this);
    std::vector<std::string> out;
    auto node = impl_->find(hive, splitLenient(path));
    if (node) {
        for (const auto& v : node->values) out.push_back(v.first);
    }
    return out;
}

void Registry::deleteKey(Hive hive, const std::string& path) {
    ControlLock g(this);
    Path p = splitLenient(path);
    if (p.empty()) {
        // A hive root stays; its contents go.
        auto root = impl_->root(hive);
        for (auto& c : root->children) Impl::markDeleted(*c.second);
        root->children.clear();
        root->values.clear();
        return;
    }
    auto parent = impl_->find(hive, Path(p.begin(), p.end() - 1));
    if (!parent) return;
    auto it = parent->children.find(p.back());
    if (it == parent->children.end()) return;
    Impl::markDeleted(*it->second);
    parent->children.erase(it);
    touch(*parent);
}

void Registry::failOpen(Hive hive, const std::string& path, LONG code) {
    ControlLock g(this);
    impl_->openFaults[{static_cast<int>(hive), joinUpper(splitLenient(path))}] = code;
}

void Registry::denyWrite(Hive hive, const std::string& path) {
    ControlLock g(this);
    impl_->denied.insert({static_cast<int>(hive), joinUpper(splitLenient(path))});
}

void Registry::setAccessList(Hive hive, const std::string& path, const AccessList& list) {
    ControlLock g(this);
    impl_->lists[{static_cast<int>(hive), joinUpper(splitLenient(path))}] = list;
}

void Registry::clearFaults() {
    ControlLock g(this);
    impl_->openFaults.clear();
    impl_->denied.clear();
}

size_t Registry::openHandleCount() const {
    ControlLock g(this);
    return impl_->handles.size();
}

}  // namespace winsim

// ---- Win32 face ----

using winsim::Base;
using winsim::Hive;
using winsim::Machine;
using winsim::Path;
using winsim::Registry;

extern "C" {

LONG WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult) {
    std::lock_guard<std::recursive_mutex> g(Machine::current().lock());
    auto& r = winsim::reg();
    Hive predefinedHive;
    const bool predefined = hKey && winsim::isPredefinedValue(hKey, predefinedHive) &&
                            !r.handles.count(reinterpret_cast<winsim::KeyHandle*>(hKey));
    // A predefined key with no subkey name comes back as itself.
    if (phkResult && predefined && (!lpSubKey || !*lpSubKey)) {
        *phkResult = hKey;
        return ERROR_SUCCESS;
    }
    // HKEY_CLASSES_ROOT alone tolerates a leading backslash.
    if (predefined && predefinedHive == Hive::ClassesRoot && lpSubKey && *lpSubKey == '\\') ++lpSubKey;
    if (!phkResult) return ERROR_INVALID_PARAMETER;

    winsim::Target t;
    LONG rc = winsim::locate(r, hKey, samDesired, lpSubKey, phkResult, t);
    if (rc != ERROR_SUCCESS) return rc;
    const Base& base = t.base;
    Path& physical = t.physical;
    auto node = r.find(base.hive, physical);
    if (!node) return ERROR_FILE_NOT_FOUND;
    if (const LONG* code = r.openFault(base.hive, physical)) return *code;
    REGSAM granted = 0;
    if ((rc = r.grant(base.hive, physical, samDesired, granted)) != ERROR_SUCCESS) return rc;
    *phkResult = r.newHandle(base.hive, std::move(t.logical), std::move(physical), t.view32, granted, node);
    return ERROR_SUCCESS;
}

LONG WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions,
                            REGSAM samDesired, const LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                            PHKEY phkResult, LPDWORD lpdwDisposition) {
    std::lock_guard<std::recursive_mutex> g(Machine::current().lock());
    auto& r = winsim::reg();
    if (!phkResult) return ERROR_BADKEY;
    if (Reserved) return ERROR_INVALID_PARAMETER;
    // Windows ignores the access the parent handle was opened with; only the key's own
    // security (denyWrite here) decides whether a subkey may be created.
    winsim::Target t;
    LONG rc = winsim::locate(r, hKey, samDesired, lpSubKey, phkResult, t);
    if (rc != ERROR_SUCCESS) return rc;
    const Base& base = t.base;
    Path& physical = t.physical;

    // Check everything before creating anything, so a failure leaves no keys behind.
    std::shared_ptr<winsim::Node> node = r.root(base.hive);
    size_t existing = 0;
    for (; existing < physical.size(); ++existing) {
        auto it = node->children.find(physical[existing]);
        if (it == node->children.end()) break;
        node = it->second;
    }
    const bool exists = existing == physical.size();
    if (!exists) {
        // advapi32 walks the path key by key when part of it is missing.
        const size_t from = std::min(base.physical.size(), physical.size());
        for (size_t depth = from + 1; depth <= physical.size(); ++depth) {
            Path p(physical.begin(), physical.begin() + depth);
            if (const LONG* code = r.openFault(base.hive, p)) return *code;
        }
        Path parent(physical.begin(), physical.begin() + existing);
        if (r.writeDenied(base.hive, parent)) return ERROR_ACCESS_DENIED;
    } else if (const LONG* code = r.openFault(base.hive, physical)) {
        return *code;
    }
    REGSAM granted = 0;
    if ((rc = r.grant(base.hive, physical, samDesired, granted)) != ERROR_SUCCESS) return rc;

    if (!exists) {
        node = r.ensure(base.hive, physical);
        if (lpClass) node->className = lpClass;
    }
    if (lpdwDisposition) *lpdwDisposition = exists ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    *phkResult = r.newHandle(base.hive, std::move(t.logical), std::move(physical), t.view32, granted, node);
    return ERROR_SUCCESS;
}

LONG WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                             LPDWORD lpcbData) {
    std::lock_guard<std::recursive_mutex> g(Machine::current().lock());
    auto& r = winsim::reg();
    if ((lpData && !lpcbData) || lpReserved) return ERROR_INVALID_PARAMETER;
    std::shared_ptr<winsim::Node> node;
    LONG rc = winsim::keyFor(r, hKey, KEY_QUERY_VALUE, node);
    if (rc != ERROR_SUCCESS) return rc;
    const std::string name = lpValueName ? lpValueName : "";
    for (const auto& v : node->values) {
        if (!winsim::equalsNoCase(v.first, name)) continue;
        const DWORD size = static_cast<DWORD>(v.second.data.size());
        if (lpType) *lpType = v.second.type;
        if (lpData) {
            if (*lpcbData < size) {
                *lpcbData = size;
                return ERROR_MORE_DATA;
            }
            if (size) std::memcpy(lpData, v.second.data.data(), size);
        }
        if (lpcbData) *lpcbData = size;
        return ERROR_SUCCESS;
    }
    // A size query of a missing value reports 0; a read leaves the size alone.
    if (lpcbData && !lpData) *lpcbData = 0;
    return ERROR_FILE_NOT_FOUND;
}

LONG WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                           DWORD cbData) {
    std::lock_guard<std::recursive_mutex> g(Machine::current().lock());
    auto& r = winsim::reg();
    if (Reserved) return ERROR_INVALID_PARAMETER;
    if (!lpData && cbData) return kErrorNoAccess;
    std::shared_ptr<winsim::Node> node;
    LONG rc = winsim::keyFor(r, hKey, KEY_SET_VALUE, node);
    if (rc != ERROR_SUCCESS) return rc;
    // Windows adds a terminator the caller forgot to count when one follows the data.
    if (cbData && winsim::isStringType(dwType) && lpData[cbData - 1] && !lpData[cbData]) ++cbData;
    winsim::RegValue value{dwType, std::vector<BYTE>(lpData, lpData + cbData)};
    const std::string name = lpValueName ? lpValueName : "";
    winsim::touch(*node);
    for (auto& v : node->values) {
        if (winsim::equalsNoCase(v.first, name)) {
            v.second = std::move(value);
            return ERROR_SUCCESS;
        }
    }
    node->values.emplace_back(name, std::move(value));
    return ERROR_SUCCESS;
}

LONG WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
    std::lock_guard<std::recursive_mutex> g(Machine::current().lock());
    auto& r = winsim::reg();
    std::shared_ptr<winsim::Node> node;
    LONG rc = winsim::keyFor(r, hKey, KEY_SET_VALUE, node);
    if (rc != ERROR_SUCCESS) return rc;
    const std::string name = lpValueName ? lpValueName : "";
    for (auto it = node->values.begin(); it != node->values.end(); ++it) {
        if (winsim::equalsNoCase(it->first, name)) {
            node->values.erase(it);
            winsim::touch(*node);
            return ERROR_SUCCESS;
        }
    }
    return ERROR_FILE_NOT_FOUND;
}

LONG WINAPI RegDeleteKeyExA(HKEY hKey, LPCSTR lpSubKey, REGSAM samDesired, DWORD Reserved) {
    std::lock_guard<std::recursive_mutex> g(Machine::current().lock());
    auto& r = winsim::reg();
    if (!lpSubKey) return ERROR_INVALID_PARAMETER;
    winsim::Target t;
    LONG rc = winsim::locate(r, hKey, samDesired, lpSubKey, nullptr, t);
    if (rc != ERROR_SUCCESS) return rc;
    const Base& base = t.base;
    const Path& physical = t.physical;

    // Windows opens the key for DELETE and deletes through that handle.
    auto node = r.find(base.hive, physical);
    if (!node) return ERROR_FILE_NOT_FOUND;
    if (const LONG* code = r.openFault(base.hive, physical)) return *code;
    REGSAM granted = 0;
    if ((rc = r.grant(base.hive, physical, DELETE, granted)) != ERROR_SUCCESS) return rc;
    if (physical.empty() || !node->children.empty()) return ERROR_ACCESS_DENIED;

    auto parent = r.find(base.hive, Path(physical.begin(), physical.end() - 1));
    parent->children.erase(physical.back());
    winsim::touch(*parent);
    Registry::Impl::markDeleted(*node);
    return ERROR_SUCCESS;
}

LONG WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
    // No view flag: the handle's view, or the process's for a predefined key.
    return RegDeleteKeyExA(hKey, lpSubKey, 0, 0);
}

LONG WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                          LPSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
    std::lock_guard<std::recursive_mutex> g(Machine::current().lock());
    auto& r = winsim::reg();
    if (lpReserved || !lpName || !lpcchName || (lpClass && !lpcchClass)) return ERROR_INVALID_PARAMETER;
    std::shared_ptr<winsim::Node> node;
    LONG rc = winsim::keyFor(r, hKey, KEY_ENUMERATE_SUB_KEYS, node);
    if (rc != ERROR_SUCCESS) return rc;
    if (dwIndex >= node->children.size()) return ERROR_NO_MORE_ITEMS;
    auto it = node->children.begin();
    std::advance(it, dwIndex);
    const winsim::Node& child = *it->second;
    // Capacities count the terminator; on overflow nothing is written and the size stays.
    if (child.name.size() >= *lpcchName) return ERROR_MORE_DATA;
    if (lpClass && child.className.size() >= *lpcchClass) return ERROR_MORE_DATA;
    std::memcpy(lpName, child.name.c_str(), child.name.size() + 1);
    *lpcchName = static_cast<DWORD>(child.name.size());
    if (lpClass) {
        std::memcpy(lpClass, child.className.c_str(), child.className.size() + 1);
        *lpcchClass = static_cast<DWORD>(child.className.size());
    } else if (lpcchClass) {
        *lpcchClass = static_cast<DWORD>(child.className.size());
    }
    if (lpftLastWriteTime) *lpftLastWriteTime = child.lastWrite;
    return ERROR_SUCCESS;
}

LONG WINAPI RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName, LPDWORD lpReserved,
                          LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    std::lock_guard<std::recursive_mutex> g(Machine::current().lock());
    auto& r = winsim::reg();
    if (lpReserved || !lpValueName || !lpcchValueName || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
    std::shared_ptr<winsim::Node> node;
    LONG rc = winsim::keyFor(r, hKey, KEY_QUERY_VALUE, node);
    if (rc != ERROR_SUCCESS) return rc;
    if (dwIndex >= node->values.size()) return ERROR_NO_MORE_ITEMS;
    const auto& entry = node->values[dwIndex];
    const DWORD size = static_cast<DWORD>(entry.second.data.size());
    // Type and data size are reported even when a buffer is too small; the buffers and the
    // name length are left alone then.
    if (lpType) *lpType = entry.second.type;
    const bool nameFits = entry.first.size() < *lpcchValueName;
    const bool dataFits = !lpData || size <= *lpcbData;
    if (!nameFits || !dataFits) {
        if (lpcbData) *lpcbData = size;
        return ERROR_MORE_DATA;
    }
    std::memcpy(lpValueName, entry.first.c_str(), entry.first.size() + 1);
    *lpcchValueName = static_cast<DWORD>(entry.first.size());
    if (lpData && size) std::memcpy(lpData, entry.second.data.data(), size);
    if (lpcbData) *lpcbData = size;
    return ERROR_SUCCESS;
}

LONG WINAPI RegCloseKey(HKEY hKey) {
    std::lock_guard<std::recursive_mutex> g(Machine::current().lock());
    auto& r = winsim::reg();
    auto* kh = reinterpret_cast<winsim::KeyHandle*>(hKey);
    if (hKey && r.handles.count(kh)) {
        r.handles.erase(kh);
        delete kh;
        return ERROR_SUCCESS;
    }
    Hive hive;
    if (hKey && winsim::isPredefinedValue(hKey, hive)) return ERROR_SUCCESS;
    return ERROR_INVALID_HANDLE;
}

}  // extern "C"
