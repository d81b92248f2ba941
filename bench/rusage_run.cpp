// tarnlink-bench-rusage PROGRAM [ARGS...]: runs PROGRAM and prints, on standard error, one
// line "rusage wall_s=.. user_s=.. sys_s=.. maxrss_kib=.. exit=..". Exits with its status.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: tarnlink-bench-rusage PROGRAM [ARGS...]\n");
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child < 0) {
        std::perror("fork");
        return 2;
    }
    if (child == 0) {
        execvp(argv[1], argv + 1);
        std::perror(argv[1]);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    // wait4 gives the child's own usage, not that of everything this process ever waited for.
    if (wait4(child, &status, 0, &usage) < 0) {
        std::perror("wait4");
        return 2;
    }
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const auto seconds = [](const timeval& tv) { return tv.tv_sec + tv.tv_usec / 1e6; };
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::fprintf(stderr, "rusage wall_s=%.6f user_s=%.6f sys_s=%.6f maxrss_kib=%ld exit=%d\n",
                 wall, seconds(usage.ru_utime), seconds(usage.ru_stime), usage.ru_maxrss, code);
    return code;
}
