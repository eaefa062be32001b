// Child processes over posix_spawnp. The C library's spawn reports a failed
// exec (missing program, no permission) as the call's own error, so "cannot
// start" never masquerades as exit status 127. Every descriptor this file
// opens is close-on-exec; only the ends a child needs are placed on its
// standard streams. Children start with an empty signal mask and the default
// SIGPIPE action whatever this process uses, so they behave as from a shell.
// Captured runs drain both output pipes and feed standard input from one
// poll loop, which keeps any amount of output from blocking either side.
#include "platform/process.h"

#include "platform/env.h"
#include "platform/files.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fmt/format.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace kestal::platform {

namespace {

// Where a child's standard stream comes from.
constexpr int kInherit = -1;
constexpr int kNullDevice = -2;

struct ChildStreams {
    int in = kInherit;
    int out = kInherit;
    int err = kInherit;
};

// The NUL-terminated argument or environment array that exec takes, with the
// strings it points into.
struct CStringArray {
    std::vector<std::string> strings;
    std::vector<char *> pointers;

    char **finish() {
        pointers.clear();
        for (std::string &s : strings)
            pointers.push_back(s.data());
        pointers.push_back(nullptr);
        return pointers.data();
    }
};

bool has_nul(std::string_view s) {
    return s.find('\0') != std::string_view::npos;
}

Result<void> check_arguments(const std::vector<std::string> &argv) {
    if (argv.empty())
        return OsError{"no program to run: the argument list is empty", 0};
    for (const std::string &arg : argv)
        if (has_nul(arg))
            return OsError{"an argument of the command holds a NUL byte", 0};
    return {};
}

Result<void> check_env(const EnvVars &extra_env) {
    for (const auto &[name, value] : extra_env)
        if (name.empty() || name.find('=') != std::string::npos || has_nul(name) || has_nul(value))
            return OsError{fmt::format("invalid environment variable name or value: '{}'", name),
                           0};
    return {};
}

// The inherited environment without the overridden names, then the extras.
CStringArray build_environment(const EnvVars &extra_env) {
    CStringArray env;
    for (char **entry = environ; entry && *entry; ++entry) {
        std::string_view text = *entry;
        std::string_view name = text.substr(0, text.find('='));
        bool overridden = false;
        for (const auto &extra : extra_env)
            overridden = overridden || extra.first == name;
        if (!overridden)
            env.strings.emplace_back(text);
    }
    for (const auto &[name, value] : extra_env)
        env.strings.push_back(name + "=" + value);
    return env;
}

// Fills the file actions for one standard stream; returns an errno or 0.
int place_stream(posix_spawn_file_actions_t *actions, int source, int target) {
    if (source == kInherit)
        return 0;
    if (source == kNullDevice)
        return posix_spawn_file_actions_addopen(actions, target, "/dev/null",
                                                target == 0 ? O_RDONLY : O_WRONLY, 0);
    return posix_spawn_file_actions_adddup2(actions, source, target);
}

// Sets up and calls posix_spawnp; returns the child's pid or the errno.
Result<pid_t> spawn_child(const std::vector<std::string> &argv, const EnvVars &extra_env,
                          ChildStreams streams, bool new_session) {
    if (auto checked = check_arguments(argv); !checked)
        return checked.error();
    if (auto checked = check_env(extra_env); !checked)
        return checked.error();
    CStringArray args;
    args.strings = argv;
    CStringArray env = build_environment(extra_env);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    sigset_t no_signals, default_signals;
    sigemptyset(&no_signals);
    sigemptyset(&default_signals);
    sigaddset(&default_signals, SIGPIPE);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (new_session)
        flags |= POSIX_SPAWN_SETSID;
    int rc = posix_spawnattr_setflags(&attr, flags);
    if (rc == 0)
        rc = posix_spawnattr_setsigmask(&attr, &no_signals);
    if (rc == 0)
        rc = posix_spawnattr_setsigdefault(&attr, &default_signals);
    if (rc == 0)
        rc = place_stream(&actions, streams.in, 0);
    if (rc == 0)
        rc = place_stream(&actions, streams.out, 1);
    if (rc == 0)
        rc = place_stream(&actions, streams.err, 2);
    pid_t pid = -1;
    if (rc == 0)
        rc = posix_spawnp(&pid, argv[0].c_str(), &actions, &attr, args.finish(), env.finish());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0)
        return os_error(rc);
    return pid;
}

ExitStatus decode_wait_status(int status) {
    if (WIFSIGNALED(status))
        return ExitStatus{128 + WTERMSIG(status), WTERMSIG(status)};
    return ExitStatus{WEXITSTATUS(status), 0};
}

Result<ExitStatus> wait_for(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return last_os_error();
    }
    return decode_wait_status(status);
}

