#include "peers/postgres_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <vector>

namespace testing_support {

namespace {

namespace fs = std::filesystem;

// Seconds the server outlives the last process that used it: long enough to
// carry it across the gaps between the tests of a run.
constexpr int kLingerSeconds = 20;

// The bin folder of the newest PostgreSQL installed, empty when none is.
std::string programFolder() {
  std::string best;
  int bestVersion = -1;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", ec)) {
    const fs::path bin = entry.path() / "bin";
    if (!fs::exists(bin / "initdb", ec) || !fs::exists(bin / "pg_ctl", ec)) continue;
    const int version = std::atoi(entry.path().filename().c_str());
    if (version > bestVersion) {
      bestVersion = version;
      best = bin.string();
    }
  }
  return best;
}

std::string runuserProgram() {
  for (const char* path : {"/usr/sbin/runuser", "/sbin/runuser", "/usr/bin/runuser", "/bin/runuser"})
    if (::access(path, X_OK) == 0) return path;
  return std::string();
}

// Runs a program with stdin from /dev/null and its output appended to log,
// holding none of this process's other files (a server started through it
// must not keep a test runner's pipe open). detached: in a session of its
// own, not waited for.
int run(const std::vector<std::string>& args, const std::string& log, bool detached = false) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (in < 0 || out < 0) {
    if (in >= 0) ::close(in);
    if (out >= 0) ::close(out);
    return -1;
  }
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (detached) {
      ::setsid();
      if (::fork() != 0) ::_exit(0);
    }
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(out, 2);
    ::close_range(3, ~0U, 0);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(in);
  ::close(out);
  if (pid < 0) return -1;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int freePort() {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return 0;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof a;
  int port = 0;
  if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &length) == 0)
    port = ntohs(a.sin_port);
  ::close(s);
  return port;
}

bool answers(int port) {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(s);
  return ok;
}

std::string tail(const std::string& path) {
  std::ifstream in(path);
  std::stringstream all;
  all << in.rdbuf();
  const std::string text = all.str();
  return text.size() > 600 ? text.substr(text.size() - 600) : text;
}

// The record of the running server in the state folder: its folder and port.
struct Recorded {
  std::string folder;
  int port = 0;
};

Recorded readRecord(const fs::path& file) {
  Recorded r;
  std::ifstream in(file);
  std::string port;
  if (std::getline(in, r.folder) && std::getline(in, port)) r.port = std::atoi(port.c_str());
  return r;
}

// The recorded server still runs: its postmaster lists the port and answers.
bool running(const Recorded& r) {
  if (r.folder.empty() || r.port <= 0) return false;
  std::ifstream pidFile(fs::path(r.folder) / "data" / "postmaster.pid");
  std::string line;
  for (int i = 0; i < 4 && std::getline(pidFile, line); ++i) {
  }
  return std::atoi(line.c_str()) == r.port && answers(r.port);
}

// What stops the server once no test process has used it for the linger
// time, or at once when the record no longer names it (it was found dead and
// replaced, or the build tree's data folder is gone). It decides under the
// start lock and removes the record there, so no process joins a server
// being stopped. Arguments: state folder, server folder, pg_ctl,
// linger seconds, then the command that runs a program as user postgres.
const char kWatcher[] = R"(state=$1 folder=$2 pgctl=$3 linger=$4
shift 4
while sleep 2; do
  if [ -d "$state" ]; then
    flock -x "$state/lock" sh -c '
      state=$1 folder=$2 linger=$3
      grep -qxF "$folder" "$state/server" 2>/dev/null || exit 0
      flock -n -x "$state/users" true || exit 1
      idle=$(( $(date +%s) - $(stat -c %Y "$state/users") ))
      [ "$idle" -ge "$linger" ] || exit 1
      rm -f "$state/server"' decide "$state" "$folder" "$linger" || continue
  fi
  "$@" "$pgctl" -D "$folder/data" -m fast -w -s stop
  rm -rf "$folder"
  break
done
)";

}  // namespace

namespace {
bool g_missingOutside = false;
}  // namespace

bool PostgresServer::missingOutside() { return g_missingOutside; }

