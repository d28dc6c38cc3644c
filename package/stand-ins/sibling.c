/* A minimal sibling library of the test package (fa9genreg_install3.dll,
 * fa9install_install3.dll): it loads, and says which one it is. The real libraries'
 * work is outside fa9wolt; the package only has to carry a loadable DLL of that name. */
#include <windows.h>

#ifndef SIBLING_NAME
#error "build with -DSIBLING_NAME=\"<file name>\""
#endif

__declspec(dllexport) const char *fa9SiblingName(void) { return SIBLING_NAME " (fa9wolt test package)"; }

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance; (void)reason; (void)reserved;
    return TRUE;
}
