// Value rules come from the table and values from a hand-written file: the rule match
// must take any rule text with any value, stay in bounds and give the locale back.
#include "response/rule_match.h"
#include "winsim/control.h"

#include <clocale>
#include <cstdint>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static winsim::Machine machine;  // P() opens files
    // Rule text, a NUL byte, then the value.
    std::string input(reinterpret_cast<const char*>(data), size);
    size_t nul = input.find('\0');
    std::string rule = input.substr(0, nul);
    std::string value = nul == std::string::npos ? std::string() : input.substr(nul + 1);
    value = value.substr(0, value.find('\0'));
    std::string before = std::setlocale(LC_ALL, nullptr);
    bool matched = ureMatchRule(value.c_str(), rule.c_str(), "C:\\fuzz\\x.rsp");
    if (before != std::setlocale(LC_ALL, nullptr)) __builtin_trap();
    // A rule that does not parse accepts everything.
    if (!ureRuleIsWellFormed(rule.c_str()) && !matched) __builtin_trap();
    return 0;
}
