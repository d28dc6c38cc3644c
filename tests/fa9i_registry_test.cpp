// The registry key class: the installation name put into key paths, and a value read
// within the caller's capacity.
#include "fixture.h"
#include "registry/fa9i_registry.h"

#include <cstring>

using namespace fa9test;

namespace {

// The name goes into the key path, in a buffer of the caller's or the shared one; text and
// result are bounded (1023 characters), the placeholder is matched case by case, and a
// name that carries the placeholder is put in as it is.
TEST(Resolve, PutsTheNameIntoThePath) {
    const std::string cur = "$CurrentInstallationName$", refused = "(refused)";
    const struct { std::string text; const char* name; std::string expected; } cases[] = {
        {"A\\" + cur + "\\B\\" + cur, "COPY2", "A\\COPY2\\B\\COPY2"},
        {"X\\$currentInstallationName$", "C", "X\\$currentInstallationName$"},
        {"X\\" + cur, nullptr, "X\\" + cur},
        {cur + cur, cur.c_str(), cur + cur},
        {std::string(1023, 'k'), "C", std::string(1023, 'k')},
        {std::string(1024, 'k'), "C", refused},
        {std::string(990, 'k') + cur, "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ", refused},
    };
    auto text = [&](const char* resolved) { return resolved ? std::string(resolved) : refused; };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 40));
        char own[1100];
        EXPECT_EQ(text(resolveInstallationName(c.text.c_str(), c.name, 0, nullptr)), c.expected);
        const char* inOwn = resolveInstallationName(c.text.c_str(), c.name, sizeof own, own);
        EXPECT_EQ(text(inOwn), c.expected);
        // Unchanged text comes back as the caller's pointer.
        if (inOwn) { EXPECT_EQ(inOwn == c.text.c_str(), c.text == c.expected); }
    }
}

// A read terminates the value within the caller's capacity, or refuses it, and never
// writes past that capacity.
TEST_F(SessionTest, AValueReadTerminatesWithinTheCapacity) {
    const struct { const char* label; std::vector<BYTE> data; DWORD capacity; UINT rc; const char* text; } cases[] = {
        {"unterminated", {'a', 'b', 'c'}, 8, 0u, "abc"},
        {"filling the buffer unterminated", {'a', 'b', 'c', 'd'}, 4, kRegistryFailed, ""},
        {"filling the buffer terminated", {'a', 'b', 'c', 0}, 4, 0u, "abc"},
        {"too long", {'a', 'b', 'c', 'd', 'e', 0}, 4, kRegistryFailed, ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        machine.registry().setValue(winsim::Hive::LocalMachine, "SOFTWARE\\WOW6432Node\\ZNK\\FA9", "V", REG_BINARY,
                                    c.data);
        FA9iRegistry key;
        ASSERT_EQ(key.open(HKEY_LOCAL_MACHINE, "SOFTWARE\\ZNK\\FA9", KEY_QUERY_VALUE), ERROR_SUCCESS);
        char buffer[16];
        std::memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(key.queryValue("V", buffer, c.capacity), c.rc);
        EXPECT_STREQ(buffer, c.text);
        for (size_t i = c.capacity; i < sizeof buffer; ++i) EXPECT_EQ(buffer[i], '#') << "byte " << i;
    }
    EXPECT_EQ(machine.registry().openHandleCount(), 0u);
}

}  // namespace
