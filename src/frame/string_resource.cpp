#include "frame/string_resource.h"

namespace {

constexpr uint32_t kStringType = 6;          // RT_STRING
constexpr uint32_t kResourceDirectory = 2;   // index in the optional header's data directories
constexpr uint32_t kSubdirectory = 0x80000000u;
constexpr uint32_t kDirectorySize = 16, kEntrySize = 8, kDataEntrySize = 16, kSectionSize = 40;
constexpr uint32_t kStringsPerBlock = 16;

// The file's bytes, read little-endian; every read says whether it was inside them. The
// offsets are 64-bit so that no sum of two 32-bit fields wraps.
class Bytes {
public:
    Bytes(const unsigned char* data, size_t size) : data_(data), size_(data ? size : 0) {}

    bool has(uint64_t at, uint64_t count) const { return at <= size_ && count <= size_ - at; }
    bool u16(uint64_t at, uint32_t& value) const {
        if (!has(at, 2)) return false;
        value = uint32_t(data_[at]) | uint32_t(data_[at + 1]) << 8;
        return true;
    }
    bool u32(uint64_t at, uint32_t& value) const {
        uint32_t low, high;
        if (!u16(at, low) || !u16(at + 2, high)) return false;
        value = low | high << 16;
        return true;
    }

private:
    const unsigned char* data_;
    uint64_t size_;
};

class PeFile {
public:
    explicit PeFile(const Bytes& bytes) : bytes_(bytes) {}

    // Reads the headers: the section table's place and the resource directory's RVA and size.
    bool open() {
        uint32_t mz, peOffset, signature, sections, optionalSize, magic;
        if (!bytes_.u16(0, mz) || mz != 0x5A4D || !bytes_.u32(0x3C, peOffset)) return false;
        if (!bytes_.u32(peOffset, signature) || signature != 0x00004550) return false;
        const uint64_t fileHeader = uint64_t(peOffset) + 4, optional = fileHeader + 20;
        if (!bytes_.u16(fileHeader + 2, sections) || !bytes_.u16(fileHeader + 16, optionalSize) ||
            !bytes_.u16(optional, magic))
            return false;
        // PE32 and PE32+ differ in where the data directories start.
        if (magic != 0x10B && magic != 0x20B) return false;
        const uint32_t directories = magic == 0x10B ? 96 : 112;
        const uint32_t needed = directories + (kResourceDirectory + 1) * 8;
        uint32_t directoryCount;
        if (optionalSize < needed || !bytes_.u32(optional + directories - 4, directoryCount) ||
            directoryCount <= kResourceDirectory)
            return false;
        const uint64_t entry = optional + directories + kResourceDirectory * 8;
        if (!bytes_.u32(entry, resourceRva_) || !bytes_.u32(entry + 4, resourceSize_)) return false;
        sectionTable_ = optional + optionalSize;
        sectionCount_ = sections;
        if (resourceRva_ == 0 || resourceSize_ == 0 || !bytes_.has(sectionTable_, uint64_t(sections) * kSectionSize))
            return false;
        // A file cut short is refused whole, even where the string sought lies before the cut.
        for (uint32_t i = 0; i < sectionCount_; ++i) {
            uint32_t rawSize, rawPointer;
            const uint64_t at = sectionTable_ + uint64_t(i) * kSectionSize;
            if (!bytes_.u32(at + 16, rawSize) || !bytes_.u32(at + 20, rawPointer) ||
                (rawSize != 0 && !bytes_.has(rawPointer, rawSize)))
                return false;
        }
        return true;
    }

