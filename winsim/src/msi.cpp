// Windows Installer: handles, sessions and their properties, records, messages.
// The rules follow what msi.dll does for a custom action running in the installer's
// custom-action server (see the notes at each function).
#include "msi_handles.h"
#include "winsim/control.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace winsim {

// ---------------------------------------------------------------- handle table

namespace {
std::mutex g_handleLock;
std::map<MSIHANDLE, std::shared_ptr<MsiObject>> g_handles;
MSIHANDLE g_nextHandle = 1;
}  // namespace

MSIHANDLE allocMsiHandle(std::shared_ptr<MsiObject> obj) {
    std::lock_guard<std::mutex> g(g_handleLock);
    MSIHANDLE h = g_nextHandle++;
    g_handles[h] = std::move(obj);
    return h;
}

std::shared_ptr<MsiObject> lookupMsiHandle(MSIHANDLE h) {
    std::lock_guard<std::mutex> g(g_handleLock);
    auto it = g_handles.find(h);
    return it == g_handles.end() ? nullptr : it->second;
}

bool closeMsiHandle(MSIHANDLE h) {
    std::lock_guard<std::mutex> g(g_handleLock);
    return g_handles.erase(h) != 0;
}

size_t openMsiHandleCount() {
    std::lock_guard<std::mutex> g(g_handleLock);
    size_t n = 0;
    for (const auto& kv : g_handles)
        if (!std::dynamic_pointer_cast<SessionObject>(kv.second)) ++n;
    return n;
}

Session* sessionOf(MSIHANDLE h) {
    auto obj = std::dynamic_pointer_cast<SessionObject>(lookupMsiHandle(h));
    return obj ? obj->session : nullptr;
}

Session* countedSessionOf(MSIHANDLE h) {
    auto obj = lookupMsiHandle(h);
    Session* s = nullptr;
    if (auto session = std::dynamic_pointer_cast<SessionObject>(obj))
        s = session->session;
    else if (auto db = std::dynamic_pointer_cast<DatabaseObject>(obj))
        s = db->session;
    else if (auto view = std::dynamic_pointer_cast<ViewObject>(obj))
        s = view->session;
    if (s) s->countInstallerCall();
    return s;
}

std::shared_ptr<RecordObject> recordOf(MSIHANDLE h) {
    return std::dynamic_pointer_cast<RecordObject>(lookupMsiHandle(h));
}

// ---------------------------------------------------------------- Session

Session::Session(Machine& machine) : machine_(machine) {
    auto obj = std::make_shared<SessionObject>();
    obj->session = this;
    handle_ = allocMsiHandle(obj);
}

Session::~Session() { closeMsiHandle(handle_); }

void Session::setProperty(const std::string& name, const std::string& value) {
    if (value.empty())
        properties_.erase(name);
    else
        properties_[name] = value;
}

void Session::removeProperty(const std::string& name) { properties_.erase(name); }

std::string Session::property(const std::string& name) const {
    auto it = properties_.find(name);
    return it == properties_.end() ? std::string() : it->second;
}

bool Session::hasProperty(const std::string& name) const { return properties_.count(name) != 0; }

std::vector<std::string> Session::logLines() const {
    std::vector<std::string> lines;
    for (const LogEntry& e : log_) lines.push_back(e.line);
    return lines;
}

UINT Session::run(UINT(WINAPI* customAction)(MSIHANDLE)) { return customAction(handle_); }

std::optional<UINT> Session::getFault(const std::string& name) const {
    auto it = getFaults_.find(name);
    if (it == getFaults_.end()) return std::nullopt;
    return it->second;
}

int Session::uiLevel() const {
    auto it = properties_.find("UILevel");
    if (it == properties_.end()) return INSTALLUILEVEL_FULL;
    try {
        return std::stoi(it->second);
    } catch (const std::exception&) {
        return INSTALLUILEVEL_FULL;
    }
}

bool Session::offersProperty(const std::string& name) const {
    if (mode_ == RunMode::Immediate) return true;
    // Deferred, rollback and commit custom actions see only these.
    return name == "CustomActionData" || name == "ProductCode" || name == "UserSID";
}

// ---------------------------------------------------------------- records

