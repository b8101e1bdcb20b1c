// Runs a command and prints its wall time in microseconds and its peak resident set size in
// KiB: "<microseconds> <KiB>". The command's stdout goes to /dev/null; its stderr stays.
//
// usage: tarvo-bench-time-run COMMAND [ARGUMENTS...]
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: tarvo-bench-time-run COMMAND [ARGUMENTS...]\n");
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid < 0) {
        std::perror("fork");
        return 1;
    }
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null >= 0) ::dup2(null, STDOUT_FILENO);
        ::execvp(argv[1], argv + 1);
        std::perror(argv[1]);
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    while (::wait4(pid, &status, 0, &usage) < 0) {
        if (errno != EINTR) {
            std::perror("wait4");
            return 1;
        }
    }
    const auto wall = std::chrono::steady_clock::now() - start;
    std::printf("%lld %ld\n",
                static_cast<long long>(
                    std::chrono::duration_cast<std::chrono::microseconds>(wall).count()),
                usage.ru_maxrss);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "tarvo-bench-time-run: %s failed\n", argv[1]);
        return 1;
    }
    return 0;
}
