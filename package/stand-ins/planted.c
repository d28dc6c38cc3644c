/* What an attacker plants in the runtime folder for the end-to-end scenario: a DLL that
 * records every process that loads it (C:\ProgramData\FA9StandIns\planted.txt) and
 * offers the allocator a sibling library would, so that taking it would work. Placed by
 * tamper.exe as the allocator library and among the VC80 files; no run of a correct
 * installation ever loads it. */
#include "standin.h"

static const char marker[] = "FA9PLANTED";

__declspec(dllexport) void *__cdecl _ossMemAlloc(size_t size, const char *source, int line) {
    (void)source; (void)line;
    return malloc(size);
}

__declspec(dllexport) void __cdecl _ossMemFree(void *block, const char *source, int line) {
    (void)source; (void)line;
    free(block);
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    char self[MAX_PATH] = "";
    FILE *f;
    (void)reserved;
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    GetModuleFileNameA(instance, self, sizeof self);
    f = standin_record("planted.txt", "a");
    if (f) {
        fprintf(f, "%s loaded %s into %s\n", marker, self, GetCommandLineA());
        fclose(f);
    }
    return TRUE;
}
