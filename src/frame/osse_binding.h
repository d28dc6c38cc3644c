// The sibling allocator library, bound on first use the way delay loading binds it:
// by bare file name, so the loader finds it in the runtime directory that the
// installation makes the current directory.
#pragma once

#include <cstddef>

// A temporary buffer of `size` bytes from the sibling library, or null when the
// library cannot be loaded or has no memory. `line` is for its bookkeeping.
void* ossAllocate(size_t size, int line);
void ossRelease(void* block, int line);

// Removes enclosing double quotes in place. The text passes through a temporary buffer
// of the sibling library; without one, the opening quote becomes a blank and the
// closing one is cut off instead.
void ureStripEnclosingQuotes(char* text);
