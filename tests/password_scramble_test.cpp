// The scrambled form of a password that a response file may hold under ENCRYPTED.
#include "response/password_scramble.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace {

TEST(PasswordScramble, KeepsLengthAndKindAndRoundTrips) {
    for (const std::string plain : {"s3cr=t~!", "pa ss", "\x82\xA0\x82\xA2", "aaaaaaa"}) {
        SCOPED_TRACE(plain);
        std::string out(plain.size() + 1, '?'), back(plain.size() + 1, '?');
        ASSERT_TRUE(rspScramble(plain.c_str(), &out[0], out.size()));
        const std::string scrambled(out.c_str());
        EXPECT_EQ(scrambled.size(), plain.size()) << "the value rule sees the password's length";
        EXPECT_EQ(scrambled.find_first_of("#*\t\r\n"), std::string::npos) << "nothing that would end a value";
        EXPECT_EQ(scrambled == plain, plain[0] == '\x82') << "only bytes above 0x7F stay as they are";
        // Repeated letters do not repeat: each position has its own key.
        EXPECT_TRUE(plain != "aaaaaaa" || scrambled[0] != scrambled[1]);
        ASSERT_TRUE(rspUnscramble(scrambled.c_str(), &back[0], back.size()));
        EXPECT_EQ(std::string(back.c_str()), plain);
    }
    // '#' would start a comment, "eight ch" leaves no room for the terminator, and no
    // scrambled form holds a tab: refused, with nothing left in the buffer.
    using Transform = bool (*)(const char*, char*, size_t);
    const std::pair<Transform, const char*> refusals[] = {
        {rspScramble, "has#hash"}, {rspScramble, "eight ch"}, {rspUnscramble, "tab\there"}};
    for (const auto& [transform, text] : refusals) {
        char out[8] = "x";
        EXPECT_FALSE(transform(text, out, sizeof out)) << text;
        EXPECT_STREQ(out, "") << text;
    }
}

}  // namespace
