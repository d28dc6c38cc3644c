// Report records handed from ureReport to the engine's observers.
#pragma once

#include "frame/msg_token_holder.h"

#include <cstddef>
#include <cstdint>

// Kinds of report (flags): bit 0x04000000 marks every report, 0x20000000 asks for
// display, 0x40000000 asks a question; the low bits give severity or button set.
const uint32_t URE_LOG_PLAIN = 0x04000000;
const uint32_t URE_LOG_ERROR = 0x04000001;
const uint32_t URE_LOG_INFO = 0x04000002;
const uint32_t URE_LOG_WARNING = 0x04000100;
const uint32_t URE_LOG_PLAIN_ALT = 0x05000000;
const uint32_t URE_SHOW_ERROR = 0x24000001;
const uint32_t URE_SHOW_WARNING = 0x24000100;
const uint32_t URE_ASK_YESNO = 0x44000006;
const uint32_t URE_ASK_YESNOCANCEL = 0x44000016;
const uint32_t URE_ASK_RETRYCANCEL = 0x44000030;
const uint32_t URE_ASK_ABORTRETRYIGNORE = 0x440000E0;

class UREBaseInfo {
public:
    virtual int type() const = 0;
    virtual ~UREBaseInfo() = default;
};

class UREInfo : public UREBaseInfo {
public:
    // Copies that cannot be made (out of memory) are left null; the report goes on.
    UREInfo(uint32_t flags, const char* functionName, int probe, int32_t rc, uint32_t messageNumber,
            const MsgTokenHolder* tokens, int feedback, bool flag, const char* text);
    UREInfo(const UREInfo&) = delete;
    UREInfo& operator=(const UREInfo&) = delete;
    ~UREInfo() override;

    int type() const override { return 2; }

    // The report's text into `buffer` of `size` characters: 0, 5006 (too small),
    // 5011 (neither message number nor text), or the message lookup's code.
    int getText(char* buffer, int size) const;
    // Characters getText needs, without the terminator.
    int textLength() const;
    void setFeedBack(const char* answer);

    uint32_t flags() const { return flags_; }
    int64_t resultCode() const { return rc_; }
    const char* functionName() const { return functionName_; }
    int probe() const { return probe_; }
    int feedback() const { return feedback_; }
    uint32_t messageNumber() const { return messageNumber_; }
    const MsgTokenHolder* tokens() const { return tokens_; }
    bool flag() const { return flag_; }
    const char* text() const { return text_; }

private:
    uint32_t flags_;
    int64_t rc_;
    char* functionName_ = nullptr;
    int probe_;
    int feedback_ = 0;
    uint32_t messageNumber_;
    MsgTokenHolder* tokens_ = nullptr;
    bool flag_;
    char* text_ = nullptr;
    char* answer_ = nullptr;
    size_t answerLength_ = 0;
};
