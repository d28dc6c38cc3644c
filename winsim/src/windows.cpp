// user32 and kernel32 as the library meets them: the system version, the desktop
// window, and hidden windows of the rich-edit class ("RichEdit20A", registered by
// riched20.dll while it is loaded) that take a text and stream it out as RTF.
#include "winsim/control.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

namespace winsim {

namespace {

const DWORD kErrorInvalidWindowHandle = 1400;  // ERROR_INVALID_WINDOW_HANDLE
const DWORD kErrorCannotFindWndClass = 1407;   // ERROR_CANNOT_FIND_WND_CLASS
const DWORD kErrorTlwWithWsChild = 1406;       // ERROR_TLW_WITH_WSCHILD
const HWND kDesktopWindow = reinterpret_cast<HWND>(uintptr_t(0x10014));
// The rich-edit control hands its output to the callback in pieces of this size.
const size_t kStreamPiece = 4096;

struct Window {
    std::string className;
    std::string text;
    DWORD style = 0;
    DWORD exStyle = 0;
};

// Windows belong to the machine they were created on; a new machine starts without any.
struct WindowTable {
    std::string machineRoot;
    std::map<HWND, Window> windows;
    uintptr_t nextHandle = 0x20000;
};

WindowTable& table(Machine& m) {
    static WindowTable t;
    if (t.machineRoot != m.hostRoot()) {
        t = WindowTable();
        t.machineRoot = m.hostRoot();
    }
    return t;
}

bool richEditRegistered() { return GetModuleHandleA("riched20.dll") != nullptr; }

// The RTF character set that goes with an ANSI code page.
int charsetOf(UINT codePage) {
    switch (codePage) {
    case 932: return 128;
    case 936: return 134;
    case 949: return 129;
    case 950: return 136;
    case 1250: return 238;
    case 1251: return 204;
    case 1253: return 161;
    case 1254: return 162;
    case 1255: return 177;
    case 1256: return 178;
    default: return 0;
    }
}

// The control's content as RTF: one paragraph per line (CR LF, CR or LF ends a line);
// the characters RTF reserves are escaped, and every byte above 0x7F is written as \'hh
// in the document's code page.
std::string toRtf(const Window& w, UINT codePage) {
    const bool rightToLeft = (w.exStyle & WS_EX_RTLREADING) != 0;
    char head[256];
    std::snprintf(head, sizeof head,
                  "{\\rtf1\\ansi\\ansicpg%u\\deff0{\\fonttbl{\\f0\\fnil\\fcharset%d MS Shell Dlg;}}\r\n"
                  "\\viewkind4\\uc1\\pard%s\\f0\\fs17 ",
                  codePage, charsetOf(codePage), rightToLeft ? "\\rtlpar\\qr" : "");
    std::string out = head;
    const std::string& t = w.text;
    for (size_t i = 0; i < t.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(t[i]);
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < t.size() && t[i + 1] == '\n') ++i;
            out += "\\par\r\n";
        } else if (c == '\\' || c == '{' || c == '}') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\t') {
            out += "\\tab ";
        } else if (c >= 0x80 || c < 0x20) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\'%02x", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    out += "\\par\r\n}\r\n";
    return out;
}

// EM_STREAMOUT: hands `data` to the callback piece by piece until all is taken, the
// callback answers non-zero (kept in dwError) or takes nothing. Returns the bytes taken.
LRESULT streamOut(const std::string& data, EDITSTREAM* stream) {
    if (!stream || !stream->pfnCallback) return 0;
    stream->dwError = 0;
    size_t done = 0;
    while (done < data.size()) {
        const size_t piece = std::min(kStreamPiece, data.size() - done);
        std::string chunk = data.substr(done, piece);
        LONG written = 0;
        DWORD rc = stream->pfnCallback(stream->dwCookie, reinterpret_cast<LPBYTE>(&chunk[0]),
                                       static_cast<LONG>(piece), &written);
        if (rc != 0) {
            stream->dwError = rc;
            break;
        }
        if (written <= 0) break;
        done += std::min(static_cast<size_t>(written), piece);
    }
    return static_cast<LRESULT>(done);
}

}  // namespace

