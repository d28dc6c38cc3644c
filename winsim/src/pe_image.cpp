// PE reading for the simulated loader. Every field read is bounds-checked: a test
// may hand the loader any file, and a damaged one must fail, not crash.
#include "pe_image.h"

#include <cstring>

namespace winsim {

namespace {

constexpr WORD kRtString = 6;
constexpr DWORD kDirExport = 0;
constexpr DWORD kDirResource = 2;
constexpr DWORD kSubdirectoryBit = 0x80000000u;
// A resource tree is three levels deep; a loop in a damaged file must not recurse forever.
constexpr size_t kMaxResourceEntries = 65536;

}  // namespace

class PeReader {
public:
    PeReader(const std::string& bytes, PeImage& image) : b_(bytes), img_(image) {}

    bool read() {
        uint32_t lfanew = 0;
        if (b_.size() < 0x40 || b_[0] != 'M' || b_[1] != 'Z' || !u32(0x3C, lfanew)) return false;
        if (!has(lfanew, 24) || std::memcmp(b_.data() + lfanew, "PE\0\0", 4) != 0) return false;
        uint16_t sectionCount = 0, optSize = 0, magic = 0;
        u16(lfanew + 6, sectionCount);
        u16(lfanew + 20, optSize);
        const size_t opt = size_t(lfanew) + 24;
        if (!u16(opt, magic)) return false;
        u32(opt + 16, img_.entryPoint_);
        size_t dirCountAt = 0;
        if (magic == 0x10b) {
            dirCountAt = opt + 92;
        } else if (magic == 0x20b) {
            dirCountAt = opt + 108;
            img_.is64_ = true;
        } else {
            return false;
        }
        uint32_t dirCount = 0;
        if (!u32(dirCountAt, dirCount)) return false;
        if (dirCountAt + 4 + size_t(dirCount) * 8 > opt + optSize) return false;
        dirs_ = dirCountAt + 4;
        dirCount_ = dirCount;

        const size_t sectionTable = opt + optSize;
        if (!has(sectionTable, size_t(sectionCount) * 40)) return false;
        for (size_t i = 0; i < sectionCount; ++i) {
            Section s;
            const size_t at = sectionTable + i * 40;
            u32(at + 8, s.virtualSize);
            u32(at + 12, s.virtualAddress);
            u32(at + 16, s.rawSize);
            u32(at + 20, s.rawOffset);
            sections_.push_back(s);
        }
        return readExports() && readResources();
    }

private:
    struct Section {
        uint32_t virtualSize = 0, virtualAddress = 0, rawSize = 0, rawOffset = 0;
    };

    bool has(size_t at, size_t n) const { return at <= b_.size() && n <= b_.size() - at; }
    bool u16(size_t at, uint16_t& v) const {
        if (!has(at, 2)) return false;
        v = uint16_t(uint8_t(b_[at]) | uint8_t(b_[at + 1]) << 8);
        return true;
    }
    bool u32(size_t at, uint32_t& v) const {
        if (!has(at, 4)) return false;
        v = uint32_t(uint8_t(b_[at])) | uint32_t(uint8_t(b_[at + 1])) << 8 | uint32_t(uint8_t(b_[at + 2])) << 16 |
            uint32_t(uint8_t(b_[at + 3])) << 24;
        return true;
    }

    // File offset of `n` bytes at an RVA, all inside one section's raw data.
    bool offsetOf(uint32_t rva, size_t n, size_t& off) const {
        for (const Section& s : sections_) {
            if (rva < s.virtualAddress) continue;
            const uint64_t delta = uint64_t(rva) - s.virtualAddress;
            if (delta + n > s.rawSize) continue;
            off = size_t(s.rawOffset) + size_t(delta);
            return has(off, n);
        }
        return false;
    }

    bool directory(DWORD index, uint32_t& rva, uint32_t& size) const {
        rva = size = 0;
        if (index >= dirCount_) return true;
        return u32(dirs_ + index * 8, rva) && u32(dirs_ + index * 8 + 4, size);
    }

    bool cString(uint32_t rva, std::string& out) const {
        size_t off = 0;
        if (!offsetOf(rva, 1, off)) return false;
        const void* end = std::memchr(b_.data() + off, 0, b_.size() - off);
        if (!end) return false;
        out.assign(b_.data() + off, static_cast<const char*>(end));
        return true;
    }

