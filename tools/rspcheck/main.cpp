// rspcheck: checks a response file the way the installation will, and says what is wrong.
//
//   rspcheck [-p PROGNAME] [-l LOCALE] [-q] FILE    exit 0 valid, 1 invalid, 2 not readable
//   rspcheck -s PASSWORD                            prints the scrambled form for ENCRYPTED
#include "frame/msg_token_holder.h"
#include "frame/ure.h"
#include "frame/ure_info.h"
#include "platform/win32.h"
#include "response/keyword_table.h"
#include "response/password_scramble.h"
#include "response/response_engine.h"
#include "response/response_file.h"
#include "response/rule_match.h"
#include "rspcheck/platform.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Message {
    uint32_t number;
    std::string text;
};

// Keeps the engine's reports with their texts in the chosen language.
class Collector : public IObserver {
public:
    int update(const UREBaseInfo& base) override {
        if (base.type() != 2) return 0;  // only message records carry a text
        const auto& record = static_cast<const UREInfo&>(base);
        std::vector<char> text(static_cast<size_t>(record.textLength()) + 257);
        Message m{record.messageNumber(), ""};
        if (record.getText(text.data(), static_cast<int>(text.size())) == 0) m.text = text.data();
        messages.push_back(m);
        return 0;
    }
    std::vector<Message> messages;
};

int usage() {
    std::fputs("usage: rspcheck [-p PROGNAME] [-l LOCALE] [-q] FILE\n"
               "       rspcheck -s PASSWORD\n"
               "Checks a response file as the installation reads it.\n"
               "  -p PROGNAME  check as the program PROGNAME would (keywords it refuses are errors)\n"
               "  -l LOCALE    language of the messages: en_US, de_DE, ja_JP (default: the system's)\n"
               "  -q           print nothing; the exit code tells: 0 valid, 1 invalid, 2 not readable\n"
               "  -s PASSWORD  print the scrambled form of PASSWORD, for a keyword named by ENCRYPTED\n",
               stderr);
    return 2;
}

std::string trimmed(const char* text) {
    std::string s = text ? text : "";
    size_t a = s.find_first_not_of(' ');
    if (a == std::string::npos) return "";
    return s.substr(a, s.find_last_not_of(' ') - a + 1);
}

// What the keyword's row expects, said for a person.
std::string expectation(int ruleIndex, const char* value, const char* fileName) {
    if (ruleIndex < 0) return "";
    const KeywordRule& row = KeywordTable[ruleIndex];
    if (value && ureCheckKeywordValue(ruleIndex, value, fileName) == 0)
        return "    the value itself is allowed, but it does not fit other keywords of this file";
    std::string out = "    expected: " + (row.valueRule ? trimmed(row.valueRule) : std::string("any value"));
    if (row.forbiddenValues) out += "; not: " + trimmed(row.forbiddenValues);
    if (!ureCheckServerKeyword(row.name, value)) out += "; see the rules for " + std::string(row.name);
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    const char* progName = nullptr;
    const char* locale = nullptr;
    const char* file = nullptr;
    bool quiet = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if ((a == "-p" || a == "-l" || a == "-s") && i + 1 >= argc) return usage();
        if (a == "-p")
            progName = argv[++i];
        else if (a == "-l")
            locale = argv[++i];
        else if (a == "-q")
            quiet = true;
        else if (a == "-s") {
            const char* plain = argv[++i];
            std::vector<char> out(rspScrambledLength(std::strlen(plain)) + 1);
            if (!*plain) return usage();
            if (!rspScramble(plain, out.data(), out.size())) {
                std::fprintf(stderr, "rspcheck: a password holding '#', '*' or a control character cannot stand "
                                     "in a response file\n");
                return 2;
            }
            std::printf("%s\n", out.data());
            return 0;
        } else if (!a.empty() && a[0] == '-')
            return usage();
        else if (!file)
            file = argv[i];
        else
            return usage();
    }
    if (!file) return usage();

    URE* engine = URE::instance();
    if (!engine) return 2;
    std::string path = rspcheckPrepare(file);
    if (progName) SetEnvironmentVariableA("PROGNAME", progName);
    if (locale) engine->setLanguage(locale);
    Collector collector;
    engine->attach(&collector);
    int32_t rc = engine->setResponseFile(path.c_str(), 0);

    int problems = 0;
    std::string out;
    if (rc == 5014 || rc == 5013 || rc == 7106 || rc == 5002 || rc == 5012 || rc == -1) {
        for (const Message& m : collector.messages) out += std::string(file) + ": " + m.text + "\n";
        out += std::string(file) + ": not readable\n";
        if (!quiet) std::fputs(out.c_str(), stdout);
        URE::destroy();
        return 2;
    }
    const ResponseFile* rsp = engine->responseFile();
    size_t next = 0;
    for (int i = 0; rsp && i < rsp->count(); ++i) {
        const ResponseFileEntry* e = rsp->entry(i);
        if (e->status() == 0) continue;
        uint32_t wanted = e->status() == 1 ? 5017 : 5015;
        while (next < collector.messages.size() && collector.messages[next].number != wanted) ++next;
        std::string text = next < collector.messages.size() ? collector.messages[next++].text : "";
        ++problems;
        out += std::string(file) + "(" + std::to_string(e->lineNumber()) + "): " + e->keyword() + ": " + text + "\n";
        if (e->status() == 1 && rsp->lookUpKeyword(e->keyword()) >= 0)
            out += "    the keyword is refused for the program " + std::string(progName ? progName : "(PROGNAME)") + "\n";
        else if (e->status() == 2)
            out += expectation(e->ruleIndex(), e->value(), rsp->fileName()) + "\n";
    }
    // What concerns the whole file (a missing PROD); the summary line is ours.
    for (const Message& m : collector.messages)
        if (m.number != 5015 && m.number != 5016 && m.number != 5017 && m.number != 5020) {
            ++problems;
            out += std::string(file) + ": " + m.text + "\n";
        }
    if (problems)
        out += std::string(file) + ": invalid, " + std::to_string(problems) + (problems == 1 ? " problem\n" : " problems\n");
    else
        out += std::string(file) + ": valid\n";
    if (!quiet) std::fputs(out.c_str(), stdout);
    URE::destroy();
    return problems ? 1 : 0;
}
