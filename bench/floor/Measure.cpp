// Runs one command and prints its wall time and peak memory, for benchmarks that measure
// whole processes. A child's peak memory (wait4's ru_maxrss) counts what its parent had
// mapped when it forked, so a large benchmark process would inflate it: this small
// program is the parent instead.
//
//     hivewarden-measure OUT COMMAND [ARG...]
//
// The command reads nothing, writes its output to the file OUT and its errors nowhere.
// Prints "SECONDS PEAK_KIB EXIT_CODE" (128 + the signal for a command a signal ended).

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "Usage: hivewarden-measure OUT COMMAND [ARG...]\n");
        return 2;
    }
    const auto started = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child < 0) {
        std::perror("fork");
        return 1;
    }
    if (child == 0) {
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(argv[1], O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int errors = ::open("/dev/null", O_WRONLY);
        if (in < 0 || out < 0 || errors < 0)
            ::_exit(126);
        ::dup2(in, STDIN_FILENO);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(errors, STDERR_FILENO);
        ::execvp(argv[2], argv + 2);
        ::_exit(127);
    }
    int status = 0;
    struct rusage usage {};
    if (::wait4(child, &status, 0, &usage) != child) {
        std::perror("wait4");
        return 1;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::printf("%.6f %ld %d\n", seconds, usage.ru_maxrss, code);
    return 0;
}
