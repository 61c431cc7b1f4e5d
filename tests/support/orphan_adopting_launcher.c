// Starts a program as a child subreaper, so that the processes orphaned below
// it become its children, and sets SKILLHOOK_TEST_SUBREAPER to say so. Built
// for the build machine: the arm64 test programs run under qemu-user, which
// refuses prctl(PR_SET_CHILD_SUBREAPER) from the emulated program, and the
// setting survives execve (scripts/test-platforms).
//   orphan_adopting_launcher PROGRAM [ARGUMENT...]
#include <stdio.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 2) {
        fputs("usage: orphan_adopting_launcher PROGRAM [ARGUMENT...]\n", stderr);
        return 2;
    }
    if (prctl(PR_SET_CHILD_SUBREAPER, 1) != 0) {
        perror("orphan_adopting_launcher: prctl");
        return 125;
    }
    if (setenv("SKILLHOOK_TEST_SUBREAPER", "1", 1) != 0) {
        perror("orphan_adopting_launcher: setenv");
        return 125;
    }
    execv(argv[1], argv + 1);
    perror(argv[1]);
    return 127;
}