void close_fd(int &fd) {
    if (fd >= 0)
        close(fd);
    fd = -1;
}

// A pipe whose both ends are close-on-exec; the child's end is placed on its
// stream by dup2 in the spawn, which clears the flag on the copy only.
struct Pipe {
    int read_end = -1;
    int write_end = -1;

    Result<void> open() {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            return last_os_error();
        read_end = fds[0];
        write_end = fds[1];
        return {};
    }
    ~Pipe() {
        close_fd(read_end);
        close_fd(write_end);
    }
};

// Blocks SIGPIPE in this thread while it writes to a child's standard input,
// so a child that exits without reading turns the write into EPIPE instead of
// killing the tool. A SIGPIPE raised meanwhile is consumed before unblocking.
class SigpipeBlock {
  public:
    SigpipeBlock() {
        sigemptyset(&pipe_only_);
        sigaddset(&pipe_only_, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe_only_, &previous_);
        sigset_t pending;
        sigpending(&pending);
        was_pending_ = sigismember(&pending, SIGPIPE) == 1;
    }
    ~SigpipeBlock() {
        sigset_t pending;
        sigpending(&pending);
        if (!was_pending_ && sigismember(&pending, SIGPIPE) == 1) {
            timespec no_wait{0, 0};
            sigtimedwait(&pipe_only_, nullptr, &no_wait);
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    SigpipeBlock(const SigpipeBlock &) = delete;
    SigpipeBlock &operator=(const SigpipeBlock &) = delete;

  private:
    sigset_t pipe_only_;
    sigset_t previous_;
    bool was_pending_ = false;
};

// Reads what is available; closes the descriptor at end of file or error.
void drain_some(int &fd, std::string &into) {
    char buffer[65536];
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0)
        into.append(buffer, static_cast<std::size_t>(n));
    else if (n == 0 || (errno != EINTR && errno != EAGAIN))
        close_fd(fd);
}

// Writes what the pipe takes; closes it when all is written or the child
// stopped reading (EPIPE), which is not an error of the run.
void feed_some(int &fd, std::string_view &pending) {
    ssize_t n = write(fd, pending.data(), pending.size());
    if (n > 0)
        pending.remove_prefix(static_cast<std::size_t>(n));
    else if (n < 0 && errno != EINTR && errno != EAGAIN)
        pending = {};
    if (pending.empty())
        close_fd(fd);
}

// True when the watched file holds more than its limit. A file not yet
// created (or unreadable) holds nothing.
bool watched_file_too_big(const WatchedFile &watched) {
    struct stat st;
    return ::stat(watched.path.c_str(), &st) == 0 &&
           static_cast<std::uint64_t>(st.st_size) > watched.max_bytes;
}

// The poll loop of a captured run: until both outputs reach end of file, or
// standard output passes max_out bytes, or the watched file its limit (then
// every descriptor is closed and the matching flag set). With a watched
// file, poll wakes at least every kFileWatchMilliseconds to look at it.
// Returns an error only when poll itself fails.
Result<void> exchange(int &in_fd, std::string_view pending, int &out_fd, int &err_fd,
                      std::size_t max_out, const std::optional<WatchedFile> &watched,
                      CapturedRun &run) {
    while (out_fd >= 0 || err_fd >= 0 || in_fd >= 0) {
        run.out_limit_hit = run.out.size() > max_out;
        run.file_limit_hit = watched && watched_file_too_big(*watched);
        if (run.out_limit_hit || run.file_limit_hit) {
            close_fd(out_fd);
            close_fd(err_fd);
            close_fd(in_fd);
            return {};
        }
        pollfd polls[3];
        int count = 0;
        for (int fd : {out_fd, err_fd})
            if (fd >= 0)
                polls[count++] = pollfd{fd, POLLIN, 0};
        if (in_fd >= 0)
            polls[count++] = pollfd{in_fd, POLLOUT, 0};
        int timeout = watched ? kFileWatchMilliseconds : -1;
        if (poll(polls, static_cast<nfds_t>(count), timeout) < 0) {
            if (errno == EINTR)
                continue;
            return last_os_error();
        }
        for (int i = 0; i < count; ++i) {
            if (polls[i].revents == 0)
                continue;
            if (polls[i].fd == out_fd)
                drain_some(out_fd, run.out);
            else if (polls[i].fd == err_fd)
                drain_some(err_fd, run.err);
            else
                feed_some(in_fd, pending);
        }
    }
    return {};
}

} // namespace

std::string describe_exit(ExitStatus status) {
    if (status.signal == 0)
        return fmt::format("exit status {}", status.code);
    const char *name = sigabbrev_np(status.signal);
    if (!name)
        return fmt::format("killed by signal {}", status.signal);
    return fmt::format("killed by signal {} (SIG{})", status.signal, name);
}

