/* Stand-in for the IDE's command-line entry. Each run appends its program path and
 * arguments to C:\ProgramData\FA9StandIns\devenv.log, so a scenario can count the
 * runs: /setup, and /Command Tools.InstallCommunityControls.
 */
#include "standin.h"

int main(int argc, char **argv) {
    FILE *f = standin_record("devenv.log", "a");
    int i;
    standin_note_path("devenv");
    if (f) {
        fputs(argv[0], f);
        for (i = 1; i < argc; ++i) fprintf(f, " %s", argv[i]);
        fputc('\n', f);
        fclose(f);
    }
    printf("devenv: %s done\n", argc > 1 ? argv[1] : "(nothing to do)");
    fflush(stdout);
    return standin_exit_code("devenv", argc > 1 ? argv[1] : "", 0);
}
