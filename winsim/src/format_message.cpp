// FormatMessageA of the simulated Windows: the system message table (English texts,
// as an en-US Windows gives them) and the message formatting rules.
//
// Supported: FROM_SYSTEM and FROM_STRING (FROM_STRING wins when both are given),
// IGNORE_INSERTS, ARGUMENT_ARRAY with string inserts (%n or %n!s!), and the
// line-width values 0 (keep line breaks) and FORMAT_MESSAGE_MAX_WIDTH_MASK (line
// breaks become blanks). Not supported, each refused with ERROR_INVALID_PARAMETER:
// FORMAT_MESSAGE_ALLOCATE_BUFFER, a va_list of inserts, printf-style insert formats
// other than !s!, and line widths 1-254 (Windows wraps the text there). Modules carry
// no message tables here, so FROM_HMODULE alone finds nothing.
#include "winsim/control.h"

#include <cstring>
#include <map>
#include <string>

namespace {

constexpr DWORD kErrorResourceLangNotFound = 15100;
constexpr DWORD kErrorMrMidNotFound = 317;
constexpr DWORD kErrorNoWorkDone = 235;
// FormatMessage refuses results of this many characters or more.
constexpr size_t kMaxResult = 32767;

// Texts as the system message table stores them, each line ended by "\r\n".
const std::map<DWORD, const char*>& systemMessages() {
    static const std::map<DWORD, const char*> table{
        {0, "The operation completed successfully.\r\n"},
        {1, "Incorrect function.\r\n"},
        {2, "The system cannot find the file specified.\r\n"},
        {3, "The system cannot find the path specified.\r\n"},
        {5, "Access is denied.\r\n"},
        {6, "The handle is invalid.\r\n"},
        {8, "Not enough memory resources are available to process this command.\r\n"},
        {13, "The data is invalid.\r\n"},
        {14, "Not enough storage is available to complete this operation.\r\n"},
        {18, "There are no more files.\r\n"},
        {87, "The parameter is incorrect.\r\n"},
        {122, "The data area passed to a system call is too small.\r\n"},
        {123, "The filename, directory name, or volume label syntax is incorrect.\r\n"},
        {126, "The specified module could not be found.\r\n"},
        {127, "The specified procedure could not be found.\r\n"},
        {193, "%1 is not a valid Win32 application.\r\n"},
        {234, "More data is available.\r\n"},
        {259, "No more data is available.\r\n"},
        {1603, "Fatal error during installation.\r\n"},
        {1627, "Function failed during execution.\r\n"},
    };
    return table;
}

// The system table is English only: the neutral language and en-US find it.
bool systemLanguageAvailable(DWORD languageId) {
    return languageId == 0 || PRIMARYLANGID(languageId) == LANG_NEUTRAL || languageId == 0x0409;
}

struct Formatted {
    std::string text;
    DWORD error = ERROR_SUCCESS;
};

Formatted format(const char* text, DWORD flags, const void* arguments) {
    const bool ignoreInserts = (flags & FORMAT_MESSAGE_IGNORE_INSERTS) != 0;
    const DWORD width = flags & FORMAT_MESSAGE_MAX_WIDTH_MASK;
    Formatted r;
    if (width != 0 && width != FORMAT_MESSAGE_MAX_WIDTH_MASK) {
        r.error = ERROR_INVALID_PARAMETER;  // wrapping at a width is not simulated
        return r;
    }
    std::string& out = r.text;
    const size_t n = std::strlen(text);
    size_t i = 0;
    while (i < n) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            // "\r\n", "\r" and "\n" are each one line break of the message text.
            i += (c == '\r' && i + 1 < n && text[i + 1] == '\n') ? 2 : 1;
            out += width ? " " : "\r\n";
            continue;
        }
        if (c != '%') {
            out += c;
            ++i;
            continue;
        }
        if (i + 1 >= n) break;
        const char d = text[i + 1];
        if (d == '0') break;  // %0 ends the message without a line break
        if (d == 'n') {
            out += "\r\n";  // a hard break survives any width
        } else if (d == 'r') {
            out += '\r';
        } else if (d == 't') {
            out += '\t';
        } else if (d >= '1' && d <= '9') {
            size_t j = i + 2;
            unsigned number = unsigned(d - '0');
            if (j < n && text[j] >= '0' && text[j] <= '9') number = number * 10 + unsigned(text[j++] - '0');
            std::string insertFormat;
            if (j < n && text[j] == '!') {
                const char* close = std::strchr(text + j + 1, '!');
                if (!close) {
                    r.error = ERROR_INVALID_PARAMETER;
                    return r;
                }
                insertFormat.assign(text + j + 1, close);
                j = size_t(close - text) + 1;
            }
            if (ignoreInserts) {
                out.append(text + i, j - i);
            } else if (!arguments || !(flags & FORMAT_MESSAGE_ARGUMENT_ARRAY) || (!insertFormat.empty() && insertFormat != "s")) {
                r.error = ERROR_INVALID_PARAMETER;
                return r;
            } else {
                const char* arg = static_cast<const char* const*>(arguments)[number - 1];
                out += arg ? arg : "(null)";
            }
            i = j;
            continue;
        } else if (ignoreInserts) {
            out += '%';  // with inserts ignored, "%%", "%." and the like stay as they are
            out += d;
        } else {
            out += d;
        }
        i += 2;
    }
    return r;
}

}  // namespace

extern "C" DWORD WINAPI FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                                       LPSTR lpBuffer, DWORD nSize, void* Arguments) {
    if (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
        if (lpBuffer) *reinterpret_cast<LPSTR*>(lpBuffer) = nullptr;
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const char* text = nullptr;
    if (dwFlags & FORMAT_MESSAGE_FROM_STRING) {
        text = static_cast<const char*>(lpSource);
        if (!text) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
    } else if (dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) {
        if (!systemLanguageAvailable(dwLanguageId)) {
            SetLastError(kErrorResourceLangNotFound);
            return 0;
        }
        auto it = systemMessages().find(dwMessageId);
        if (it == systemMessages().end()) {
            SetLastError(kErrorMrMidNotFound);
            return 0;
        }
        text = it->second;
    } else if (dwFlags & FORMAT_MESSAGE_FROM_HMODULE) {
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return 0;
    } else {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }

    Formatted f = format(text, dwFlags, Arguments);
    if (f.error != ERROR_SUCCESS) {
        SetLastError(f.error);
        return 0;
    }
    if (f.text.empty()) {
        SetLastError(kErrorNoWorkDone);
        return 0;
    }
    if (f.text.size() >= kMaxResult) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // The text and its terminator must fit; otherwise the buffer is left untouched.
    if (f.text.size() + 1 > nSize) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (!lpBuffer) {  // Windows faults here
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::memcpy(lpBuffer, f.text.data(), f.text.size());
    lpBuffer[f.text.size()] = '\0';
    return DWORD(f.text.size());
}
