#include "frame/osse_binding.h"
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
};

const BoxKind kBoxKinds[] = {
    {URE_SHOW_ERROR, 0x10010},      {URE_SHOW_WARNING, 0x10030},    {URE_ASK_YESNO, 0x10024},
    {URE_ASK_YESNOCANCEL, 0x10023}, {URE_ASK_RETRYCANCEL, 0x10025}, {URE_ASK_ABORTRETRYIGNORE, 0x10022},
};

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
        if (box) {
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
