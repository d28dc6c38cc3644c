#include "frame/builtin_strings.h"

namespace {

const unsigned char kImage[] = {
#include "builtin_strings.inc"
};

}  // namespace

const unsigned char* iBuiltInStrings(size_t& size) {
    size = sizeof kImage;
    return kImage;
}