std::vector<std::string> Machine::openWindowClasses() const {
    std::lock_guard<std::recursive_mutex> g(lock_);
    std::vector<std::string> classes;
    for (const auto& kv : table(const_cast<Machine&>(*this)).windows) classes.push_back(kv.second.className);
    return classes;
}

}  // namespace winsim

using winsim::Machine;

extern "C" {

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA lpVersionInformation) {
    if (!lpVersionInformation || lpVersionInformation->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    Machine& m = Machine::current();
    std::lock_guard<std::recursive_mutex> g(m.lock());
    *lpVersionInformation = m.version;
    lpVersionInformation->dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
    return TRUE;
}

HWND WINAPI GetDesktopWindow(void) { return winsim::kDesktopWindow; }

HWND WINAPI CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle, int X, int Y,
                            int nWidth, int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance,
                            LPVOID lpParam) {
    Machine& m = Machine::current();
    std::lock_guard<std::recursive_mutex> g(m.lock());
    winsim::WindowTable& t = winsim::table(m);
    // Only the rich-edit class is known here, and only while its DLL is loaded.
    if (!lpClassName || !winsim::equalsNoCase(lpClassName, "RichEdit20A") || !winsim::richEditRegistered()) {
        SetLastError(winsim::kErrorCannotFindWndClass);
        return nullptr;
    }
    if (hWndParent && hWndParent != winsim::kDesktopWindow && !t.windows.count(hWndParent)) {
        SetLastError(winsim::kErrorInvalidWindowHandle);
        return nullptr;
    }
    if ((dwStyle & WS_CHILD) && !hWndParent) {
        SetLastError(winsim::kErrorTlwWithWsChild);
        return nullptr;
    }
    t.nextHandle += 2;
    HWND h = reinterpret_cast<HWND>(t.nextHandle);
    winsim::Window w;
    w.className = "RichEdit20A";
    w.text = lpWindowName ? lpWindowName : "";
    w.style = dwStyle;
    w.exStyle = dwExStyle;
    t.windows[h] = w;
    return h;
}

BOOL WINAPI DestroyWindow(HWND hWnd) {
    Machine& m = Machine::current();
    std::lock_guard<std::recursive_mutex> g(m.lock());
    if (winsim::table(m).windows.erase(hWnd) == 0) {
        SetLastError(winsim::kErrorInvalidWindowHandle);
        return FALSE;
    }
    return TRUE;
}

LRESULT WINAPI SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    Machine& m = Machine::current();
    std::unique_lock<std::recursive_mutex> g(m.lock());
    auto& windows = winsim::table(m).windows;
    auto it = windows.find(hWnd);
    if (it == windows.end()) {
        SetLastError(winsim::kErrorInvalidWindowHandle);
        return 0;
    }
    winsim::Window& w = it->second;
    switch (Msg) {
    case WM_SETTEXT:
        // The rich-edit control ignores wParam; the text ends at its terminator.
        w.text = lParam ? reinterpret_cast<const char*>(lParam) : "";
        return TRUE;
    case WM_GETTEXTLENGTH:
        return static_cast<LRESULT>(w.text.size());
    case WM_GETTEXT: {
        char* out = reinterpret_cast<char*>(lParam);
        if (!out || wParam == 0) return 0;
        const size_t n = std::min(static_cast<size_t>(wParam) - 1, w.text.size());
        std::memcpy(out, w.text.data(), n);
        out[n] = '\0';
        return static_cast<LRESULT>(n);
    }
    case EM_STREAMOUT: {
        std::string data;
        if (wParam & SF_RTF)
            data = winsim::toRtf(w, m.ansiCodePage);
        else if (wParam & SF_TEXT)
            data = w.text;
        else
            return 0;
        // The callback is the caller's code: it runs without the machine's lock, as it
        // would run on Windows without any lock of the control's.
        g.unlock();
        return winsim::streamOut(data, reinterpret_cast<EDITSTREAM*>(lParam));
    }
    default:
        return 0;
    }
}

}  // extern "C"
