// The substitution tokens of one message: up to 16 owned strings.
#pragma once

#include <cstdint>

class MsgTokenHolder {
public:
    static constexpr int kCapacity = 16;

    explicit MsgTokenHolder(const char* first = nullptr);
    MsgTokenHolder(const MsgTokenHolder& other);
    MsgTokenHolder& operator=(const MsgTokenHolder&) = delete;
    virtual ~MsgTokenHolder();

    // Each add returns false when the holder is full or the copy cannot be made.
    bool addString(const char* text);
    bool addInt(int value);
    bool addUnsigned(unsigned value);
    bool addInt64(int64_t value);
    bool addUnsigned64(uint64_t value);

    // The token at `index`, or "" when there is none.
    const char* get(int index) const;
    // Removes every token equal to `text`.
    void removeString(const char* text);
    // Removes the token at `index` and closes the gap.
    void removeAt(int index);

    int count() const { return count_; }
    int totalLength() const { return totalLength_; }

private:
    char* tokens_[kCapacity] = {};
    int count_ = 0;
    int totalLength_ = 0;
};
