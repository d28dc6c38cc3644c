/* A child for the process runner's tests and benchmark. Arguments, each optional:
 *   out=<bytes>     write that many bytes to standard output (a repeating pattern)
 *   err=<bytes>     the same on standard error, interleaved with standard output
 *   text=<word>     write the word and a line end to standard output
 *   exit=<code>     exit code (default 0)
 *   linger=<ms>     leave a grandchild behind that keeps both pipes open this long; it
 *                   writes "grandchild <its pid> of <this pid>" to standard error
 *                   and "grandchild done" when that time is over
 *   sleep=<ms>      sleep before exiting
 *   mark=<path>     write the writer's pid to that host file once the text is written (by
 *                   the grandchild, once it has said who it is), for a test to wait on
 * Sizes take a K or M suffix.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static long size_of(const char *v) {
    char *end;
    long n = strtol(v, &end, 10);
    if (*end == 'K') n *= 1024;
    if (*end == 'M') n *= 1024 * 1024;
    return n;
}

static void emit(int fd, long *left, char *chunk, long chunkSize) {
    long n = *left < chunkSize ? *left : chunkSize;
    long done = 0;
    while (done < n) {
        ssize_t w = write(fd, chunk + done, (size_t)(n - done));
        if (w <= 0) {
            *left = 0;
            return;
        }
        done += w;
    }
    *left -= n;
}

static void touch(const char *path) {
    FILE *f = fopen(path, "w");
    if (!f) return;
    fprintf(f, "%ld\n", (long)getpid());
    fclose(f);
}

int main(int argc, char **argv) {
    long out = 0, err = 0, linger = 0, sleepMs = 0;
    const char *mark = NULL;
    int code = 0, i;
    static char chunk[65536];
    for (i = 0; i < (int)sizeof chunk; ++i) chunk[i] = (char)('a' + i % 26);
    for (i = 1; i < argc; ++i) {
        const char *eq = strchr(argv[i], '=');
        if (!eq) continue;
        if (!strncmp(argv[i], "out=", 4)) out = size_of(eq + 1);
        if (!strncmp(argv[i], "err=", 4)) err = size_of(eq + 1);
        if (!strncmp(argv[i], "exit=", 5)) code = atoi(eq + 1);
        if (!strncmp(argv[i], "linger=", 7)) linger = atol(eq + 1);
        if (!strncmp(argv[i], "sleep=", 6)) sleepMs = atol(eq + 1);
        if (!strncmp(argv[i], "mark=", 5)) mark = eq + 1;
        if (!strncmp(argv[i], "text=", 5)) {
            fputs(eq + 1, stdout);
            fputc('\n', stdout);
            fflush(stdout);
        }
    }
    while (out > 0 || err > 0) {
        if (out > 0) emit(1, &out, chunk, sizeof chunk);
        if (err > 0) emit(2, &err, chunk, 4096);
    }
    if (linger > 0 && fork() == 0) {
        fprintf(stderr, "grandchild %ld of %ld\n", (long)getpid(), (long)getppid());
        fflush(stderr);
        if (mark) touch(mark);
        usleep((useconds_t)linger * 1000);
        fputs("grandchild done\n", stderr);
        fflush(stderr);
        _exit(0);
    }
    if (mark && linger <= 0) touch(mark);
    if (sleepMs > 0) usleep((useconds_t)sleepMs * 1000);
    return code;
}
