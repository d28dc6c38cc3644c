// The rich-edit control turns the summary's plain text into RTF: it is given the text
// with WM_SETTEXT and streams its content out with EM_STREAMOUT.
#include "response/rtf_conversion.h"

#include "platform/bounded.h"
#include "frame/msg_token_holder.h"
#include "frame/ure.h"
#include "frame/ure_info.h"

#include <cstring>
#include <new>

namespace {

// Room added beyond what a piece needs, so that the next pieces usually fit.
const size_t kGrowthMargin = 500;

// The RTF streamed out so far; grows as pieces arrive and is always terminated.
struct RtfBuffer {
    char* data = nullptr;
    size_t length = 0;
    size_t capacity = 0;
};

DWORD CALLBACK collectRtf(DWORD_PTR cookie, LPBYTE piece, LONG size, LONG* written) {
    RtfBuffer& out = *reinterpret_cast<RtfBuffer*>(cookie);
    *written = 0;
    if (size < 0) return 1;
    const size_t needed = out.length + static_cast<size_t>(size) + 1;
    if (needed > out.capacity) {
        const size_t capacity = needed + kGrowthMargin;
        char* grown = new (std::nothrow) char[capacity];
        if (!grown) return 1;  // stops the stream: what came so far is kept
        if (out.data) std::memcpy(grown, out.data, out.length);
        delete[] out.data;
        out.data = grown;
        out.capacity = capacity;
    }
    std::memcpy(out.data + out.length, piece, static_cast<size_t>(size));
    out.length += static_cast<size_t>(size);
    out.data[out.length] = '\0';
    *written = size;
    return 0;
}

// Windows 95, 98 and ME want WM_SETTEXT's first parameter to be the length with the
// terminator; every other system takes 0. The system is asked once per process.
WPARAM setTextParameter(const char* text) {
    static int windows9x = -1;
    if (windows9x < 0) {
        OSVERSIONINFOA version = {};
        version.dwOSVersionInfoSize = sizeof version;
        windows9x = GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS ? 1 : 0;
    }
    return windows9x ? static_cast<WPARAM>(std::strlen(text) + 1) : 0;
}

}  // namespace

UINT liteConvertTextToRtf(const char* text, char** rtf, bool rightToLeft) {
    if (rtf) *rtf = nullptr;
    if (!text) text = "";
    // Stays loaded for the process: its window class lives as long as the module.
    if (!LoadLibraryA("riched20.dll")) {
        MsgTokenHolder tokens("riched20.dll");
        tokens.addUnsigned(GetLastError());
        ureReport(URE_SHOW_ERROR, "liteSelectFeatures", 10, 5001, 5127, &tokens, 0, true);
        return 5001;
    }
    const DWORD exStyle = rightToLeft ? (WS_EX_RIGHT | WS_EX_RTLREADING) : 0;
    HWND window = CreateWindowExA(exStyle, "RichEdit20A", "", WS_CHILD | ES_MULTILINE, 0, 0, 0, 0,
                                  GetDesktopWindow(), nullptr, nullptr, nullptr);
    if (!window) {
        MsgTokenHolder tokens;
        tokens.addUnsigned(GetLastError());
        ureReport(URE_SHOW_ERROR, "liteSelectFeatures", 20, 5011, 2006, &tokens, 0, true);
        return 5011;
    }
    SendMessageA(window, WM_SETTEXT, setTextParameter(text), reinterpret_cast<LPARAM>(text));
    RtfBuffer out;
    EDITSTREAM stream = {};
    stream.dwCookie = reinterpret_cast<DWORD_PTR>(&out);
    stream.pfnCallback = collectRtf;
    SendMessageA(window, EM_STREAMOUT, SF_RTF, reinterpret_cast<LPARAM>(&stream));
    DestroyWindow(window);

    if (out.length == 0) {
        delete[] out.data;
        MsgTokenHolder tokens("NO_OUPUT_FROM_RTF_WINDOW");
        ureReport(URE_SHOW_ERROR, "SetInstallTypeSizesCA", 10, 5011, 5389, &tokens, 0, true);
        return 5011;
    }
    if (rtf)
        *rtf = out.data;
    else
        delete[] out.data;
    return ERROR_SUCCESS;
}

bool liteIsRightToLeftLanguage(const char* languageCode) { return fa9::equalsNoCase(languageCode, "ar_AA"); }
