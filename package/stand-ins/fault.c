/* A fault at a chosen point of the installation, for the end-to-end scenarios: the test
 * package built with --faults runs it right after each custom action of the library when
 * FA9FAULT_AT names that action.
 *
 *   fault.exe /kill   ends every msiexec.exe process (the installation is killed, as by a
 *                     deployment tool's time-out or a user ending msiexec)
 *   fault.exe /fail   exits with 1: the installer fails the installation there and rolls
 *                     it back, as when a program of the script fails or the user cancels
 *
 * Windows only. */
#include "standin.h"

int main(int argc, char **argv) {
    FILE *f = standin_record("fault.txt", "a");
    if (f) {
        fprintf(f, "%s\n", argc > 1 ? argv[1] : "");
        fclose(f);
    }
    if (argc > 1 && standin_same(argv[1], "/kill")) {
        standin_end_installer();
        Sleep(2000); /* ended with the installation: nothing after this point may run */
        return 0;
    }
    return argc > 1 && standin_same(argv[1], "/fail") ? 1 : 0;
}
