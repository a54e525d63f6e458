// The fresh-process measurement: the parent's side (spawn, send the instance, read the report) and
// the helper's side (read, build, solve, measure).
#include "peer_memory.h"

#include "peer_clock.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Header
{
    std::int32_t width;
    std::int32_t height;
    std::uint64_t terminal_calls;
    std::uint64_t pairs;
};

struct Report
{
    std::int64_t before;
    std::int64_t after_build;
    std::int64_t after_solve;
    std::int64_t peak;
    double build_seconds;
    double solve_seconds;
    double flow;
    std::int32_t ok;
};

bool write_all(int fd, const void *data, std::size_t bytes)
{
    const auto *at = static_cast<const char *>(data);
    while (bytes > 0) {
        const ssize_t done = ::write(fd, at, bytes);
        if (done <= 0)
            return false;
        at += done;
        bytes -= static_cast<std::size_t>(done);
    }
    return true;
}

bool read_all(int fd, void *data, std::size_t bytes)
{
    auto *at = static_cast<char *>(data);
    while (bytes > 0) {
        const ssize_t done = ::read(fd, at, bytes);
        if (done <= 0)
            return false;
        at += done;
        bytes -= static_cast<std::size_t>(done);
    }
    return true;
}

// Resident set size in bytes, or -1.
std::int64_t resident_bytes()
{
    std::FILE *file = std::fopen("/proc/self/statm", "r");
    if (!file)
        return -1;
    long size = 0;
    long resident = 0;
    const int read = std::fscanf(file, "%ld %ld", &size, &resident);
    std::fclose(file);
    if (read != 2)
        return -1;
    return static_cast<std::int64_t>(resident) * ::sysconf(_SC_PAGESIZE);
}

// Peak resident set size (VmHWM) in bytes, or -1.
std::int64_t peak_resident_bytes()
{
    std::FILE *file = std::fopen("/proc/self/status", "r");
    if (!file)
        return -1;
    char line[256];
    long kib = -1;
    while (std::fgets(line, sizeof line, file)) {
        if (std::strncmp(line, "VmHWM:", 6) == 0) {
            if (std::sscanf(line + 6, "%ld", &kib) != 1)
                kib = -1;
            break;
        }
    }
    std::fclose(file);
    return kib < 0 ? -1 : static_cast<std::int64_t>(kib) * 1024;
}

// Makes VmHWM start again from the current resident set.
bool reset_peak()
{
    std::FILE *file = std::fopen("/proc/self/clear_refs", "w");
    if (!file)
        return false;
    const bool written = std::fputs("5", file) >= 0;
    return std::fclose(file) == 0 && written;
}

bool send_instance(int fd, const Instance &instance)
{
    const Header header {instance.width, instance.height, instance.terminal_calls.size(),
                         instance.pairs.size()};
    return write_all(fd, &header, sizeof header)
        && write_all(fd, instance.terminal_calls.data(),
                     instance.terminal_calls.size() * sizeof(TerminalCall))
        && write_all(fd, instance.pairs.data(), instance.pairs.size() * sizeof(ArcPair));
}

bool receive_instance(int fd, Instance &instance)
{
    Header header {};
    if (!read_all(fd, &header, sizeof header) || header.width < 0 || header.height < 0
        || header.terminal_calls > (std::uint64_t {1} << 32)
        || header.pairs > (std::uint64_t {1} << 32))
        return false;
    instance.width = header.width;
    instance.height = header.height;
    instance.terminal_calls.resize(header.terminal_calls);
    instance.pairs.resize(header.pairs);
    return read_all(fd, instance.terminal_calls.data(),
                    header.terminal_calls * sizeof(TerminalCall))
        && read_all(fd, instance.pairs.data(), header.pairs * sizeof(ArcPair));
}

} // namespace

int fresh_process_main(const std::string &library_name)
{
    const PeerLibrary *library = nullptr;
    for (const PeerLibrary &candidate : peer_libraries()) {
        if (library_name == candidate.name)
            library = &candidate;
    }
    Instance instance;
    if (!library || !receive_instance(STDIN_FILENO, instance))
        return 1;

    Report report {};
    auto solver = library->make();
    ::malloc_trim(0);
    report.ok = reset_peak() ? 1 : 0;
    report.before = resident_bytes();
    const double start = process_cpu_seconds();
    solver->build(instance);
    report.build_seconds = process_cpu_seconds() - start;
    report.after_build = resident_bytes();
    const double solve_start = process_cpu_seconds();
    report.flow = solver->solve();
    report.solve_seconds = process_cpu_seconds() - solve_start;
    report.after_solve = resident_bytes();
    report.peak = peak_resident_bytes();
    if (report.before < 0 || report.after_build < 0 || report.after_solve < 0 || report.peak < 0)
        report.ok = 0;
    const std::vector<std::uint8_t> sides = source_sides(*solver, instance.node_count());
    const bool sent = write_all(STDOUT_FILENO, &report, sizeof report)
        && write_all(STDOUT_FILENO, sides.data(), sides.size());
    return sent ? 0 : 1;
}

FreshRun measure_in_fresh_process(const PeerLibrary &library, const Instance &instance)
{
    FreshRun run;
    int to_child[2];
    int from_child[2];
    if (::pipe(to_child) != 0) {
        run.error = "pipe failed";
        return run;
    }
    if (::pipe(from_child) != 0) {
        ::close(to_child[0]);
        ::close(to_child[1]);
        run.error = "pipe failed";
        return run;
    }
    const std::string flag = std::string(fresh_process_flag) + library.name;
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(to_child[0], STDIN_FILENO);
        ::dup2(from_child[1], STDOUT_FILENO);
        ::close(to_child[0]);
        ::close(to_child[1]);
        ::close(from_child[0]);
        ::close(from_child[1]);
        char program[] = "/proc/self/exe";
        char *arguments[] = {program, const_cast<char *>(flag.c_str()), nullptr};
        ::execv(program, arguments);
        ::_exit(127);
    }
    ::close(to_child[0]);
    ::close(from_child[1]);
    if (child < 0) {
        ::close(to_child[1]);
        ::close(from_child[0]);
        run.error = "fork failed";
        return run;
    }
    // The helper reads the whole instance before it writes anything, so writing first cannot
    // block both sides.
    const bool sent = send_instance(to_child[1], instance);
    ::close(to_child[1]);
    Report report {};
    run.source_sides.resize(static_cast<std::size_t>(instance.node_count()));
    const bool received = sent && read_all(from_child[0], &report, sizeof report)
        && read_all(from_child[0], run.source_sides.data(), run.source_sides.size());
    ::close(from_child[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!received || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        run.error = "fresh process failed";
        return run;
    }
    if (report.ok == 0) {
        run.error = "resident set not readable";
        return run;
    }
    run.after_build = static_cast<double>(report.after_build - report.before);
    run.after_solve = static_cast<double>(report.after_solve - report.before);
    run.peak = static_cast<double>(report.peak - report.before);
    run.build_seconds = report.build_seconds;
    run.solve_seconds = report.solve_seconds;
    run.flow = report.flow;
    return run;
}
