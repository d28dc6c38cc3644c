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
        // Mapped as data only (LoadLibraryExA with LOAD_LIBRARY_AS_DATAFILE or
        // LOAD_LIBRARY_AS_IMAGE_RESOURCE): its resources can be read, but it is not in the
        // loader's list, so GetModuleHandleA, LoadLibraryA and GetProcAddress do not see it.
        bool dataFile = false;
    };

    // The process executable: the installer's custom-action server in the system folder.
    // It has no resources and no exports here.
    static HMODULE executableHandle() { return reinterpret_cast<HMODULE>(uintptr_t(0x00400000)); }

    std::vector<std::unique_ptr<Module>> modules;  // load order
    // Modules whose entry point ran (DLL_PROCESS_ATTACH), in order: full paths.
    std::vector<std::string> entryPointsRun;
    // Images get distinct, aligned fake base addresses, never reused in the process, so
    // that a stale handle (even one kept from an earlier machine) cannot reach a newer module.
    static uintptr_t nextBase();

    Module* byHandle(HMODULE h) const;
    // The loader's list: modules loaded as code only.
    Module* byFullPath(const std::string& fullPath) const;
    Module* byBaseName(const std::string& baseName) const;
};
