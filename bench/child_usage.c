/* Runs a command several times and prints the median wall time and the median peak resident
 * set of the child, taken from wait4's resource usage of that child alone. Wall time comes
 * from the monotonic clock, so that runs of a few milliseconds still measure.
 *
 *   cuekit_child_usage RUNS TIMEOUT_SECONDS COMMAND [ARGS...]
 *
 * The command's standard output and error go to /dev/null. Output, one line:
 *   STATUS SECONDS MAXRSS_KIB
 * STATUS is "ok", "exit:N" (the first non-zero exit code), "signal:N" or "timeout"; after a
 * timeout or a signal the remaining runs are skipped and the figures are those of that run. */
#define _DEFAULT_SOURCE
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

enum { kMaxRuns = 99 };

static int cmp_double(const void *a, const void *b) {
    double x = *(const double *)a, y = *(const double *)b;
    return (x > y) - (x < y);
}

static int cmp_long(const void *a, const void *b) {
    long x = *(const long *)a, y = *(const long *)b;
    return (x > y) - (x < y);
}

int main(int argc, char **argv) {
    if (argc < 4) {
        fputs("Usage: cuekit_child_usage RUNS TIMEOUT_SECONDS COMMAND [ARGS...]\n", stderr);
        return 2;
    }
    int runs = atoi(argv[1]);
    unsigned timeout = (unsigned)atoi(argv[2]);
    if (runs < 1) runs = 1;
    if (runs > kMaxRuns) runs = kMaxRuns;

    double secs[kMaxRuns];
    long rss[kMaxRuns];
    char status[32] = "ok";
    int done = 0;
    for (; done < runs; ++done) {
        struct timespec t0, t1;
        clock_gettime(CLOCK_MONOTONIC, &t0);
        pid_t pid = fork();
        if (pid < 0) {
            perror("fork");
            return 1;
        }
        if (pid == 0) {
            int null_fd = open("/dev/null", O_WRONLY);
            if (null_fd >= 0) {
                dup2(null_fd, 1);
                dup2(null_fd, 2);
                close(null_fd);
            }
            /* The alarm survives exec and kills a child that runs away (a quadratic path). */
            if (timeout > 0) alarm(timeout);
            execvp(argv[3], argv + 3);
            _exit(127);
        }
        int wstatus = 0;
        struct rusage ru;
        if (wait4(pid, &wstatus, 0, &ru) < 0) {
            perror("wait4");
            return 1;
        }
        clock_gettime(CLOCK_MONOTONIC, &t1);
        secs[done] = (double)(t1.tv_sec - t0.tv_sec) + (double)(t1.tv_nsec - t0.tv_nsec) / 1e9;
        rss[done] = ru.ru_maxrss;
        if (WIFSIGNALED(wstatus)) {
            if (WTERMSIG(wstatus) == SIGALRM) snprintf(status, sizeof status, "timeout");
            else snprintf(status, sizeof status, "signal:%d", WTERMSIG(wstatus));
            printf("%s %.6f %ld\n", status, secs[done], rss[done]);
            return 0;
        }
        if (WEXITSTATUS(wstatus) != 0 && status[0] == 'o')
            snprintf(status, sizeof status, "exit:%d", WEXITSTATUS(wstatus));
    }
    qsort(secs, (size_t)done, sizeof secs[0], cmp_double);
    qsort(rss, (size_t)done, sizeof rss[0], cmp_long);
    printf("%s %.6f %ld\n", status, secs[done / 2], rss[done / 2]);
    return 0;
}