Result<CapturedRun> run_captured(const std::vector<std::string> &argv, const EnvVars &extra_env,
                                 std::string_view stdin_bytes, std::size_t max_out,
                                 const std::optional<WatchedFile> &watched) {
    Pipe out_pipe, err_pipe, in_pipe;
    for (Pipe *p : {&out_pipe, &err_pipe})
        if (auto opened = p->open(); !opened)
            return opened.error();
    ChildStreams streams{kNullDevice, out_pipe.write_end, err_pipe.write_end};
    if (!stdin_bytes.empty()) {
        if (auto opened = in_pipe.open(); !opened)
            return opened.error();
        if (fcntl(in_pipe.write_end, F_SETFL, O_NONBLOCK) != 0)
            return last_os_error();
        streams.in = in_pipe.read_end;
    }
    Result<pid_t> pid = spawn_child(argv, extra_env, streams, false);
    if (!pid)
        return pid.error();
    // The child holds its own copies; ours must go, or end of file never comes.
    close_fd(out_pipe.write_end);
    close_fd(err_pipe.write_end);
    close_fd(in_pipe.read_end);

    CapturedRun run;
    Result<void> exchanged;
    {
        std::optional<SigpipeBlock> block;
        if (in_pipe.write_end >= 0)
            block.emplace();
        exchanged = exchange(in_pipe.write_end, stdin_bytes, out_pipe.read_end, err_pipe.read_end,
                             max_out, watched, run);
    }
    if (!exchanged || run.out_limit_hit || run.file_limit_hit) {
        // The loop cannot go on: stop the child rather than leave it behind.
        kill(*pid, SIGKILL);
        Result<ExitStatus> killed = wait_for(*pid);
        if (!exchanged)
            return exchanged.error();
        if (killed)
            run.status = *killed;
        return run;
    }
    Result<ExitStatus> status = wait_for(*pid);
    if (!status)
        return status.error();
    run.status = *status;
    return run;
}

namespace {

// The child run_inherited waits for, and a request to end that came before
// it was known.
volatile sig_atomic_t g_waited_child = 0;
volatile sig_atomic_t g_pending_signal = 0;

void forward_to_child(int sig) {
    pid_t child = g_waited_child;
    if (child > 0)
        kill(child, sig);
    else
        g_pending_signal = sig;
}

} // namespace

Result<ExitStatus> run_inherited(const std::vector<std::string> &argv, const EnvVars &extra_env) {
    // A request to end this process (SIGTERM, a hang-up) is passed on to
    // the child, which then ends and is waited for as usual, instead of
    // being left running on its own.
    struct sigaction forward = {};
    forward.sa_handler = forward_to_child;
    sigemptyset(&forward.sa_mask);
    struct sigaction old_term = {}, old_hup = {};
    g_waited_child = 0;
    g_pending_signal = 0;
    sigaction(SIGTERM, &forward, &old_term);
    sigaction(SIGHUP, &forward, &old_hup);
    Result<pid_t> pid = spawn_child(argv, extra_env, ChildStreams{}, false);
    auto restore = [&] {
        g_waited_child = 0;
        sigaction(SIGTERM, &old_term, nullptr);
        sigaction(SIGHUP, &old_hup, nullptr);
    };
    if (!pid) {
        restore();
        return pid.error();
    }
    g_waited_child = *pid;
    if (int pending = g_pending_signal; pending != 0)
        kill(*pid, pending);
    Result<ExitStatus> status = wait_for(*pid);
    restore();
    return status;
}

Result<void> spawn_detached(const std::vector<std::string> &argv) {
    Result<pid_t> pid =
        spawn_child(argv, {}, ChildStreams{kNullDevice, kNullDevice, kNullDevice}, true);
    if (!pid)
        return pid.error();
    // Without a reaper the finished child would stay a zombie for as long as
    // this process lives.
    try {
        std::thread([child = *pid] {
            int status;
            while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    } catch (const std::system_error &) {
        // No thread to spare: the zombie goes when this process ends.
    }
    return {};
}

std::optional<std::string> find_program_on_path(const std::string &name) {
    if (name.empty())
        return std::nullopt;
    if (name.find('/') != std::string::npos)
        return path_exists(name) ? std::optional<std::string>(name) : std::nullopt;
    std::optional<std::string> path = env_var("PATH");
    if (!path)
        return std::nullopt;
    std::string_view rest = *path;
    for (;;) {
        std::size_t colon = rest.find(':');
        std::string_view dir = rest.substr(0, colon);
        std::string candidate = fmt::format("{}/{}", dir.empty() ? "." : dir, name);
        struct stat st;
        if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            access(candidate.c_str(), X_OK) == 0)
            return candidate;
        if (colon == std::string_view::npos)
            return std::nullopt;
        rest.remove_prefix(colon + 1);
    }
}

} // namespace kestal::platform
