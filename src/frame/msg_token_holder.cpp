#include "frame/msg_token_holder.h"

#include "platform/bounded.h"

#include <cinttypes>
#include <cstring>
#include <new>

namespace {

char* duplicate(const char* text) {
    size_t n = fa9::textLength(text);
    char* copy = new (std::nothrow) char[n + 1];
    if (!copy) return nullptr;
    if (n) std::memcpy(copy, text, n);
    copy[n] = '\0';
    return copy;
}

// A number as a token, in its decimal text.
template <typename T>
bool addNumber(MsgTokenHolder& tokens, const char* format, T value) {
    char text[24];
    fa9::formatText(text, sizeof text, format, value);
    return tokens.addString(text);
}

}  // namespace

MsgTokenHolder::MsgTokenHolder(const char* first) {
    if (first) addString(first);
}

MsgTokenHolder::MsgTokenHolder(const MsgTokenHolder& other) {
    for (int i = 0; i < other.count_; ++i) addString(other.tokens_[i]);
}

MsgTokenHolder::~MsgTokenHolder() {
    for (int i = 0; i < count_; ++i) delete[] tokens_[i];
}

bool MsgTokenHolder::addString(const char* text) {
    if (count_ >= kCapacity) return false;
    char* copy = duplicate(text);
    if (!copy) return false;
    tokens_[count_++] = copy;
    totalLength_ += static_cast<int>(std::strlen(copy));
    return true;
}

bool MsgTokenHolder::addInt(int value) { return addNumber(*this, "%d", value); }
bool MsgTokenHolder::addUnsigned(unsigned value) { return addNumber(*this, "%u", value); }
bool MsgTokenHolder::addInt64(int64_t value) { return addNumber(*this, "%" PRId64, value); }
bool MsgTokenHolder::addUnsigned64(uint64_t value) { return addNumber(*this, "%" PRIu64, value); }

const char* MsgTokenHolder::get(int index) const {
    if (index < 0 || index >= count_) return "";
    return tokens_[index];
}

void MsgTokenHolder::removeString(const char* text) {
    if (!text) return;
    for (int i = count_ - 1; i >= 0; --i)
        if (std::strcmp(tokens_[i], text) == 0) removeAt(i);
}

void MsgTokenHolder::removeAt(int index) {
    if (index < 0 || index >= count_) return;
    totalLength_ -= static_cast<int>(std::strlen(tokens_[index]));
    delete[] tokens_[index];
    for (int i = index; i + 1 < count_; ++i) tokens_[i] = tokens_[i + 1];
    tokens_[--count_] = nullptr;
}
