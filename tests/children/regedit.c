/* Stand-in for the registry editor's silent import: "regedit.exe -s <script>". It exits
 * with the number the script's first line holds ("exit=<n>"), 0 otherwise; a missing
 * script exits 2. A first line "delete-folder" removes the script and its folder.
 */
#include "../../package/stand-ins/standin.h"

#include <unistd.h>

int main(int argc, char **argv) {
    char local[1024], line[256] = "";
    FILE *f;
    int code = 0;
    if (argc < 3 || !standin_same(argv[1], "-s")) {
        fprintf(stderr, "regedit: usage: -s <script>\n");
        return 1;
    }
    standin_local(argv[2], local, sizeof local);
    f = fopen(local, "r");
    if (!f) {
        fprintf(stderr, "regedit: cannot import %s\n", argv[2]);
        return 2;
    }
    if (fgets(line, sizeof line, f) && !strncmp(line, "exit=", 5)) code = atoi(line + 5);
    fclose(f);
    if (!strcmp(line, "delete-folder\n")) {
        char *slash = strrchr(local, '/');
        remove(local);
        if (slash) *slash = '\0';
        rmdir(local);
    }
    printf("regedit: imported %s\n", argv[2]);
    return code;
}