namespace {

// One "[...]" reference of a format template, as the installer expands it: a field
// number, an environment variable ([%NAME]), an escaped character ([\\c]), or a
// property name (unknown ones expand to nothing). File and component references
// ([#f], [!f], [$c]) are not used by the library and expand to nothing here.
std::string expandReference(const std::string& inner, const RecordObject& rec, const Session* session) {
    if (inner.empty()) return std::string();
    if (inner.find_first_not_of("0123456789") == std::string::npos) {
        size_t n = inner.size() < 6 ? std::stoul(inner) : rec.fields.size();
        return n < rec.fields.size() ? rec.fields[n].text() : std::string();
    }
    if (inner[0] == '\\') return inner.size() > 1 ? inner.substr(1, 1) : std::string();
    if (inner[0] == '%') {
        const Machine* m = Machine::currentOrNull();
        if (!m) return std::string();
        auto it = m->environment.find(inner.substr(1));
        return it == m->environment.end() ? std::string() : it->second;
    }
    if (inner[0] == '#' || inner[0] == '!' || inner[0] == '$' || inner[0] == '~') return std::string();
    if (!session || !session->offersProperty(inner)) return std::string();
    return session->property(inner);
}

}  // namespace

std::string formatRecord(const RecordObject& rec, const Session* session) {
    const auto& f0 = rec.fields[0];
    if (f0.isNull() || f0.text().empty()) {
        // With no template the installer writes every field as "n: value ".
        std::string out;
        for (size_t i = 1; i < rec.fields.size(); ++i)
            out += std::to_string(i) + ": " + rec.fields[i].text() + " ";
        return out;
    }
    std::string out;
    const std::string t = f0.text();
    for (size_t i = 0; i < t.size(); ++i) {
        if (t[i] == '[') {
            size_t j = t.find(']', i);
            if (j != std::string::npos && t.find('[', i + 1) > j) {
                out += expandReference(t.substr(i + 1, j - i - 1), rec, session);
                i = j;
                continue;
            }
        }
        out += t[i];
    }
    return out;
}

std::optional<UINT> Session::setFault(const std::string& name) const {
    auto it = setFaults_.find(name);
    if (it == setFaults_.end()) return std::nullopt;
    return it->second;
}

// Copies `value` into an A buffer the way msi.dll does for a custom action: the
// length comes back in characters when the value fits and doubled when it does not.
UINT copyStringOut(const std::string& value, LPSTR buf, LPDWORD pcch, bool remoteQuirk) {
    if (!pcch) return buf ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    DWORD len = static_cast<DWORD>(value.size());
    if (!buf) {
        *pcch = remoteQuirk ? len * 2 : len;
        return ERROR_SUCCESS;
    }
    if (len >= *pcch) {
        if (*pcch > 0) {
            std::memcpy(buf, value.data(), *pcch - 1);
            buf[*pcch - 1] = '\0';
        }
        *pcch = remoteQuirk ? len * 2 : len;
        return ERROR_MORE_DATA;
    }
    std::memcpy(buf, value.data(), len);
    buf[len] = '\0';
    *pcch = len;
    return ERROR_SUCCESS;
}

}  // namespace winsim

using namespace winsim;

namespace {


}  // namespace

