// A response file named to the engine, and a table of values a judge lets pass or refuses.
#pragma once

#include "fixture.h"
#include "report_recorder.h"
#include "frame/ure.h"
#include "response/response_engine.h"
#include "response/response_file.h"

#include <string>
#include <utility>
#include <vector>

namespace fa9test {

class ResponseFileTest : public SessionTest {
protected:
    static constexpr const char* kPath = "C:\\rsp\\setup.rsp";
    void SetUp() override {
        installRuntime(stringLibrary("en_US"));
        URE::instance()->setSessionHandle(session.handle());
        URE::instance()->attach(&recorder);
    }
    int32_t load(const std::string& content, int skipChecks = 0) {
        machine.writeFile(kPath, content);
        return URE::instance()->setResponseFile(kPath, skipChecks);
    }
    ResponseFile& file() { return *URE::instance()->responseFile(); }
    // "keyword|value|status|line" of every kept entry (value "(none)" when absent), or of
    // the entries of one status only their keywords.
    std::vector<std::string> entries(int status = -1) {
        std::vector<std::string> out;
        for (int i = 0; i < file().count(); ++i) {
            const ResponseFileEntry* e = file().entry(i);
            if (status >= 0 && e->status() == status) out.push_back(e->keyword());
            if (status < 0)
                out.push_back(std::string(e->keyword()) + "|" + (e->value() ? e->value() : "(none)") + "|" +
                              std::to_string(e->status()) + "|" + std::to_string(e->lineNumber()));
        }
        return out;
    }
    std::string read(const char* keyword, const char* prefix = nullptr, int mode = RSP_MODE_FIRST) {
        char buffer[256];
        int r = ureReadRspFile(keyword, RSP_TYPE_TEXT, mode, nullptr, buffer, sizeof buffer, prefix, nullptr);
        return r == 0 ? buffer : "<" + std::to_string(r) + ">";
    }
    Recorder recorder;
};

// The judge (a rule, or a keyword of the table), the values it lets pass and those it refuses.
struct Verdicts {
    const char* judge;
    std::vector<const char*> passing, refused;
};
template <typename Judge>
void expectVerdicts(const std::vector<Verdicts>& rows, Judge judge, int pass, int refuse) {
    for (const Verdicts& row : rows)
        for (const auto& [values, expected] : {std::pair{&row.passing, pass}, std::pair{&row.refused, refuse}})
            for (const char* value : *values) {
                SCOPED_TRACE(std::string(row.judge) + " ~ " + (value ? value : "(none)"));
                EXPECT_EQ(judge(row.judge, value), expected);
            }
}

}  // namespace fa9test