PostgresServer* PostgresServer::shared(std::string& why) {
  static std::mutex mutex;
  static std::unique_ptr<PostgresServer> server;
  static std::string failure;
  static bool tried = false;
  std::lock_guard<std::mutex> lock(mutex);
  why = failure;
  if (tried) return server.get();
  tried = true;
  auto fail = [&](const std::string& reason) -> PostgresServer* {
    failure = why = reason;
    return nullptr;
  };
  auto missing = [&](const std::string& reason) -> PostgresServer* {
    g_missingOutside = true;
    return fail(reason);
  };

  const std::string bin = programFolder();
  if (bin.empty()) return missing("PostgreSQL's initdb and pg_ctl are not installed under /usr/lib/postgresql");
  const passwd* postgres = ::getpwnam("postgres");
  if (!postgres) return missing("there is no user postgres to run the server as");
  std::vector<std::string> asPostgres;
  if (::geteuid() == 0) {
    const std::string runuser = runuserProgram();
    if (runuser.empty()) return missing("runuser is missing");
    asPostgres = {runuser, "-u", "postgres", "--"};
  } else if (::geteuid() != postgres->pw_uid) {
    return missing("the server runs as user postgres: the tests must run as root or as postgres");
  }
  auto asServer = [&](std::initializer_list<std::string> args) {
    std::vector<std::string> v = asPostgres;
    v.insert(v.end(), args);
    return v;
  };

  const char* data = std::getenv("XDG_DATA_HOME");
  std::error_code ec;
  const fs::path state = fs::path(data && *data ? data : fs::temp_directory_path().string()) / "postgres-server";
  fs::create_directories(state, ec);
  const int startLock = ::open((state / "lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (startLock < 0) return fail("cannot open " + (state / "lock").string());
  struct Unlock {
    int fd;
    ~Unlock() {
      ::flock(fd, LOCK_UN);
      ::close(fd);
    }
  } unlock{startLock};
  while (::flock(startLock, LOCK_EX) != 0)
    if (errno != EINTR) return fail("cannot lock " + (state / "lock").string());

  Recorded recorded = readRecord(state / "server");
  if (!running(recorded)) {
    ::unlink((state / "server").c_str());
    // A server found dead is left to its watcher, which sees the record gone
    // and removes its folder.
    std::string folder = (fs::temp_directory_path() / "varnex-postgres-XXXXXX").string();
    if (!::mkdtemp(folder.data())) return fail("cannot make a folder for the server");
    if (::chown(folder.c_str(), postgres->pw_uid, postgres->pw_gid) != 0) {
      fs::remove_all(folder, ec);
      return fail("cannot give the server's folder to user postgres");
    }
    // The watcher starts first: it waits for the start lock, so it finds the
    // record of a server that started, and stops and removes one whose start
    // failed or was cut short (no record names it).
    std::vector<std::string> watcher = {"/bin/sh", "-c", kWatcher, "watcher", state.string(), folder,
                                        bin + "/pg_ctl", std::to_string(kLingerSeconds)};
    watcher.insert(watcher.end(), asPostgres.begin(), asPostgres.end());
    run(watcher, "/dev/null", true);
    const std::string log = folder + "/setup.log";
    if (run(asServer({bin + "/initdb", "-D", folder + "/data", "-A", "trust", "-U", "postgres", "--no-locale", "-E",
                      "UTF8", "--no-sync"}),
            log) != 0) {
      return fail("initdb failed: " + tail(log));
    }
    int port = 0;
    bool started = false;
    // The free port may be taken between the look and the start: try again.
    for (int attempt = 0; attempt < 3 && !started; ++attempt) {
      port = freePort();
      const std::string options = "-c listen_addresses=127.0.0.1 -p " + std::to_string(port) + " -k " + folder +
                                  " -c fsync=off -c full_page_writes=off -c synchronous_commit=off";
      started = run(asServer({bin + "/pg_ctl", "-D", folder + "/data", "-l", folder + "/server.log", "-w", "-t",
                              "30", "-s", "-o", options, "start"}),
                    log) == 0;
    }
    if (!started) {
      return fail("the server did not start: " + tail(folder + "/server.log"));
    }
    {
      const fs::path made = state / ("server." + std::to_string(::getpid()));
      std::ofstream(made) << folder << "\n" << port << "\n";
      fs::rename(made, state / "server", ec);
    }
    recorded = {folder, port};
  }

  // Joined: the watcher leaves the server running while this lock is held.
  const int users = ::open((state / "users").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (users < 0 || ::flock(users, LOCK_SH) != 0) {
    if (users >= 0) ::close(users);
    return fail("cannot lock " + (state / "users").string());
  }
  ::futimens(users, nullptr);
  server.reset(new PostgresServer);
  server->port_ = recorded.port;
  server->usersLock_ = users;
  return server.get();
}

PostgresServer::~PostgresServer() {
  if (usersLock_ < 0) return;
  // The linger time counts from the last process that left.
  ::futimens(usersLock_, nullptr);
  ::close(usersLock_);
}

}  // namespace testing_support
