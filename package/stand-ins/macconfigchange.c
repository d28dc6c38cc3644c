/* Stand-in for the machine-configuration program. It keeps the registered tools
 * folder in C:\ProgramData\FA9StandIns\machine.cfg:
 *   -toolspath "<dir>"   records "toolspath=<dir>"
 *   -unregister          removes the record
 */
#include "standin.h"

int main(int argc, char **argv) {
    const char *command = argc > 1 ? argv[1] : "";
    int code = 0;
    standin_note_path("macConfigChange");
    if (standin_same(command, "-toolspath") && argc > 2 && argv[2][0]) {
        FILE *f = standin_record("machine.cfg", "w");
        if (f) {
            fprintf(f, "toolspath=%s\n", argv[2]);
            fclose(f);
            printf("macConfigChange: tools folder %s registered\n", argv[2]);
        } else {
            fprintf(stderr, "macConfigChange: cannot write the machine configuration\n");
            code = 1;
        }
    } else if (standin_same(command, "-unregister")) {
        standin_forget("machine.cfg");
        printf("macConfigChange: tools folder unregistered\n");
    } else {
        fprintf(stderr, "macConfigChange: usage: -toolspath \"<folder>\" | -unregister\n");
        code = 1;
    }
    fflush(stdout);
    return standin_exit_code("macConfigChange", command, code);
}
