// A PostgreSQL server of the test's own: Debian's postgresql binaries, a cluster made by initdb in a
// temporary folder and started by pg_ctl on a free loopback port, as an unprivileged user when the test
// runs as root (which PostgreSQL refuses). Stopped and removed at the end. When it cannot start, the
// test fails with PostgreSQL's own words.
#pragma once

#include <string>

class TPgCluster {
 public:
  // durable: each commit waits for the disk, as a production server's does; otherwise (for the tests,
  // whose servers die but whose machine does not) it does not.
  explicit TPgCluster(bool durable = false);
  ~TPgCluster();
  TPgCluster(const TPgCluster&) = delete;
  TPgCluster& operator=(const TPgCluster&) = delete;

  bool Started() const { return Port > 0; }
  // What went wrong, with initdb's and the server's output, when it did not start.
  const std::string& Failure() const { return Why; }
  // A new empty database; its URI ("" after a failure, which Failure() then explains).
  std::string NewDatabase();
  // The URI of database name.
  std::string Uri(const std::string& name) const;
  // Stops (SIGSTOP) or continues (SIGCONT) every process of the server, the postmaster and its children,
  // as a database that hangs would; returns how many were signalled.
  int Freeze(bool frozen);

 private:
  std::string Folder;  // the cluster's data, socket and log
  std::string User;    // whom the server runs as: ours, or an unprivileged one for root
  int Port = 0;
  int Databases = 0;
  std::string Why;
};

// The one cluster of this test program, started when first asked for.
TPgCluster& SharedPgCluster();
