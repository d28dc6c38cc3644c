/* A placeholder carried in the package under the name of one VC80 runtime file.
 * It is NOT the platform vendor's redistributable: the package only needs rows with
 * these names so that the runtime extraction can be tested; nothing loads them. */
#include <windows.h>

#ifndef PLACEHOLDER_NAME
#error "build with -DPLACEHOLDER_NAME=\"<file name>\""
#endif

/* Kept in the image (and findable with `strings`) so nobody mistakes the file. */
__declspec(dllexport) const char fa9_placeholder[] =
    "placeholder " PLACEHOLDER_NAME ": stand-in built by the fa9wolt test package, not the vendor runtime";

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance; (void)reason; (void)reserved;
    return TRUE;
}
