// The English message texts built into the library: the package's English string
// library as built, for a script action that cannot read the installer's package.
#pragma once

#include <cstddef>

// The library's file image (searched like the package's row); `size` its length.
const unsigned char* iBuiltInStrings(size_t& size);
