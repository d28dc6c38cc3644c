/* Stand-in for the common-tool registration program. It keeps its add-in
 * registration in C:\ProgramData\FA9StandIns\addins.txt:
 *   /commontoolinstall -DINSTALLDIR="<dir>"  records "INSTALLDIR=<dir>"
 *   /commontooluninstall                     removes the record
 *   /checkprovider                           9 when the .NET data provider is in the
 *       global assembly cache (C:\Windows\assembly\GAC_MSIL\FA9.Data.Provider), else 10
 * linger.txt (see standin.h) makes it leave a process behind that holds its output.
 */
#include "standin.h"

#define PROVIDER "C:\\Windows\\assembly\\GAC_MSIL\\FA9.Data.Provider"

static int install(int argc, char **argv) {
    const char *prefix = "-DINSTALLDIR=";
    const char *dir = NULL;
    FILE *f;
    int i;
    for (i = 2; i < argc; ++i)
        if (strncmp(argv[i], prefix, strlen(prefix)) == 0) dir = argv[i] + strlen(prefix);
    if (!dir || !*dir) {
        fprintf(stderr, "commontoolreg: /commontoolinstall needs -DINSTALLDIR=\"<folder>\"\n");
        return 1;
    }
    f = standin_record("addins.txt", "w");
    if (!f) {
        fprintf(stderr, "commontoolreg: cannot write the add-in registration\n");
        return 1;
    }
    fprintf(f, "INSTALLDIR=%s\n", dir);
    fclose(f);
    printf("commontoolreg: add-ins registered for %s\n", dir);
    return 0;
}

int main(int argc, char **argv) {
    const char *command = argc > 1 ? argv[1] : "";
    int code;
    if (standin_is_lingering(argc, argv)) return 0;
    standin_note_path("commontoolreg");
    standin_note_parent("commontoolreg");
    standin_note_self("commontoolreg");
    if (standin_same(command, "/commontoolinstall")) {
        code = install(argc, argv);
    } else if (standin_same(command, "/commontooluninstall")) {
        standin_forget("addins.txt");
        printf("commontoolreg: add-in registration removed\n");
        code = 0;
    } else if (standin_same(command, "/checkprovider")) {
        int present = standin_is_folder(PROVIDER);
        printf("commontoolreg: .NET data provider %s\n", present ? "found" : "not found");
        code = present ? 9 : 10;
    } else {
        fprintf(stderr, "commontoolreg: unknown command '%s'\n", command);
        code = 1;
    }
    fflush(stdout);
    code = standin_exit_code("commontoolreg", command, code);
    standin_linger("commontoolreg", command);
    return code;
}
