// The loader's table of modules, shared with machine.cpp, which owns it.
#pragma once

#include "pe_image.h"
#include "winsim/control.h"

#include <memory>
#include <string>
#include <vector>

struct winsim::Machine::ModuleTable {
    struct Module {
        std::string fullPath;  // Windows path, as found
        std::string baseName;  // its file name
        HMODULE handle = nullptr;
        unsigned refCount = 0;
        PeImage image;
    };

    // The process executable: the installer's custom-action server in the system folder.
    // It has no resources and no exports here.
    static HMODULE executableHandle() { return reinterpret_cast<HMODULE>(uintptr_t(0x00400000)); }

    std::vector<std::unique_ptr<Module>> modules;  // load order
    // Images get distinct, aligned fake base addresses; never reused within a machine so
    // that a stale handle cannot reach a newer module.
    uintptr_t nextBase = 0x10000000;

    Module* byHandle(HMODULE h) const;
    Module* byFullPath(const std::string& fullPath) const;
    Module* byBaseName(const std::string& baseName) const;
};
