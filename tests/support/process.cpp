// Child processes for the consumer checks: posix_spawn with both output pipes
// drained concurrently (a chatty tool must not block on a full pipe), and a
// deadline after which the whole process group is killed.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "support/consumers.h"

extern char** environ;

namespace tavtest {
namespace {

// Both ends of a pipe (0 read, 1 write), closed when it goes.
struct Pipe {
  int fd[2] = {-1, -1};
  ~Pipe() { close(0); close(1); }
  bool open() { return ::pipe2(fd, O_CLOEXEC) == 0; }
  void close(int end) {
    if (fd[end] >= 0) ::close(fd[end]);
    fd[end] = -1;
  }
};

// Shell-like rendering for messages only.
std::string renderCommandLine(const std::vector<std::string>& argv) {
  std::string line;
  for (const auto& arg : argv) {
    if (!line.empty()) line += ' ';
    const bool plain = !arg.empty() && arg.find_first_of(" \t\n'\"\\()$&;|<>*?`") == std::string::npos;
    if (plain) {
      line += arg;
    } else {
      line += '\'';
      for (char c : arg) line += c == '\'' ? std::string("'\\''") : std::string(1, c);
      line += '\'';
    }
  }
  return line;
}

std::string statusText(const ProcessResult& r) {
  if (!r.started) return "not started";
  if (r.timedOut) return "killed after timeout";
  if (r.signaled) return "killed by signal " + std::to_string(r.exitCode - 128);
  return "exit code " + std::to_string(r.exitCode);
}

}  // namespace

std::string ProcessResult::describe() const {
  std::string text = "$ " + commandLine + "\n[" + statusText(*this) + "]\n";
  if (!out.empty()) text += "--- stdout\n" + out + (out.back() == '\n' ? "" : "\n");
  if (!err.empty()) text += "--- stderr\n" + err + (err.back() == '\n' ? "" : "\n");
  return text;
}

ProcessResult runProcess(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                         const std::filesystem::path& cwd) {
  ProcessResult result;
  result.commandLine = renderCommandLine(argv);
  if (argv.empty()) {
    result.err = "empty command";
    return result;
  }

  Pipe outPipe, errPipe;
  if (!outPipe.open() || !errPipe.open()) {
    result.err = std::string("pipe: ") + std::strerror(errno);
    return result;
  }

  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, outPipe.fd[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errPipe.fd[1], 2);
  if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  // Own process group, so that a timeout also ends whatever the tool started.
  posix_spawnattr_setpgroup(&attr, 0);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF);

  pid_t pid = -1;
  const int rc = ::posix_spawnp(&pid, args[0], &actions, &attr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  outPipe.close(1);
  errPipe.close(1);
  if (rc != 0) {
    result.err = "cannot run " + argv[0] + ": " + std::strerror(rc);
    return result;
  }
  result.started = true;

  const auto deadline = std::chrono::steady_clock::now() + timeout;
  auto remainingMs = [&] {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(std::min<long long>(left.count(), 1 << 30));
  };

  // Drain both pipes until the child closes them or time runs out.
  Pipe* pipes[2] = {&outPipe, &errPipe};
  std::string* sinks[2] = {&result.out, &result.err};
  while (!result.timedOut && (pipes[0]->fd[0] >= 0 || pipes[1]->fd[0] >= 0)) {
    pollfd polls[2];
    nfds_t count = 0;
    int which[2];
    for (int i = 0; i < 2; ++i) {
      if (pipes[i]->fd[0] < 0) continue;
      polls[count] = {pipes[i]->fd[0], POLLIN, 0};
      which[count++] = i;
    }
    const int ready = ::poll(polls, count, remainingMs());
    if (ready < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (ready == 0) {
      result.timedOut = true;
      break;
    }
    for (nfds_t k = 0; k < count; ++k) {
      if (!(polls[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buffer[65536];
      const ssize_t n = ::read(polls[k].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[which[k]]->append(buffer, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        pipes[which[k]]->close(0);
      }
    }
  }

  // The pipes are closed; wait for the exit itself, still within the deadline.
  if (result.timedOut) ::kill(-pid, SIGKILL);
  int status = 0;
  for (;;) {
    const pid_t done = ::waitpid(pid, &status, result.timedOut ? 0 : WNOHANG);
    if (done == pid) break;
    if (done < 0) {
      if (errno == EINTR) continue;
      result.err += std::string("\nwaitpid: ") + std::strerror(errno);
      return result;
    }
    if (remainingMs() == 0) {
      result.timedOut = true;
      ::kill(-pid, SIGKILL);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  if (WIFEXITED(status)) {
    result.exitCode = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.signaled = true;
    result.exitCode = 128 + WTERMSIG(status);
  }
  return result;
}

}  // namespace tavtest
