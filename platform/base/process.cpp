#include "platform/base/process.h"

#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <thread>

#include "platform/base/last_error.h"
#include "platform/base/path.h"

extern char** environ;

namespace platform {

std::vector<std::string> splitCommandLine(const std::string& commandLine) {
  std::vector<std::string> args;
  std::string current;
  bool inQuotes = false, have = false;
  for (size_t i = 0; i < commandLine.size(); ++i) {
    char c = commandLine[i];
    if (c == '\\') {
      size_t n = 0;
      while (i + n < commandLine.size() && commandLine[i + n] == '\\') ++n;
      if (i + n < commandLine.size() && commandLine[i + n] == '"') {
        current.append(n / 2, '\\');
        if (n % 2) current.push_back('"');
        else inQuotes = !inQuotes;
        i += n;
      } else {
        current.append(n, '\\');
        i += n - 1;
      }
      have = true;
    } else if (c == '"') {
      inQuotes = !inQuotes;
      have = true;
    } else if ((c == ' ' || c == '\t') && !inQuotes) {
      if (have) args.push_back(current);
      current.clear();
      have = false;
    } else {
      current.push_back(c);
      have = true;
    }
  }
  if (have) args.push_back(current);
  return args;
}

bool startProcess(const std::string& commandLine, ProcessPriority priority, const std::string& folder,
                  int32_t& processId) {
  std::vector<std::string> args = splitCommandLine(commandLine);
  if (args.empty()) {
    setLastError(kErrorInvalidParameter);
    return false;
  }
  if (args[0].find_first_of("/\\") != std::string::npos) args[0] = mapPath(args[0]);
  std::string dir = folder.empty() ? std::string() : mapPath(folder);
  if (!dir.empty()) {
    struct stat st;
    if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      setLastError(kErrorPathNotFound);
      return false;
    }
  }
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawnattr_t attr;
  posix_spawn_file_actions_t actions;
  posix_spawnattr_init(&attr);
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attr, 0);
  if (!dir.empty()) posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
  pid_t pid = 0;
  int rc = args[0].find('/') != std::string::npos
               ? posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), environ)
               : posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) {
    setLastError(errorFromErrno(rc));
    return false;
  }
  int nice = 0;
  switch (priority) {
    case ProcessPriority::Idle: nice = 19; break;
    case ProcessPriority::High: nice = -10; break;
    case ProcessPriority::RealTime: nice = -20; break;
    case ProcessPriority::Normal: break;
  }
  if (nice != 0) ::setpriority(PRIO_PROCESS, static_cast<id_t>(pid), nice);  // refusal: stays normal
  std::thread([pid] {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  processId = static_cast<int32_t>(pid);
  return true;
}

namespace {
DocumentOpener& documentOpener() {
  static DocumentOpener opener;
  return opener;
}
}  // namespace

DocumentOpener setDocumentOpener(DocumentOpener opener) {
  DocumentOpener previous = std::move(documentOpener());
  documentOpener() = std::move(opener);
  return previous;
}

bool openDocument(const std::string& path) {
  const std::string native = mapPath(path);
  if (documentOpener()) return documentOpener()(native);
  std::string quoted = "\"";
  for (char c : native) {
    if (c == '"') quoted += '\\';
    quoted += c;
  }
  quoted += '"';
  int32_t processId = 0;
  return startProcess("xdg-open " + quoted, ProcessPriority::Normal, "", processId);
}

bool killProcess(int32_t processId) {
  if (processId <= 0) {
    setLastError(kErrorInvalidParameter);
    return false;
  }
  if (::kill(static_cast<pid_t>(processId), SIGKILL) != 0) {
    setLastError(errorFromErrno(errno));
    return false;
  }
  return true;
}

}  // namespace platform
