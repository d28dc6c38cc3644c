// The runner turns a command into the line CreateProcessA gets: whatever the command
// and the capacity, the result is terminated inside its buffer, and is the same text at
// every capacity it fits (refused, and empty, at every capacity it does not).
#include "process/install_process.h"
#include "winsim/control.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

// One machine for the whole run: a folder with blanks in its name, so that batch files
// there get their short form.
winsim::Machine& machine() {
    static winsim::Machine* m = [] {
        auto* made = new winsim::Machine();
        made->makeDirs("C:\\Program Files\\Tool Kit");
        made->writeFile("C:\\Program Files\\Tool Kit\\run.bat", "@echo off");
        made->writeFile("C:\\Program Files\\Tool Kit\\tool.exe", "MZ");
        return made;
    }();
    return *m;
}

bool hasExtension(const std::string& command) {
    std::string lower = command;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const char* ext : {".exe", ".bat", ".com", ".cmd"})
        if (lower.find(ext) != std::string::npos) return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    machine();
    // First byte: the capacity, in steps of four; then the command up to a NUL.
    const size_t capacity = static_cast<size_t>(data[0]) * 4;
    std::string command(reinterpret_cast<const char*>(data + 1), size - 1);
    command = command.substr(0, command.find('\0'));

    std::vector<char> whole(4096, '#');
    const uint32_t rcWhole = InstallProcess::buildCommandLine(command.c_str(), whole.data(), whole.size());
    if (rcWhole != 0 && rcWhole != 5005 && rcWhole != 5006) __builtin_trap();
    if (!std::memchr(whole.data(), '\0', whole.size())) __builtin_trap();
    if (rcWhole != 0 && whole[0] != '\0') __builtin_trap();
    // No extension anywhere: nothing to run, whatever the quotes say.
    if (!hasExtension(command) && rcWhole != 5005) __builtin_trap();
    if (rcWhole == 5006) return 0;  // longer than any line the runner keeps
    const std::string line = whole.data();
    if (rcWhole == 0 && line.empty()) __builtin_trap();

    std::vector<char> out(capacity ? capacity : 1, '#');
    const uint32_t rc = InstallProcess::buildCommandLine(command.c_str(), capacity ? out.data() : nullptr, capacity);
    if (capacity && !std::memchr(out.data(), '\0', capacity)) __builtin_trap();
    if (rcWhole == 5005) {
        if (rc != (capacity ? 5005u : 5006u)) __builtin_trap();
    } else if (line.size() < capacity) {
        if (rc != 0 || line != out.data()) __builtin_trap();
    } else {
        if (rc != 5006 || (capacity && out[0] != '\0')) __builtin_trap();
    }
    return 0;
}
