// fa9osse_install3.dll: the small allocator that the diagnostics observers of
// fa9wolt.dll borrow their temporary buffers from.
//
// Exports (plain C names, cdecl, listed in fa9osse.def):
//   void* _ossMemAlloc(size_t size, const char* sourceName, int line);
//   void  _ossMemFree(void* p, const char* sourceName, int line);
//
// What the allocator does with the caller's source name and line:
//   Every block carries a header in front of the caller's bytes that records the
//   requested size, the source-name pointer and the line of the allocating call,
//   a magic value, and the links of a list of all live blocks. A guard word
//   follows the caller's bytes. The recorded place is what the live-block walk
//   below reports, so a block that is never freed can be traced to its call.
//
//   _ossMemFree accepts only a pointer that this allocator handed out and that is
//   still live: it looks the block up in the live list before it touches the
//   memory, so a foreign pointer, an interior pointer, a null pointer or a block
//   freed twice is ignored (and counted) instead of corrupting the heap. A guard
//   word that the caller overwrote is counted as well; the block is still freed.
//   The source name and line given to _ossMemFree are not needed for that and are
//   not kept.
//
//   The source name is stored as a pointer, not copied: callers pass a string
//   literal ("fa9iobs"), which lives as long as the module that passed it.
//
// Blocks are aligned for any standard type (std::max_align_t). A request of 0
// bytes gives a distinct live block; a request too large to add the header to
// gives null. One lock guards the list, so any thread may allocate and free; a
// free walks the live list, which stays short because the callers free their
// buffers right after use.
//
// The same source is the DLL (mingw, through the .def file) and, on the host, a
// static library that the simulated Windows hands out for the DLL's exports.
#pragma once

#include <cstddef>

#if defined(_WIN32)
#define OSS_CDECL __cdecl
#else
#define OSS_CDECL
#endif

extern "C" {
void* OSS_CDECL _ossMemAlloc(size_t size, const char* sourceName, int line);
void OSS_CDECL _ossMemFree(void* p, const char* sourceName, int line);
}

// For tests and leak reports; not exported from the DLL.
struct OssMemStats {
    size_t liveBlocks;     // blocks handed out and not yet freed
    size_t liveBytes;      // their requested sizes added up
    size_t rejectedFrees;  // frees of pointers that were not live blocks (null not counted)
    size_t damagedGuards;  // blocks whose guard word after the caller's bytes was overwritten
};

OssMemStats ossMemGetStats();

// Calls visit once for every live block, newest first, with the place that
// allocated it. visit must not allocate from or free to this allocator.
void ossMemForEachLive(void (*visit)(const void* block, size_t size, const char* sourceName,
                                     int line, void* context),
                       void* context);
