// The gate every path that SYSTEM (or an elevated administrator) runs, reads, copies or
// deletes passes through. A path checked once and used later could lead elsewhere in
// between, through a junction or symbolic link that someone who can change a folder on
// the way put there; so the path is held, not checked: each folder from the root down is
// opened as itself (a link is refused, never followed) and kept open without delete
// sharing, which stops Windows from renaming or deleting it, the owner and access list
// are read through the handle, and the target's final path must be its own path. What
// is then done to the target is done through the held handles, or by a path none of
// whose folders can change while they are held.
//
// A process that is not elevated acts only for its own user, who could do the same
// without it: it is not checked, only held. Nothing here reports; callers do.
#pragma once

#include "platform/scoped_handles.h"
#include "platform/win32.h"

#include <cstddef>
#include <string>
#include <vector>

enum class Gate {
    Accepted,
    NotLocal,      // not on a local fixed volume (a share, a device, a removable drive): never opened
    Missing,       // the target or a folder on the way is not there, or not of its kind
    Busy,          // it is there but cannot be opened as asked (in use, or access denied)
    Link,          // the target or a folder on the way is a junction or symbolic link
    Elsewhere,     // the held target's final path is not its path
    OpenToOthers,  // someone untrusted may change the target or a folder checked with it
};

enum class Held {
    Folder,     // listed and written into; sharing reading and writing
    Program,    // read and run: sharing reading only, so nothing changes it while held
    Data,       // read: sharing reading and writing (the installer writes its package copy)
};

class HeldPath {
public:
    // Holds `path` (made full, so `..` is folded before anything is opened) as `kind`, and
    // every folder from its drive's root down; for an elevated process `trusted` places,
    // counted up from the target, must be changeable by the trusted alone. Anything but
    // Accepted holds nothing; refused() names the place that refused.
    Gate hold(const char* path, Held kind, int trusted);

    // The entry `name` of this held folder, held the same way in `child` (checked when
    // `trusted`); its final path must lie directly below this folder's. This folder stays
    // held, and must outlive `child`.
    Gate holdChild(const char* name, Held kind, bool trusted, HeldPath& child) const;

    HANDLE handle() const { return held_.empty() ? INVALID_HANDLE_VALUE : held_.back().get(); }
    const char* path() const { return path_.c_str(); }
    const char* refused() const { return refused_.c_str(); }
    bool held() const { return !held_.empty(); }
    void release() {
        held_.clear();
        final_.clear();
    }
    // The held target's final path, links resolved ("C:\a\b"), asked once: nothing can
    // rename what is held, nor, where the gate checks, the folders held above it. Empty
    // when it cannot be read.
    const std::string& finalPath() const;

    // The first folder from the top that someone untrusted may change (the restart, long
    // after the folders are let go, follows any link put in its place), or empty.
    std::string firstChangeableFolder() const;

private:
    Gate refuse(Gate verdict, const std::string& place);
    Gate open(const std::string& place, Held kind, bool last, bool trusted);

    std::vector<unique_hfile> held_;  // folders from the root down, the target last
    std::vector<std::string> places_;
    std::string path_;
    std::string refused_;
    mutable std::string final_;  // finalPath(), once asked
    bool checks_ = false;
};

// Whether two full paths name the same place, without regard to the case of letters (as the
// C runtime's locale tells characters apart, both sides alike).
bool iSamePath(const char* a, const char* b);

// Upper-cases the letters of `path` in place (characters as the C runtime's locale tells
// them apart: the second byte of a double-byte character stays as it is).
void iUpperCasePath(char* path);

// The file `from` copied through handles into the new file `name` of the held folder
// `into`: an old file of that name (a link in its place: the link itself) goes first
// through a handle of its own, checked to lie there; the new one is made without
// following a link at its name and must lie there too, else it is deleted through its
// handle. The source's attributes and time of last write are kept. 0, ERROR_DISK_FULL
// (the half copy deleted), or -1 for a file that was not copied (and Gate::Elsewhere in
// `why` when a link on the way led it elsewhere).
int iCopyFileInto(HANDLE from, const HeldPath& into, const char* name, Gate& why);

// Deletes what `handle` (opened with DELETE) is open on when it is closed, a read-only
// file made writable first.
bool iDeleteThrough(HANDLE handle);

// Removes the held folder `folder` and everything below it: each entry opened as itself (a
// link is removed itself, never what it leads to), each folder held while it is emptied,
// then removed by name once let go, which can remove nothing but an empty folder or a
// link put in its place. True when it is gone.
bool iRemoveTree(HeldPath& folder);
