/* Stand-in for a program of the product that the custom actions start
 * (commontoolreg.exe, bin\macConfigChange.exe): it prints how it was called and
 * succeeds. The custom actions capture its output into the installer log, so a test
 * can see which command line reached it. */
#include <stdio.h>

#ifndef STANDIN_NAME
#error "build with -DSTANDIN_NAME=\"<program name>\""
#endif

int main(int argc, char **argv) {
    printf("%s stand-in:", STANDIN_NAME);
    for (int i = 1; i < argc; ++i) printf(" [%s]", argv[i]);
    printf("\n");
    fflush(stdout);
    return 0;
}