extern "C" {

UINT WINAPI MsiGetPropertyA(MSIHANDLE hInstall, LPCSTR szName, LPSTR szValueBuf, LPDWORD pcchValueBuf) {
    if (!szName) return ERROR_INVALID_PARAMETER;
    Session* s = countedSessionOf(hInstall);
    if (!s) return ERROR_INVALID_HANDLE;
    if (auto fault = s->getFault(szName)) return *fault;
    std::string value = s->offersProperty(szName) ? s->property(szName) : std::string();
    return copyStringOut(value, szValueBuf, pcchValueBuf, true);
}

UINT WINAPI MsiSetPropertyA(MSIHANDLE hInstall, LPCSTR szName, LPCSTR szValue) {
    Session* s = countedSessionOf(hInstall);
    if (!s) return ERROR_INVALID_HANDLE;
    if (!szName) return ERROR_INVALID_PARAMETER;
    if (!*szName) return (szValue && *szValue) ? ERROR_FUNCTION_FAILED : ERROR_SUCCESS;
    if (auto fault = s->setFault(szName)) return *fault;
    // Outside immediate mode the property set is not available to custom actions.
    if (s->runMode() != RunMode::Immediate) return ERROR_FUNCTION_FAILED;
    s->setProperty(szName, szValue ? szValue : "");
    return ERROR_SUCCESS;
}

BOOL WINAPI MsiGetMode(MSIHANDLE hInstall, MSIRUNMODE eRunMode) {
    Session* s = countedSessionOf(hInstall);
    if (!s) return FALSE;
    switch (eRunMode) {
    case MSIRUNMODE_SCHEDULED: return s->runMode() == RunMode::Scheduled;
    case MSIRUNMODE_ROLLBACK: return s->runMode() == RunMode::Rollback;
    case MSIRUNMODE_COMMIT: return s->runMode() == RunMode::Commit;
    default: return FALSE;
    }
}

MSIHANDLE WINAPI MsiCreateRecord(UINT cParams) {
    if (cParams > 65535) return 0;
    auto rec = std::make_shared<RecordObject>();
    rec->fields.resize(cParams + 1);
    return allocMsiHandle(rec);
}

UINT WINAPI MsiRecordSetStringA(MSIHANDLE hRecord, UINT iField, LPCSTR szValue) {
    auto rec = recordOf(hRecord);
    if (!rec) return ERROR_INVALID_HANDLE;
    if (iField >= rec->fields.size()) return ERROR_INVALID_PARAMETER;
    if (!szValue || !*szValue)
        rec->fields[iField] = RecordField();
    else
        rec->fields[iField] = RecordField::ofText(szValue);
    return ERROR_SUCCESS;
}

UINT WINAPI MsiRecordSetInteger(MSIHANDLE hRecord, UINT iField, int iValue) {
    auto rec = recordOf(hRecord);
    if (!rec) return ERROR_INVALID_HANDLE;
    if (iField >= rec->fields.size()) return ERROR_INVALID_PARAMETER;
    rec->fields[iField] = iValue == static_cast<int>(MSI_NULL_INTEGER) ? RecordField() : RecordField::ofInt(iValue);
    return ERROR_SUCCESS;
}

int WINAPI MsiRecordGetInteger(MSIHANDLE hRecord, UINT iField) {
    auto rec = recordOf(hRecord);
    if (!rec || iField >= rec->fields.size()) return static_cast<int>(MSI_NULL_INTEGER);
    return rec->fields[iField].asInt();
}

UINT WINAPI MsiRecordGetStringA(MSIHANDLE hRecord, UINT iField, LPSTR szValueBuf, LPDWORD pcchValueBuf) {
    auto rec = recordOf(hRecord);
    if (!rec) return ERROR_INVALID_HANDLE;
    std::string value = iField < rec->fields.size() ? rec->fields[iField].text() : std::string();
    // Records live in the custom action's own process: no doubled lengths here.
    return copyStringOut(value, szValueBuf, pcchValueBuf, false);
}

UINT WINAPI MsiRecordGetFieldCount(MSIHANDLE hRecord) {
    auto rec = recordOf(hRecord);
    return rec ? static_cast<UINT>(rec->fields.size() - 1) : static_cast<UINT>(-1);
}

BOOL WINAPI MsiRecordIsNull(MSIHANDLE hRecord, UINT iField) {
    auto rec = recordOf(hRecord);
    if (!rec || iField >= rec->fields.size()) return TRUE;
    return rec->fields[iField].isNull();
}

// Error, warning and user messages are the installer's own message boxes: it shows them
// in every interface but none (basic and reduced interfaces show them too) and returns
// the button pressed; a silent installation shows nothing and returns 0, "no action
// taken". The message is written to the log either way.
int WINAPI MsiProcessMessage(MSIHANDLE hInstall, INSTALLMESSAGE eMessageType, MSIHANDLE hRecord) {
    Session* s = countedSessionOf(hInstall);
    auto rec = recordOf(hRecord);
    if (!s || !rec) return -1;
    const auto kind = static_cast<INSTALLMESSAGE>(eMessageType & 0xFF000000);
    const std::string text = formatRecord(*rec, s);
    s->appendLog(kind, text);
    if (kind != INSTALLMESSAGE_ERROR && kind != INSTALLMESSAGE_WARNING && kind != INSTALLMESSAGE_USER) return 0;
    if (s->uiLevel() <= INSTALLUILEVEL_NONE) return 0;
    InstallerBox box;
    box.kind = kind;
    box.text = text;
    box.buttons = eMessageType & MB_TYPEMASK;
    box.icon = eMessageType & MB_ICONMASK;
    if (!s->installerBoxAnswers.empty()) {
        box.answer = s->installerBoxAnswers.front();
        s->installerBoxAnswers.pop_front();
    } else {
        static const int firstButton[] = {IDOK, IDOK, IDABORT, IDYES, IDYES, IDRETRY, IDCANCEL};
        box.answer = box.buttons < sizeof(firstButton) / sizeof(firstButton[0]) ? firstButton[box.buttons] : IDOK;
    }
    s->installerBoxes.push_back(box);
    return box.answer;
}

UINT WINAPI MsiFormatRecordA(MSIHANDLE hInstall, MSIHANDLE hRecord, LPSTR szResultBuf, LPDWORD pcchResultBuf) {
    auto rec = recordOf(hRecord);
    if (!rec) return ERROR_INVALID_HANDLE;
    Session* s = hInstall ? countedSessionOf(hInstall) : nullptr;
    if (hInstall && !s) return ERROR_INVALID_HANDLE;
    return copyStringOut(formatRecord(*rec, s), szResultBuf, pcchResultBuf, s != nullptr);
}

INSTALLSTATE WINAPI MsiGetComponentPathA(LPCSTR szProduct, LPCSTR szComponent, LPSTR lpPathBuf, LPDWORD pcchBuf) {
    if (!szProduct || !szComponent || (lpPathBuf && !pcchBuf)) return INSTALLSTATE_INVALIDARG;
    auto state = Machine::current().component(szProduct, szComponent);
    if (!state) return INSTALLSTATE_UNKNOWN;
    if (state->state == INSTALLSTATE_LOCAL || state->state == INSTALLSTATE_SOURCE) {
        if (pcchBuf && copyStringOut(state->path, lpPathBuf, pcchBuf, false) == ERROR_MORE_DATA)
            return INSTALLSTATE_MOREDATA;
    }
    return state->state;
}

// Only what the product's registration holds: its applied patches (the transforms each
// patch applies are not modelled: empty) and its registered transforms.
UINT WINAPI MsiEnumPatchesA(LPCSTR szProduct, DWORD iPatchIndex, LPSTR lpPatchBuf, LPSTR lpTransformsBuf,
                            LPDWORD pcchTransformsBuf) {
    if (!szProduct || !lpPatchBuf || !lpTransformsBuf || !pcchTransformsBuf) return ERROR_INVALID_PARAMETER;
    auto product = Machine::current().product(szProduct);
    if (!product) return ERROR_UNKNOWN_PRODUCT;
    if (iPatchIndex >= product->patches.size()) return ERROR_NO_MORE_ITEMS;
    const std::string& code = product->patches[iPatchIndex];
    std::memcpy(lpPatchBuf, code.c_str(), std::min<size_t>(code.size(), 38));
    lpPatchBuf[std::min<size_t>(code.size(), 38)] = '\0';
    return copyStringOut("", lpTransformsBuf, pcchTransformsBuf, false);
}

UINT WINAPI MsiGetProductInfoA(LPCSTR szProduct, LPCSTR szAttribute, LPSTR lpValueBuf, LPDWORD pcchValueBuf) {
    if (!szProduct || !szAttribute || (lpValueBuf && !pcchValueBuf)) return ERROR_INVALID_PARAMETER;
    auto product = Machine::current().product(szProduct);
    if (!product) return ERROR_UNKNOWN_PRODUCT;
    if (std::string(szAttribute) != "Transforms") return ERROR_UNKNOWN_PROPERTY;
    if (!pcchValueBuf) return ERROR_SUCCESS;
    return copyStringOut(product->transforms, lpValueBuf, pcchValueBuf, false);
}

UINT WINAPI MsiCloseHandle(MSIHANDLE hAny) {
    if (hAny == 0) return ERROR_SUCCESS;
    auto obj = lookupMsiHandle(hAny);
    if (!obj) return ERROR_INVALID_HANDLE;
    // The session handle belongs to the installer; a custom action closing it changes nothing.
    if (std::dynamic_pointer_cast<SessionObject>(obj)) return ERROR_SUCCESS;
    countedSessionOf(hAny);  // a database or view handle is closed in the installer
    closeMsiHandle(hAny);
    return ERROR_SUCCESS;
}

}  // extern "C"