    bool readExports() {
        uint32_t rva = 0, size = 0;
        if (!directory(kDirExport, rva, size)) return false;
        if (rva == 0) return true;
        size_t dir = 0;
        if (!offsetOf(rva, 40, dir)) return false;
        uint32_t base = 0, functions = 0, names = 0, namesRva = 0, ordinalsRva = 0;
        u32(dir + 16, base);
        u32(dir + 20, functions);
        u32(dir + 24, names);
        u32(dir + 32, namesRva);
        u32(dir + 36, ordinalsRva);
        img_.ordinalBase_ = base;
        img_.exportFunctionCount_ = functions;
        if (names == 0) return true;
        size_t nameTable = 0, ordinalTable = 0;
        if (!offsetOf(namesRva, size_t(names) * 4, nameTable) || !offsetOf(ordinalsRva, size_t(names) * 2, ordinalTable))
            return false;
        for (size_t i = 0; i < names; ++i) {
            uint32_t nameRva = 0;
            uint16_t index = 0;
            u32(nameTable + i * 4, nameRva);
            u16(ordinalTable + i * 2, index);
            std::string name;
            if (!cString(nameRva, name) || index >= functions) return false;
            img_.exportIndexByName_[name] = index;
        }
        return true;
    }

    bool readResources() {
        uint32_t rva = 0, size = 0;
        if (!directory(kDirResource, rva, size)) return false;
        if (rva == 0) return true;
        if (!offsetOf(rva, 16, root_)) return false;
        img_.hasResources_ = true;

        // Level 1: types; only RT_STRING is read.
        std::vector<Entry> types;
        if (!entries(0, types)) return false;
        for (const Entry& type : types) {
            if (type.named || type.id != kRtString) continue;
            if (!type.subdirectory) return false;
            std::vector<Entry> blocks;
            if (!entries(type.offset, blocks)) return false;
            for (const Entry& block : blocks) {
                if (block.named) continue;  // string blocks are numbered
                if (!block.subdirectory) return false;
                std::vector<Entry> languages;
                if (!entries(block.offset, languages)) return false;
                PeImage::LanguageData& out = img_.stringBlocks_[block.id];
                for (const Entry& lang : languages) {
                    if (lang.named || lang.subdirectory) return false;
                    std::vector<uint16_t> data;
                    if (!dataEntry(lang.offset, data)) return false;
                    out.emplace_back(lang.id, std::move(data));
                }
            }
        }
        return true;
    }

    struct Entry {
        bool named = false;
        WORD id = 0;
        bool subdirectory = false;
        uint32_t offset = 0;  // from the start of the resource section
    };

    bool entries(uint32_t dirOffset, std::vector<Entry>& out) {
        uint16_t named = 0, ids = 0;
        const size_t at = root_ + dirOffset;
        if (!u16(at + 12, named) || !u16(at + 14, ids)) return false;
        total_ += size_t(named) + ids;
        if (total_ > kMaxResourceEntries) return false;
        for (size_t i = 0; i < size_t(named) + ids; ++i) {
            uint32_t name = 0, data = 0;
            if (!u32(at + 16 + i * 8, name) || !u32(at + 16 + i * 8 + 4, data)) return false;
            Entry e;
            e.named = (name & kSubdirectoryBit) != 0;
            e.id = WORD(name & 0xFFFF);
            e.subdirectory = (data & kSubdirectoryBit) != 0;
            e.offset = data & ~kSubdirectoryBit;
            out.push_back(e);
        }
        return true;
    }

    bool dataEntry(uint32_t entryOffset, std::vector<uint16_t>& data) const {
        uint32_t dataRva = 0, size = 0;
        const size_t at = root_ + entryOffset;
        if (!u32(at, dataRva) || !u32(at + 4, size)) return false;
        size_t off = 0;
        if (!offsetOf(dataRva, size, off)) return false;
        data.resize(size / 2);
        for (size_t i = 0; i < data.size(); ++i) u16(off + i * 2, data[i]);
        return true;
    }

    const std::string& b_;
    PeImage& img_;
    size_t dirs_ = 0;
    uint32_t dirCount_ = 0;
    std::vector<Section> sections_;
    size_t root_ = 0;
    size_t total_ = 0;
};

std::optional<PeImage> PeImage::parse(const std::string& bytes) {
    PeImage image;
    PeReader reader(bytes, image);
    if (!reader.read()) return std::nullopt;
    return image;
}

std::optional<std::string> PeImage::nameOfOrdinal(WORD ordinal) const {
    if (ordinal < ordinalBase_ || ordinal - ordinalBase_ >= exportFunctionCount_) return std::nullopt;
    const DWORD index = ordinal - ordinalBase_;
    for (const auto& [name, i] : exportIndexByName_)
        if (i == index) return name;
    return std::nullopt;
}

std::vector<std::string> PeImage::exportNames() const {
    std::vector<std::string> names;
    for (const auto& entry : exportIndexByName_) names.push_back(entry.first);
    return names;
}

const PeImage::LanguageData* PeImage::stringBlock(WORD blockId) const {
    auto it = stringBlocks_.find(blockId);
    return it == stringBlocks_.end() ? nullptr : &it->second;
}

}  // namespace winsim
