#include "platform/bounded.h"
#include "platform/crt_locale.h"
#include "frame/install_log.h"
#include "frame/message_strings.h"
#include "frame/osse_binding.h"
#include "frame/ure.h"
#include "frame/ure_info.h"
#include "frame/ure_observers.h"

#include <ctime>
#include <new>

namespace {

URELogObserver* g_logObserver = nullptr;

// Messages are rarely longer than a few hundred characters; past this the retry loop
// would only be feeding a runaway token list.
const int kMaxLineSize = 1 << 24;

struct LineBuffers {
    explicit LineBuffers(int size)
        : text(new (std::nothrow) char[static_cast<size_t>(size)]),
          prefix(new (std::nothrow) char[static_cast<size_t>(size) + 256]),
          line(new (std::nothrow) char[static_cast<size_t>(size) + 300]) {}
    ~LineBuffers() {
        delete[] text;
        delete[] prefix;
        delete[] line;
    }
    bool ok() const { return text && prefix && line; }
    char* text;
    char* prefix;
    char* line;
};

// The prefix message's text as the lookup left it: after a failed load that is the
// lookup's own explanation, which is what gets written.
void lookUpPrefix(uint32_t number, char* prefix, int capacity) {
    prefix[0] = '\0';
    ureGetString(number, prefix, capacity, nullptr);
    ureStripEnclosingQuotes(prefix);
}

}  // namespace

URELogObserver* URELogObserver::instance() {
    if (!g_logObserver) g_logObserver = new (std::nothrow) URELogObserver();
    return g_logObserver;
}

void URELogObserver::destroy() {
    delete g_logObserver;
    g_logObserver = nullptr;
}

int URELogObserver::update(const UREBaseInfo& base) {
    if (!enabled() || !stream_ || base.type() != 2) return 0;
    const UREInfo& record = static_cast<const UREInfo&>(base);
    int size = record.textLength() + 1;
    for (;;) {
        if (size <= 0 || size > kMaxLineSize) return 0;
        LineBuffers buf(size);
        if (!buf.ok()) return 0;
        buf.text[0] = '\0';
        int rc = record.getText(buf.text, size);
        if (rc == 5006) {
            size += 256;
            continue;
        }
        const int prefixCapacity = size + 256;
        const size_t lineCapacity = static_cast<size_t>(size) + 300;
        if (rc == 0) {
            ureStripEnclosingQuotes(buf.text);
            if (raw_ && record.flags() == URE_LOG_ERROR) {
                fa9::copyText(buf.line, lineCapacity, buf.text);
            } else {
                switch (record.flags() & 0x04000103) {
                case URE_LOG_ERROR: lookUpPrefix(2003, buf.prefix, prefixCapacity); break;
                case URE_LOG_WARNING: lookUpPrefix(2004, buf.prefix, prefixCapacity); break;
                case URE_LOG_INFO: lookUpPrefix(2002, buf.prefix, prefixCapacity); break;
                case URE_LOG_PLAIN: {
                    buf.prefix[0] = '\0';
                    if (timeStamp_) {
                        const std::tm local = crtLocalTime(std::time(nullptr));
                        std::strftime(buf.prefix, static_cast<size_t>(prefixCapacity), "%H:%M:%S", &local);
                    }
                    break;
                }
                default: return 0;
                }
                fa9::copyText(buf.line, lineCapacity, buf.prefix);
                fa9::appendText(buf.line, lineCapacity, buf.text);
            }
        } else if (rc == 5011) {
            MsgTokenHolder tokens;
            tokens.addInt(static_cast<int>(record.messageNumber()));
            buf.prefix[0] = '\0';
            ureGetString(2006, buf.prefix, prefixCapacity, &tokens);
            ureStripEnclosingQuotes(buf.prefix);
            fa9::copyText(buf.line, lineCapacity, buf.prefix);
        } else {
            return 0;
        }
        write(buf.line);
        return 0;
    }
}

void URELogObserver::write(const char* line) {
    if (streamMode_) {
        if (std::fprintf(stream_, "%s\n", line) >= 0) std::fflush(stream_);
        return;
    }
    URE* engine = URE::existing();
    if (engine && engine->sessionHandle() != 0) iLogMessage(engine->sessionHandle(), line);
}
