#include "frame/ure_info.h"

#include "platform/bounded.h"
#include "frame/message_strings.h"

#include <cstring>
#include <new>

namespace {

char* duplicate(const char* text) {
    if (!text) return nullptr;
    size_t n = std::strlen(text);
    char* copy = new (std::nothrow) char[n + 1];
    if (copy) std::memcpy(copy, text, n + 1);
    return copy;
}

}  // namespace

UREInfo::UREInfo(uint32_t flags, const char* functionName, int probe, int32_t rc, uint32_t messageNumber,
                 const MsgTokenHolder* tokens, int feedback, bool flag, const char* text)
    : flags_(flags), rc_(static_cast<int64_t>(rc)), probe_(probe), messageNumber_(messageNumber), flag_(flag) {
    functionName_ = duplicate(functionName);
    if (tokens) tokens_ = new (std::nothrow) MsgTokenHolder(*tokens);
    if (feedback != 0) feedback_ = feedback;
    text_ = duplicate(text);
}

UREInfo::~UREInfo() {
    delete[] functionName_;
    delete tokens_;
    delete[] text_;
    delete[] answer_;
}

int UREInfo::getText(char* buffer, int size) const {
    if (!buffer || size <= 0) return 5006;
    if (messageNumber_ == 0) {
        if (!text_) return 5011;
        return fa9::copyText(buffer, static_cast<size_t>(size), text_) ? 0 : 5006;
    }
    char* scratch = new (std::nothrow) char[static_cast<size_t>(size)];
    if (!scratch) return 5002;
    scratch[0] = '\0';
    int rc = ureGetString(messageNumber_, scratch, size, nullptr);
    if (rc == 0) {
        if (!tokens_) {
            fa9::copyText(buffer, static_cast<size_t>(size), scratch);
        } else if (static_cast<long long>(size) >
                   static_cast<long long>(std::strlen(scratch)) + tokens_->totalLength()) {
            rc = ureSubstituteTokens(scratch, *tokens_, buffer, static_cast<size_t>(size));
        } else {
            rc = 5006;
        }
    }
    delete[] scratch;
    return rc;
}

int UREInfo::textLength() const {
    if (messageNumber_ == 0) return static_cast<int>(fa9::textLength(text_));
    char message[1024];
    message[0] = '\0';
    ureGetString(messageNumber_, message, sizeof message, nullptr);
    int tokenLength = tokens_ ? tokens_->totalLength() : 0;
    return tokenLength + static_cast<int>(strnlen(message, sizeof message));
}

void UREInfo::setFeedBack(const char* answer) {
    delete[] answer_;
    answer_ = duplicate(answer);
    answerLength_ = fa9::textLength(answer_);
}