    // The file offset of `count` bytes at `rva`, when a section holds all of them in the
    // file: as on disk, a section's data lies at its PointerToRawData, and only what both
    // its raw size and (when given) its virtual size cover is its data.
    bool fileOffset(uint64_t rva, uint64_t count, uint64_t& offset) const {
        for (uint32_t i = 0; i < sectionCount_; ++i) {
            const uint64_t at = sectionTable_ + uint64_t(i) * kSectionSize;
            uint32_t virtualSize, address, rawSize, rawPointer;
            if (!bytes_.u32(at + 8, virtualSize) || !bytes_.u32(at + 12, address) || !bytes_.u32(at + 16, rawSize) ||
                !bytes_.u32(at + 20, rawPointer))
                return false;
            const uint64_t extent = virtualSize != 0 && virtualSize < rawSize ? virtualSize : rawSize;
            if (rva < address || rva - address >= extent) continue;
            if (count > extent - (rva - address)) return false;
            offset = uint64_t(rawPointer) + (rva - address);
            return bytes_.has(offset, count);
        }
        return false;
    }

    // The file offset of `count` bytes at `offset` into the resource directory, which
    // must hold them.
    bool resourceOffset(uint64_t offset, uint64_t count, uint64_t& at) const {
        return offset <= resourceSize_ && count <= resourceSize_ - offset &&
               fileOffset(uint64_t(resourceRva_) + offset, count, at);
    }

    // In the resource directory at `directory`, the target of the entry whose ID is `id`
    // (any entry when `id` is kFirst, then the first): a subdirectory's offset when
    // `subdirectory`, a data entry's otherwise; the other kind is refused.
    static constexpr uint32_t kFirst = UINT32_MAX;
    bool find(uint32_t directory, uint32_t id, bool subdirectory, uint32_t& target) const {
        uint64_t at;
        uint32_t named, ids;
        if (!resourceOffset(directory, kDirectorySize, at) || !bytes_.u16(at + 12, named) || !bytes_.u16(at + 14, ids))
            return false;
        const uint64_t count = uint64_t(named) + ids;
        if (count == 0 || !resourceOffset(uint64_t(directory) + kDirectorySize, count * kEntrySize, at)) return false;
        for (uint64_t i = 0; i < count; ++i) {
            uint32_t name, offset;
            if (!bytes_.u32(at + i * kEntrySize, name) || !bytes_.u32(at + i * kEntrySize + 4, offset)) return false;
            // A name with the high bit set is a string, never a match for an ID.
            if (id != kFirst && name != id) continue;
            if (((offset & kSubdirectory) != 0) != subdirectory) return false;
            target = offset & ~kSubdirectory;
            return true;
        }
        return false;
    }

private:
    const Bytes& bytes_;
    uint64_t sectionTable_ = 0;
    uint32_t sectionCount_ = 0;
    uint32_t resourceRva_ = 0, resourceSize_ = 0;
};

}  // namespace

bool iFindStringResource(const unsigned char* image, size_t size, uint32_t id, std::u16string& text) {
    text.clear();
    const Bytes bytes(image, size);
    PeFile pe(bytes);
    const uint32_t number = id & 0xFFFF;
    uint32_t names, languages, dataEntry, dataRva, dataSize;
    uint64_t at, block;
    if (!pe.open() || !pe.find(0, kStringType, true, names) ||
        !pe.find(names, number / kStringsPerBlock + 1, true, languages) ||
        !pe.find(languages, PeFile::kFirst, false, dataEntry) ||
        !pe.resourceOffset(dataEntry, kDataEntrySize, at) || !bytes.u32(at, dataRva) || !bytes.u32(at + 4, dataSize) ||
        !pe.fileOffset(dataRva, dataSize, block))
        return false;
    // The block: 16 strings, each a length in UTF-16 units and that many units.
    const uint64_t end = block + dataSize;
    uint32_t length = 0;
    for (uint32_t i = 0; i <= number % kStringsPerBlock; ++i) {
        if (i != 0) block += 2 + uint64_t(length) * 2;
        if (block > end || end - block < 2 || !bytes.u16(block, length)) return false;
    }
    if (length == 0 || (end - block - 2) / 2 < length) return false;
    text.resize(length);
    for (uint32_t i = 0; i < length; ++i) {
        uint32_t unit = 0;
        bytes.u16(block + 2 + uint64_t(i) * 2, unit);  // inside the block, checked above
        text[i] = char16_t(unit);
    }
    return true;
}
