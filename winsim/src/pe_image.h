// What the simulated loader needs from a PE file: that it is one, the names its
// export table offers, and its string-table resources. Read once, at load.
#pragma once

#include "winsim/win32_api.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace winsim {

class PeImage {
public:
    // nullopt when the bytes are not a PE32/PE32+ image or its directories are damaged.
    static std::optional<PeImage> parse(const std::string& bytes);

    bool is64() const { return is64_; }
    // The RVA of the entry point (DllMain's start-up); 0 for a library without code to run.
    DWORD entryPoint() const { return entryPoint_; }

    // ---- exports ----
    bool exportsName(const std::string& name) const { return exportIndexByName_.count(name) != 0; }
    // The name under which an ordinal is exported; nullopt for unknown ordinals and
    // for functions exported by ordinal only.
    std::optional<std::string> nameOfOrdinal(WORD ordinal) const;
    std::vector<std::string> exportNames() const;

    // ---- RT_STRING resources ----
    bool hasResources() const { return hasResources_; }
    bool hasStringTables() const { return !stringBlocks_.empty(); }
    // Languages of one block, in directory order (ascending language id), with their data.
    using LanguageData = std::vector<std::pair<LANGID, std::vector<uint16_t>>>;
    const LanguageData* stringBlock(WORD blockId) const;

private:
    bool is64_ = false;
    DWORD entryPoint_ = 0;
    bool hasResources_ = false;
    DWORD ordinalBase_ = 0;
    std::map<std::string, DWORD> exportIndexByName_;  // name -> index into the function table
    DWORD exportFunctionCount_ = 0;
    std::map<WORD, LanguageData> stringBlocks_;

    friend class PeReader;
};

}  // namespace winsim
