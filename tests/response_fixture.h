// A response file written to the machine and named to the engine, for the tests of the
// file's parsing, the engine's reports and reads, and the keyword table.
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
    void TearDown() override { URE::destroy(); }

    int32_t load(const std::string& content, int skipChecks = 0) {
        machine.writeFile(kPath, content);
        return URE::instance()->setResponseFile(kPath, skipChecks);
    }
    ResponseFile& file() { return *URE::instance()->responseFile(); }
    // Keyword, value (or "(none)"), status and line of every kept entry.
    std::vector<std::string> entries() {
        std::vector<std::string> out;
        for (int i = 0; i < file().count(); ++i) {
            const ResponseFileEntry* e = file().entry(i);
            out.push_back(std::string(e->keyword()) + "|" + (e->value() ? e->value() : "(none)") + "|" +
                          std::to_string(e->status()) + "|" + std::to_string(e->lineNumber()));
        }
        return out;
    }
    // Keywords of the entries of this status, in file order.
    std::vector<std::string> marked(int status) {
        std::vector<std::string> out;
        for (int i = 0; i < file().count(); ++i)
            if (file().entry(i)->status() == status) out.push_back(file().entry(i)->keyword());
        return out;
    }
    std::string read(const char* keyword, const char* prefix = nullptr, int mode = RSP_MODE_FIRST) {
        char buffer[256] = "untouched";
        int r = ureReadRspFile(keyword, RSP_TYPE_TEXT, mode, nullptr, buffer, sizeof buffer, prefix, nullptr);
        return r == 0 ? buffer : "<" + std::to_string(r) + ">";
    }

    Recorder recorder;
};

// What judges the values (a rule, or a keyword of the table), the values it lets pass and
// those it refuses.
struct Verdicts {
    const char* judge;
    std::vector<const char*> passing;
    std::vector<const char*> refused;
};

// `judge` gives `pass` for every passing value, `refuse` for every refused one.
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
