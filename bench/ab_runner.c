/* Starts two programs in turn (A B A B ...) on the same input, written into a
   pipe as an agent writes a hook event, and prints the median of the per-pair
   time ratios B/A, the median times and each program's peak resident memory.
   Absolute times drift with the machine's load; ratios of neighbouring runs hold.

   Kept small and linked static on purpose: a child started through
   posix_spawn can carry this process's peak resident size into its own
   ru_maxrss, so the runner must stay far below the figures it measures. The
   input is streamed from its file in small blocks rather than held in memory. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char **environ;

struct run {
    double seconds;
    long maxrss_kb;
};

static void fail(const char *what) {
    fprintf(stderr, "ab_runner: %s: %s\n", what, strerror(errno));
    exit(2);
}

static double now_seconds(void) {
    struct timespec ts;
    if (clock_gettime(CLOCK_MONOTONIC, &ts) != 0) fail("clock_gettime");
    return (double)ts.tv_sec + (double)ts.tv_nsec / 1e9;
}

static void write_all(int fd, const char *data, size_t size) {
    while (size > 0) {
        const ssize_t written = write(fd, data, size);
        if (written == -1) {
            if (errno == EINTR) continue;
            fail("write to the child (did it stop reading?)");
        }
        data += written;
        size -= (size_t)written;
    }
}

/* Copies the input file into the pipe, block by block, from its start. */
static void send_input(int input_fd, int pipe_fd) {
    static char block[64 * 1024];
    if (lseek(input_fd, 0, SEEK_SET) == -1) fail("lseek");
    for (;;) {
        const ssize_t count = read(input_fd, block, sizeof block);
        if (count == 0) return;
        if (count == -1) {
            if (errno == EINTR) continue;
            fail("read input");
        }
        write_all(pipe_fd, block, (size_t)count);
    }
}

static struct run run_once(const char *program, int input_fd) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) fail("pipe2");
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0 ||
        posix_spawn_file_actions_adddup2(&actions, fds[0], STDIN_FILENO) != 0)
        fail("posix_spawn_file_actions");
    char *argv[] = {(char *)program, NULL};

    const double start = now_seconds();
    pid_t pid;
    const int rc = posix_spawn(&pid, program, &actions, NULL, argv, environ);
    if (rc != 0) {
        errno = rc;
        fail(program);
    }
    if (close(fds[0]) != 0) fail("close");
    send_input(input_fd, fds[1]);
    if (close(fds[1]) != 0) fail("close");
    int status;
    struct rusage usage;
    while (wait4(pid, &status, 0, &usage) == -1)
        if (errno != EINTR) fail("wait4");
    const double end = now_seconds();
    if (posix_spawn_file_actions_destroy(&actions) != 0) fail("posix_spawn_file_actions_destroy");

    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        fprintf(stderr, "ab_runner: %s ended with status %d\n", program, status);
        exit(2);
    }
    struct run result = {end - start, usage.ru_maxrss};
    return result;
}

static int by_value(const void *a, const void *b) {
    const double x = *(const double *)a, y = *(const double *)b;
    return (x > y) - (x < y);
}

static double median(double *values, int count) {
    qsort(values, (size_t)count, sizeof *values, by_value);
    return count % 2 ? values[count / 2] : (values[count / 2 - 1] + values[count / 2]) / 2;
}

int main(int argc, char **argv) {
    if (argc != 6) {
        fprintf(stderr, "usage: ab_runner ROUNDS WARMUP INPUT PROGRAM_A PROGRAM_B\n");
        return 2;
    }
    const int rounds = atoi(argv[1]), warmup = atoi(argv[2]);
    const char *a = argv[4], *b = argv[5];
    if (rounds < 1 || warmup < 0) {
        fprintf(stderr, "ab_runner: ROUNDS must be positive and WARMUP not negative\n");
        return 2;
    }
    const int input_fd = open(argv[3], O_RDONLY | O_CLOEXEC);
    if (input_fd == -1) fail(argv[3]);
    struct stat input_status;
    if (fstat(input_fd, &input_status) != 0) fail("fstat");
    if (signal(SIGPIPE, SIG_IGN) == SIG_ERR) fail("signal");

    double *ratios = malloc((size_t)rounds * sizeof *ratios);
    double *a_times = malloc((size_t)rounds * sizeof *a_times);
    double *b_times = malloc((size_t)rounds * sizeof *b_times);
    if (!ratios || !a_times || !b_times) fail("malloc");
    long a_rss = 0, b_rss = 0;

    for (int round = -warmup; round < rounds; ++round) {
        const struct run ra = run_once(a, input_fd);
        const struct run rb = run_once(b, input_fd);
        if (round < 0) continue;
        ratios[round] = rb.seconds / ra.seconds;
        a_times[round] = ra.seconds;
        b_times[round] = rb.seconds;
        if (ra.maxrss_kb > a_rss) a_rss = ra.maxrss_kb;
        if (rb.maxrss_kb > b_rss) b_rss = rb.maxrss_kb;
    }

    printf("rounds=%d ratio=%.3f a_us=%.1f b_us=%.1f a_rss_kb=%ld b_rss_kb=%ld input_bytes=%lld\n", rounds,
           median(ratios, rounds), median(a_times, rounds) * 1e6, median(b_times, rounds) * 1e6, a_rss, b_rss,
           (long long)input_status.st_size);
    return 0;
}
