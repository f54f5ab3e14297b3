#include "platform/base/power.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <vector>

extern char** environ;

namespace platform {

namespace {

std::mutex& runnerMutex() {
  static std::mutex m;
  return m;
}
PowerOffRunner& runnerSlot() {
  static PowerOffRunner runner;
  return runner;
}

// Runs a program to its end with its output (stdout and stderr together).
// False with errno when it could not be started; the exit code otherwise.
bool runToEnd(const std::vector<std::string>& args, int* exitCode, std::string* output) {
  int pipeEnds[2];
  if (pipe2(pipeEnds, O_CLOEXEC) != 0) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 2);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeEnds[1]);
  if (spawned != 0) {
    close(pipeEnds[0]);
    errno = spawned;
    return false;
  }
  char buffer[512];
  ssize_t n;
  while ((n = read(pipeEnds[0], buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR))
    if (n > 0 && output->size() < 4096) output->append(buffer, static_cast<size_t>(n));
  close(pipeEnds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
  return true;
}

std::string trimmed(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
  return s;
}

bool powerOffThroughSystem(std::string* reason) {
  const std::vector<std::string> login1 = {kBusctlProgram, "call", "org.freedesktop.login1", "/org/freedesktop/login1",
                                           "org.freedesktop.login1.Manager"};
  int code = 0;
  std::string answer;
  std::vector<std::string> ask = login1;
  ask.push_back("CanPowerOff");
  if (runToEnd(ask, &code, &answer)) {
    // "yes", "challenge" (the policy may still ask), "no" or "na".
    if (code != 0) {
      *reason = trimmed(answer);
      return false;
    }
    if (answer.find("\"yes\"") == std::string::npos && answer.find("\"challenge\"") == std::string::npos) {
      *reason = "CanPowerOff: " + trimmed(answer);
      return false;
    }
    std::vector<std::string> off = login1;
    off.insert(off.end(), {"PowerOff", "b", "false"});
    std::string said;
    if (!runToEnd(off, &code, &said)) {
      *reason = "busctl cannot be started";
      return false;
    }
    if (code != 0) *reason = trimmed(said);
    return code == 0;
  }
  if (errno != ENOENT) {
    *reason = "busctl cannot be started";
    return false;
  }
  std::string said;
  if (!runToEnd({kSystemctlProgram, "poweroff"}, &code, &said)) {
    *reason = "neither busctl nor systemctl can be started";
    return false;
  }
  if (code != 0) *reason = trimmed(said);
  return code == 0;
}

}  // namespace

bool powerOffSystem(std::string* reason) {
  std::string ignored;
  if (!reason) reason = &ignored;
  reason->clear();
  PowerOffRunner runner;
  {
    std::lock_guard<std::mutex> lock(runnerMutex());
    runner = runnerSlot();
  }
  if (runner) return runner(reason);
  return powerOffThroughSystem(reason);
}

PowerOffRunner setPowerOffRunner(PowerOffRunner runner) {
  std::lock_guard<std::mutex> lock(runnerMutex());
  PowerOffRunner previous = std::move(runnerSlot());
  runnerSlot() = std::move(runner);
  return previous;
}

}  // namespace platform
