// A response file is written by hand: the whole engine (all passes, look-up, value
// rules, cross-checks, reports) must take any bytes. The first line of the input, when
// it starts with '!', is the PROGNAME the engine runs under.
#include "frame/ure.h"
#include "response/response_engine.h"
#include "response/response_file.h"
#include "winsim/control.h"

#include <cstdint>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static winsim::Machine machine;
    std::string input(reinterpret_cast<const char*>(data), size);
    std::string content = input;
    machine.environment.erase("PROGNAME");
    if (!input.empty() && input[0] == '!') {
        size_t nl = input.find('\n');
        machine.environment["PROGNAME"] = input.substr(1, nl == std::string::npos ? std::string::npos : nl - 1);
        content = nl == std::string::npos ? std::string() : input.substr(nl + 1);
    }
    machine.writeFile("C:\\fuzz\\input.rsp", content);
    URE* engine = URE::instance();
    engine->setResponseFile("C:\\fuzz\\input.rsp", 0);
    ResponseFile* file = engine->responseFile();
    if (file) {
        for (int i = 0; i < file->count(); ++i) {
            const ResponseFileEntry* e = file->entry(i);
            if (e->lineNumber() < 1 || e->status() < 0 || e->status() > 2) __builtin_trap();
            if (e->status() == 0 && !e->value()) __builtin_trap();  // such entries are dropped
        }
        char buffer[64];
        int32_t cursor = 0;
        for (int mode = 1; mode == 1 || cursor < file->count(); mode = 0, ++cursor)
            if (ureReadRspFile("NAME", 4, mode, nullptr, buffer, sizeof buffer, engine->responseFile()->defaultInstance(),
                               &cursor) != 0)
                break;
        ureNumberOfRspFileKeywords("COMP", nullptr, 0);
    }
    URE::destroy();
    return 0;
}
