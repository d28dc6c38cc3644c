#include "response/response_engine.h"

#include "platform/bounded.h"
#include "frame/message_strings.h"
#include "frame/msg_token_holder.h"
#include "frame/ure.h"
#include "frame/ure_info.h"
#include "platform/crt_locale.h"
#include "response/response_file.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace {

const char kInitFunction[] = "URE::initResponseFile";

char* copyOf(const char* text) {
    size_t n = std::strlen(text);
    char* copy = new (std::nothrow) char[n + 1];
    if (copy) std::memcpy(copy, text, n + 1);
    return copy;
}

// The searched keyword: prefix, point and keyword, or the keyword alone.
char* searchedKeyword(const char* keyword, const char* prefix) {
    bool prefixed = prefix && *prefix;
    size_t n = std::strlen(keyword) + (prefixed ? std::strlen(prefix) + 1 : 0) + 1;
    char* text = new (std::nothrow) char[n];
    if (!text) return nullptr;
    if (prefixed)
        fa9::formatText(text, n, "%s.%s", prefix, keyword);
    else
        fa9::copyText(text, n, keyword);
    return text;
}

// In a reduced-UI installation nobody reads the log while it happens: the entry
// errors also go to standard output.
void echo(uint32_t message, const MsgTokenHolder& tokens) {
    URE* engine = URE::existing();
    if (!engine || !engine->silent()) return;
    int size = 1024 + tokens.totalLength();
    char* text = new (std::nothrow) char[static_cast<size_t>(size)];
    if (!text) return;
    if (ureGetString(message, text, size, &tokens) == 0) {
        std::fputs(text, stdout);
        std::fputs("\n", stdout);
        std::fflush(stdout);
    }
    delete[] text;
}

void report(uint32_t message, int probe, int32_t rc, const MsgTokenHolder* tokens) {
    ureReport(URE_LOG_ERROR, kInitFunction, probe, rc, message, tokens, 0, true);
}

// Upper-cases `text` in place, stepping over multi-byte characters of the user's code
// page, whose trail bytes may look like lower-case letters.
void upperCase(char* text) {
    ScopedCrtLocale user("");
    char* end = text + std::strlen(text);
    for (char* p = text; p < end;) {
        size_t unit = rspCharLength(p, end);
        if (unit == 1 && *p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - 'a' + 'A');
        p += unit;
    }
}

}  // namespace

bool ureIsTruthWord(const char* text) {
    static const char* const kWords[] = {"yes", "true", "1", "on", "y", "t"};
    if (!text) return false;
    for (const char* word : kWords)
        if (fa9::equalsNoCase(text, word)) return true;
    return false;
}

int32_t ureReportResponseFileErrors(const ResponseFile& file) {
    // The report that names the file; its message number is the result.
    auto reportFile = [&file](uint32_t message, int probe, int32_t rc) {
        MsgTokenHolder name(file.fileName());
        report(message, probe, rc, &name);
        return static_cast<int32_t>(message);
    };
    switch (file.status()) {
    case RSP_FILE_OK: return 0;
    case RSP_FILE_INVALID: {
        for (int i = 0; i < file.count(); ++i) {
            const ResponseFileEntry* e = file.entry(i);
            if (e->status() == 1) {
                MsgTokenHolder tokens(e->keyword());
                tokens.addInt(e->lineNumber());
                report(5017, 20, 1, &tokens);
                echo(5017, tokens);
            } else if (e->status() == 2) {
                // Logs and consoles are read by others than the one who wrote the file.
                MsgTokenHolder tokens(e->isSecret() ? "********" : (e->value() ? e->value() : ""));
                tokens.addString(e->keyword());
                report(5015, 30, 2, &tokens);
                echo(5015, tokens);
            }
        }
        return reportFile(5016, 40, 1);
    }
    case RSP_FILE_NOT_OPENED: return reportFile(5014, 50, 2);
    case RSP_FILE_READ_ERROR: return reportFile(5013, 60, 3);
    case RSP_FILE_UTF16: return reportFile(7106, 80, 4);
    case RSP_FILE_NO_MEMORY: report(5002, 70, 5, nullptr); return 5002;
    }
    return 0;
}

void URE::releaseResponseFile() {
    delete responseFile_;
    responseFile_ = nullptr;
    delete[] responseFilePath_;
    responseFilePath_ = nullptr;
    responseFileReady_ = false;
}

void URE::setProductCode(const char* code) { fa9::copyText(productCode_, sizeof productCode_, code); }

