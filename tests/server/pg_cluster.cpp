#include "tests/server/pg_cluster.h"

#include <glob.h>
#include <libpq-fe.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include "tests/server/server_process.h"

namespace {

// The newest of Debian's installed PostgreSQL versions: its folder of programs, or "".
std::string PgBinFolder() {
  glob_t found{};
  std::vector<std::string> folders;
  if (glob("/usr/lib/postgresql/*/bin/pg_ctl", 0, nullptr, &found) == 0)
    for (size_t i = 0; i < found.gl_pathc; ++i)
      folders.push_back(std::filesystem::path(found.gl_pathv[i]).parent_path().string());
  globfree(&found);
  std::sort(folders.begin(), folders.end(), [](const std::string& a, const std::string& b) {
    return std::atoi(a.c_str() + std::string("/usr/lib/postgresql/").size()) <
           std::atoi(b.c_str() + std::string("/usr/lib/postgresql/").size());
  });
  return folders.empty() ? std::string() : folders.back();
}

int FreeLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int port = 0;
  socklen_t length = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  close(fd);
  return port;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

TPgCluster::TPgCluster(bool durable) {
  const std::string bin = PgBinFolder();
  if (bin.empty()) {
    Why = "no PostgreSQL server programs in /usr/lib/postgresql/*/bin (Debian's postgresql package)";
    return;
  }
  std::string pattern = (std::filesystem::temp_directory_path() / "pellorin-pg.XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    Why = "mkdtemp " + pattern;
    return;
  }
  Folder = pattern;
  // As root, the cluster belongs to the postgres user of Debian's package (or nobody), who must be able
  // to reach the folder.
  std::vector<std::string> as;
  if (geteuid() == 0) {
    User = getpwnam("postgres") != nullptr ? "postgres" : "nobody";
    const passwd* user = getpwnam(User.c_str());
    if (user == nullptr || chown(Folder.c_str(), user->pw_uid, user->pw_gid) != 0) {
      Why = "cannot hand " + Folder + " to the user " + User;
      return;
    }
    as = {"runuser", "-u", User, "--"};
  }
  auto run = [&](std::vector<std::string> args, std::string& output) {
    args.insert(args.begin(), as.begin(), as.end());
    return RunProgram(args, output);
  };
  const std::string data = Folder + "/data";
  std::string output;
  if (run({bin + "/initdb", "-D", data, "-U", "pellorin", "--auth=trust", "-E", "UTF8", "--no-sync",
           "--no-instructions"},
          output) != 0) {
    Why = "initdb failed:\n" + output;
    return;
  }
  // A free port may be taken by someone else between the look and the start: a few tries.
  for (int attempt = 0; attempt < 3; ++attempt) {
    const int port = FreeLoopbackPort();
    const std::string log = Folder + "/server.log";
    const int status = run(
        {bin + "/pg_ctl", "-D", data, "-l", log, "-w", "-t", "60", "-o",
         "-p " + std::to_string(port) + " -k " + Folder +
             " -h 127.0.0.1 -c max_connections=300 -c shared_buffers=32MB" + (durable ? "" : " -c fsync=off"),
         "start"},
        output);
    if (status == 0) {
      Port = port;
      return;
    }
    Why = "pg_ctl start failed:\n" + output + "\nthe server's log:\n" + ReadAll(log);
  }
}

TPgCluster::~TPgCluster() {
  if (Folder.empty()) return;
  if (Port > 0) {
    std::vector<std::string> args;
    if (!User.empty()) args = {"runuser", "-u", User, "--"};
    const std::vector<std::string> stop = {
        PgBinFolder() + "/pg_ctl", "-D", Folder + "/data", "-m", "immediate", "-w", "stop"};
    args.insert(args.end(), stop.begin(), stop.end());
    std::string output;
    RunProgram(args, output);
  }
  std::error_code ignored;
  std::filesystem::remove_all(Folder, ignored);
}

std::string TPgCluster::Uri(const std::string& name) const {
  return "postgresql://pellorin@127.0.0.1:" + std::to_string(Port) + "/" + name;
}

std::string TPgCluster::NewDatabase() {
  if (!Started()) return {};
  const std::string name = "scores" + std::to_string(++Databases);
  std::unique_ptr<PGconn, void (*)(PGconn*)> c(PQconnectdb(Uri("postgres").c_str()), PQfinish);
  std::unique_ptr<PGresult, void (*)(PGresult*)> r(PQexec(c.get(), ("CREATE DATABASE " + name).c_str()),
                                                   PQclear);
  if (PQresultStatus(r.get()) != PGRES_COMMAND_OK) {
    Why = "CREATE DATABASE " + name + ": " + PQerrorMessage(c.get());
    return {};
  }
  return Uri(name);
}

int TPgCluster::Freeze(bool frozen) {
  if (!Started()) return 0;
  std::ifstream pidFile(Folder + "/data/postmaster.pid");
  pid_t postmaster = 0;
  if (!(pidFile >> postmaster) || postmaster <= 0) return 0;
  // The postmaster first, so that it starts no child the look below misses.
  int signalled = kill(postmaster, frozen ? SIGSTOP : SIGCONT) == 0 ? 1 : 0;
  std::vector<pid_t> pids;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    // /proc/PID/stat: "PID (NAME) STATE PPID ...", NAME possibly holding blanks and parentheses.
    const std::string stat = ReadAll(entry.path().string() + "/stat");
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) continue;
    char state = 0;
    int parent = 0;
    if (std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &parent) == 2 && parent == postmaster)
      pids.push_back(static_cast<pid_t>(std::atoi(name.c_str())));
  }
  for (pid_t pid : pids) signalled += kill(pid, frozen ? SIGSTOP : SIGCONT) == 0 ? 1 : 0;
  return signalled;
}

TPgCluster& SharedPgCluster() {
  static TPgCluster cluster;
  return cluster;
}
