// A PostgreSQL server for tests, on 127.0.0.1 only, shared by the test
// processes of one build tree.
//
// CTest runs every test as a process of its own; making a cluster costs
// about a second and a half, a fresh database in a running server a fifth of
// that. So the first process that needs a server makes one (initdb and
// pg_ctl as user postgres, data folder and Unix socket in a temporary folder,
// a free port) and records it in the build tree's test data folder; the
// processes after it join that server. Each test makes a database of its own
// in it.
//
// Joining holds a shared lock on a file of the data folder for the life of
// the process. A small watcher started with the server stops it, and removes
// its folder, once no process has held that lock for a while (so a run of
// tests keeps one server, and a crashed test process never leaves one
// behind). Starting and stopping both happen under one exclusive lock, so a
// process never joins a server that is being stopped.
#pragma once

#include <string>

namespace testing_support {

class PostgresServer {
 public:
  // The server of this build tree's tests, started when none runs. Null when
  // there can be none (PostgreSQL not installed, no user postgres, no root),
  // with the reason in why; the first answer is kept for the process.
  static PostgresServer* shared(std::string& why);
  // After a null answer: true when what is missing lies outside the tree (the
  // PostgreSQL programs, the user postgres, root rights), false when the
  // server was there to start and failed.
  static bool missingOutside();

  const std::string& host() const { return host_; }
  int port() const { return port_; }
  // The superuser every local connection may log in as (trust login).
  const std::string& user() const { return user_; }

  ~PostgresServer();
  PostgresServer(const PostgresServer&) = delete;
  PostgresServer& operator=(const PostgresServer&) = delete;

 private:
  PostgresServer() = default;
  std::string host_ = "127.0.0.1";
  std::string user_ = "postgres";
  int port_ = 0;
  int usersLock_ = -1;
};

}  // namespace testing_support
