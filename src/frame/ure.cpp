#include "frame/ure.h"

#include "platform/bounded.h"
#include "frame/language.h"
#include "frame/ure_info.h"
#include "session/property_access.h"

#include <new>

namespace {
URE* g_engine = nullptr;
}

int IObservable::attach(IObserver* observer) {
    for (int i = 0; i < count_; ++i)
        if (observers_[i] == observer) return 5009;
    if (count_ >= kMaxObservers) return 5010;
    observers_[count_++] = observer;
    return 0;
}

int IObservable::notify(const UREBaseInfo& record) {
    int result = 0;
    for (int i = 0; i < count_; ++i) {
        int r = observers_[i]->update(record);
        if (result == 0) result = r;
    }
    return result;
}

URE* URE::instance() {
    if (!g_engine) g_engine = new (std::nothrow) URE();
    return g_engine;
}

URE* URE::existing() { return g_engine; }

URE::~URE() {
    releaseResponseFile();
    delete[] summary_;
}

void URE::clearSummaryText() {
    summaryLength_ = 0;
    if (summary_) summary_[0] = '\0';
}

void URE::destroy() {
    delete g_engine;
    g_engine = nullptr;
}

void URE::setLanguage(const char* locale) {
    languageSession_ = 0;
    fa9::copyText(language_, sizeof language_, locale);
}

void URE::readLanguage() const {
    const MSIHANDLE hInstall = languageSession_;
    if (!hInstall) return;
    languageSession_ = 0;
    char text[80];
    DWORD capacity = sizeof text;
    text[0] = '\0';
    if (iMsiGetProperty(hInstall, "ProductLanguage", text, &capacity) != 0) return;
    LANGID id = static_cast<LANGID>(fa9::leadingInteger(text) & 0xFFFF);
    LanguageInfo info;
    if (liteGetLanguageInfo(id, &info) != 0) return;
    fa9::copyText(language_, sizeof language_, info.locale);
}

const char* URE::language() const {
    readLanguage();
    return language_;
}

void URE::getLanguage(char* out, size_t capacity) const {
    readLanguage();
    if (language_[0]) {
        fa9::copyText(out, capacity, language_);
        return;
    }
    LanguageInfo info;
    if (liteGetSystemLanguageInfo(&info) == 0)
        fa9::copyText(out, capacity, info.locale);
    else
        fa9::copyText(out, capacity, "en_US");
}

bool URE::setRuntimeDirectory(const char* path) {
    if (fa9::textLength(path) >= sizeof runtimeDirectory_) return false;
    fa9::copyText(runtimeDirectory_, sizeof runtimeDirectory_, path);
    // Straight to the installer: later custom actions find the directory there.
    MsiSetPropertyA(session_, "pFA9RuntimeDirectory", runtimeDirectory_);
    return true;
}

const char* URE::getRuntimeDirectory(char* buffer) {
    static char shared[kRuntimeDirectoryCapacity];
    char* out = buffer ? buffer : shared;
    if (runtimeDirectory_[0]) {
        fa9::copyText(out, kRuntimeDirectoryCapacity, runtimeDirectory_);
        return out;
    }
    out[0] = '\0';
    DWORD capacity = kRuntimeDirectoryCapacity;
    if (iMsiGetProperty(session_, "pFA9RuntimeDirectory", out, &capacity) != ERROR_SUCCESS) out[0] = '\0';
    return out;
}

int ureReport(uint32_t flags, const char* functionName, int probe, int32_t rc, uint32_t messageNumber,
              const MsgTokenHolder* tokens, int feedback, bool flag) {
    URE* engine = URE::instance();
    if (!engine) return 0;
    UREInfo record(flags, functionName, probe, rc, messageNumber, tokens, feedback, flag, nullptr);
    return engine->notify(record);
}

int ureReportText(uint32_t flags, const char* functionName, int probe, int32_t rc, const char* text, bool flag) {
    URE* engine = URE::instance();
    if (!engine) return 0;
    UREInfo record(flags, functionName, probe, rc, 0, nullptr, 0, flag, text);
    return engine->notify(record);
}
