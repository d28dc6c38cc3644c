// The allocator of fa9osse_install3.dll; see oss_mem.h for what it records and checks.
#include "oss_mem.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

constexpr uint32_t kLiveMagic = 0x4D53534Fu;   // "OSSM"
constexpr uint32_t kDeadMagic = 0x44454144u;   // "DEAD", written just before the block goes back
constexpr uint32_t kGuardWord = 0x47554152u;   // "GUAR", after the caller's bytes

struct BlockHeader {
    BlockHeader* prev;
    BlockHeader* next;
    const char* sourceName;
    size_t size;
    int line;
    uint32_t magic;
};

// The caller's bytes start this far into a block, so they keep malloc's alignment.
constexpr size_t kHeaderSpace =
    (sizeof(BlockHeader) + alignof(std::max_align_t) - 1) / alignof(std::max_align_t) *
    alignof(std::max_align_t);

// Plain spin lock: the mingw runtime this DLL is built with has no std::mutex in
// every thread model, and the sections it guards are a few pointer moves long.
std::atomic_flag g_lock = ATOMIC_FLAG_INIT;
BlockHeader* g_newest = nullptr;
OssMemStats g_stats = {0, 0, 0, 0};

class ListLock {
public:
    ListLock() {
        while (g_lock.test_and_set(std::memory_order_acquire)) {
        }
    }
    ~ListLock() { g_lock.clear(std::memory_order_release); }
    ListLock(const ListLock&) = delete;
    ListLock& operator=(const ListLock&) = delete;
};

unsigned char* userBytes(BlockHeader* h) { return reinterpret_cast<unsigned char*>(h) + kHeaderSpace; }

// Finds the live block whose caller's bytes start at p. Compares addresses only,
// so p is never dereferenced unless it is one of ours.
BlockHeader* findLive(const void* p) {
    const uintptr_t wanted = reinterpret_cast<uintptr_t>(p);
    for (BlockHeader* h = g_newest; h != nullptr; h = h->next) {
        if (reinterpret_cast<uintptr_t>(userBytes(h)) == wanted) return h;
    }
    return nullptr;
}

}  // namespace

extern "C" void* OSS_CDECL _ossMemAlloc(size_t size, const char* sourceName, int line) {
    const size_t overhead = kHeaderSpace + sizeof(kGuardWord);
    if (size > SIZE_MAX - overhead) return nullptr;
    void* raw = std::malloc(size + overhead);
    if (raw == nullptr) return nullptr;

    BlockHeader* h = static_cast<BlockHeader*>(raw);
    h->prev = nullptr;
    h->sourceName = sourceName;
    h->size = size;
    h->line = line;
    h->magic = kLiveMagic;
    std::memcpy(userBytes(h) + size, &kGuardWord, sizeof(kGuardWord));
    {
        ListLock lock;
        h->next = g_newest;
        if (g_newest != nullptr) g_newest->prev = h;
        g_newest = h;
        ++g_stats.liveBlocks;
        g_stats.liveBytes += size;
    }
    return userBytes(h);
}

extern "C" void OSS_CDECL _ossMemFree(void* p, const char* /*sourceName*/, int /*line*/) {
    if (p == nullptr) return;
    BlockHeader* h = nullptr;
    {
        ListLock lock;
        h = findLive(p);
        if (h == nullptr || h->magic != kLiveMagic) {
            ++g_stats.rejectedFrees;
            return;
        }
        if (h->prev != nullptr) h->prev->next = h->next;
        else g_newest = h->next;
        if (h->next != nullptr) h->next->prev = h->prev;
        --g_stats.liveBlocks;
        g_stats.liveBytes -= h->size;
        uint32_t guard = 0;
        std::memcpy(&guard, userBytes(h) + h->size, sizeof(guard));
        if (guard != kGuardWord) ++g_stats.damagedGuards;
    }
    h->magic = kDeadMagic;
    std::free(h);
}

OssMemStats ossMemGetStats() {
    ListLock lock;
    return g_stats;
}

void ossMemForEachLive(void (*visit)(const void*, size_t, const char*, int, void*), void* context) {
    if (visit == nullptr) return;
    ListLock lock;
    for (BlockHeader* h = g_newest; h != nullptr; h = h->next) {
        visit(userBytes(h), h->size, h->sourceName, h->line, context);
    }
}