int32_t URE::setResponseFile(const char* path, int skipChecks) {
    if (!path) return 5003;
    char* copy = copyOf(path);
    if (!copy) {
        ureReport(URE_LOG_WARNING, "URE::setResponseFile", 5, 0, 5002, nullptr, 0, true);
        return -1;
    }
    delete[] responseFilePath_;
    responseFilePath_ = copy;
    // A file that fails leaves no product code of an earlier one behind.
    productCode_[0] = '\0';
    int32_t rc;
    {
        // Multi-byte characters of the file follow the user's code page.
        ScopedCrtLocale user("");
        rc = initResponseFile(skipChecks);
    }
    if (rc != 0) return rc;
    char product[kProductCodeCapacity];
    if (ureReadRspFile("PROD", RSP_TYPE_TEXT, RSP_MODE_FIRST, nullptr, product, sizeof product, nullptr, nullptr) != 0)
        product[0] = '\0';
    setProductCode(product);
    return 0;
}

int32_t URE::initResponseFile(int skipChecks) {
    responseFileReady_ = false;
    delete responseFile_;
    responseFile_ = new (std::nothrow) ResponseFile();
    if (!responseFile_) return 5012;
    responseFile_->build(responseFilePath_);
    int32_t rc = ureReportResponseFileErrors(*responseFile_);
    if (rc != 0) return rc;
    // Unless the checks are skipped, only a configuration-only file may lack PROD.
    const ResponseFileEntry* configOnly = responseFile_->entry(responseFile_->find("CONFIG_ONLY"));
    const bool needsProduct = !skipChecks && !(configOnly && ureIsTruthWord(configOnly->readValue()));
    if (needsProduct && responseFile_->find("PROD") < 0) {
        MsgTokenHolder tokens("PROD");
        report(5375, 90, 0, &tokens);
        return 0;
    }
    responseFileReady_ = true;
    return 0;
}

int ureReadRspFile(const char* keyword, int type, int mode, int* number, char* buffer, int size, const char* prefix,
                   int32_t* cursor) {
    if (!keyword || (type != RSP_TYPE_TEXT && type != RSP_TYPE_INT)) return 5003;
    if (type == RSP_TYPE_TEXT && (!buffer || size <= 0)) return 5003;
    if (type == RSP_TYPE_INT && !number) return 5003;
    bool prefixed = prefix && *prefix;
    char* searched = searchedKeyword(keyword, prefix);
    if (!searched) {
        ureReport(URE_LOG_WARNING, "ureReadRspFile", prefixed ? 12 : 13, 0, 5002, nullptr, 0, true);
        return -1;
    }
    URE* engine = URE::instance();
    ResponseFile* file = engine ? engine->responseFile() : nullptr;
    if (!engine || !file || !engine->responseFileReady()) {
        delete[] searched;
        ureReport(URE_LOG_ERROR, "ureReadRspFile", 20, 0, 5020, nullptr, 0, true);
        return 5020;
    }
    int32_t& position = engine->responseFilePosition();
    if (mode == RSP_MODE_FIRST)
        position = 0;
    else if (cursor && *cursor > 0)
        position = *cursor;
    int found = file->find(searched, position);
    delete[] searched;
    if (found < 0) return 5018;
    position = found;
    if (cursor) *cursor = found;
    ++position;
    const char* value = file->entry(found)->readValue();
    if (!value) return 5019;
    if (type == RSP_TYPE_INT) {
        *number = fa9::leadingInteger(value);
        return 0;
    }
    size_t length = std::strlen(value);
    if (length >= static_cast<size_t>(size)) return 5006;
    std::memcpy(buffer, value, length + 1);
    if (std::strcmp(keyword, "NAME") == 0) upperCase(buffer);
    buffer[size - 1] = '\0';
    return 0;
}

int ureNumberOfRspFileKeywords(const char* keyword, const char* prefix, int start) {
    if (!keyword) return 0;
    char* searched = searchedKeyword(keyword, prefix);
    if (!searched) {
        ureReport(URE_LOG_WARNING, "ureNumberOfRspFileKeywords", prefix && *prefix ? 12 : 13, 0, 5002, nullptr, 0,
                  true);
        return -1;
    }
    URE* engine = URE::existing();
    ResponseFile* file = engine ? engine->responseFile() : nullptr;
    int count = 0;
    if (file && engine->responseFileReady())
        for (int i = file->find(searched, start); i >= 0; i = file->find(searched, i + 1)) ++count;
    delete[] searched;
    return count;
}
