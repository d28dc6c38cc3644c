// The reports the engine hands its observers, recorded for tests that check flags,
// function names, probes, result codes, message numbers and tokens.
#pragma once

#include "frame/observer.h"
#include "frame/ure_info.h"

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace fa9test {

struct Report {
    uint32_t flags;
    std::string function;
    int probe;
    int64_t rc;
    uint32_t message;
    std::vector<std::string> tokens;
    std::string text = {};  // a report with its text, as a trace carries it; not compared
    bool operator==(const Report& o) const {
        return flags == o.flags && function == o.function && probe == o.probe && rc == o.rc && message == o.message &&
               tokens == o.tokens;
    }
};
inline void PrintTo(const Report& r, std::ostream* os) {
    *os << std::hex << "{0x" << r.flags << std::dec << ", " << r.function << ", probe " << r.probe << ", rc " << r.rc
        << ", msg " << r.message << ", [";
    for (const auto& t : r.tokens) *os << '"' << t << "\" ";
    *os << "]}";
}

class Recorder : public IObserver {
public:
    int update(const UREBaseInfo& base) override {
        const auto& r = static_cast<const UREInfo&>(base);
        Report rep{r.flags(), r.functionName() ? r.functionName() : "", r.probe(), r.resultCode(), r.messageNumber(), {},
                   r.text() ? r.text() : ""};
        if (r.tokens())
            for (int i = 0; i < r.tokens()->count(); ++i) rep.tokens.push_back(r.tokens()->get(i));
        reports.push_back(rep);
        return 0;
    }
    std::vector<Report> reports;
};

}  // namespace fa9test
