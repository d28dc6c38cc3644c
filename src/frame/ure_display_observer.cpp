#include "frame/osse_binding.h"
#include "platform/scoped_handles.h"
#include "frame/ure.h"
#include "frame/ure_info.h"
#include "frame/ure_observers.h"
#include "platform/win32.h"
#include "session/property_access.h"

#include <new>

namespace {

UREDisplayObserverWI* g_displayObserver = nullptr;

// The title of the last box shown; kept when there is no session to read it from.
char g_dialogTitle[256] = "";
const DWORD kTitleCapacity = 255;

struct BoxKind {
    uint32_t flags;
    UINT style;
    INSTALLMESSAGE message;  // the installer's kind of the same box
};

const BoxKind kBoxKinds[] = {
    {URE_SHOW_ERROR, 0x10010, INSTALLMESSAGE_ERROR},
    {URE_SHOW_WARNING, 0x10030, INSTALLMESSAGE_WARNING},
    {URE_ASK_YESNO, 0x10024, INSTALLMESSAGE_USER},
    {URE_ASK_YESNOCANCEL, 0x10023, INSTALLMESSAGE_USER},
    {URE_ASK_RETRYCANCEL, 0x10025, INSTALLMESSAGE_USER},
    {URE_ASK_ABORTRETRYIGNORE, 0x10022, INSTALLMESSAGE_USER},
};

// Hands the box to the installer: it shows it in its own interface, or answers it
// itself in a silent installation. The answer, or 0 when nothing was shown.
int askInstaller(MSIHANDLE hInstall, const BoxKind& box, const char* text) {
    unique_msihandle record(MsiCreateRecord(1));
    if (!record) return 0;
    // With a template of its own the text is taken as it is, not as an Error table entry.
    MsiRecordSetStringA(record.get(), 0, "[1]");
    MsiRecordSetStringA(record.get(), 1, text);
    const UINT buttonsAndIcon = box.style & (MB_TYPEMASK | MB_ICONMASK | MB_DEFMASK);
    int answer = MsiProcessMessage(hInstall, static_cast<INSTALLMESSAGE>(box.message | buttonsAndIcon), record.get());
    return answer < 0 ? 0 : answer;
}

}  // namespace

UREDisplayObserverWI* UREDisplayObserverWI::instance() {
    if (!g_displayObserver) g_displayObserver = new (std::nothrow) UREDisplayObserverWI();
    return g_displayObserver;
}

void UREDisplayObserverWI::destroy() {
    delete g_displayObserver;
    g_displayObserver = nullptr;
}

int UREDisplayObserverWI::update(const UREBaseInfo& base) {
    URE* engine = URE::existing();
    if (!enabled() || (engine && engine->silent()) || base.type() != 2) return 0;
    const UREInfo& record = static_cast<const UREInfo&>(base);

    const uint32_t kind = record.flags() & 0x640001F7;
    const BoxKind* box = nullptr;
    for (const BoxKind& k : kBoxKinds)
        if (k.flags == kind) box = &k;

    const int size = record.textLength() + 257;
    if (size <= 0) return 0;
    char* text = new (std::nothrow) char[static_cast<size_t>(size)];
    if (!text) return 0;
    text[0] = '\0';
    int answer = 0;
    if (record.getText(text, size) == 0) {
        ureStripEnclosingQuotes(text);
        const MSIHANDLE hInstall = engine ? engine->sessionHandle() : 0;
        // Script actions run often as LocalSystem on a desktop nobody sees, and a silent
        // installation has nobody to press a button: only the installer knows whether a
        // box can be shown there.
        if (box && hInstall != 0 && iRunsInScript(hInstall)) {
            answer = askInstaller(hInstall, *box, text);
        } else if (box) {
            HWND owner = GetForegroundWindow();
            if (engine && engine->sessionHandle() != 0) {
                DWORD capacity = kTitleCapacity;
                iMsiGetProperty(engine->sessionHandle(), "GENERIC_DLG_TITLE", g_dialogTitle, &capacity);
            }
            answer = MessageBoxA(owner, text, g_dialogTitle, box->style);
        }
    }
    delete[] text;
    return answer;
}
