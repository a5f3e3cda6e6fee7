#pragma once

// A PostgreSQL server of the test's own: Debian's server programs, a cluster in a temporary
// folder, listening on a Unix socket in that folder only. As root (CI) the server runs as the
// package's "postgres" user, since the server refuses to run as root.
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/support/log_capture.h"

namespace gpsfw::test {

class PgServer {
 public:
  explicit PgServer(const TempDir& dir) : dir_(dir.File("pg")) {
    std::filesystem::create_directories(dir_);
    std::filesystem::permissions(dir.path(), std::filesystem::perms::all,
                                 std::filesystem::perm_options::add);
    const bool root = getuid() == 0;
    user_ = root ? "postgres" : (getpwuid(getuid()) ? getpwuid(getuid())->pw_name : "");
    if (root) Shell("chown postgres " + dir_);
    port_ = 20000 + getpid() % 20000;
    ok_ =
        Shell(As() + Bin("initdb") + " -A trust -U " + user_ + " -D " + dir_ + "/data") && Start();
  }
  ~PgServer() { Stop(); }

  bool Ok() const { return ok_; }
  std::string ConnInfo() const {
    return "host=" + dir_ + " port=" + std::to_string(port_) + " dbname=postgres user=" + user_;
  }
  bool Start() {
    return Shell(As() + Bin("pg_ctl") + " -w -t 60 -D " + dir_ + "/data -l " + dir_ +
                 "/server.log -o \"-k " + dir_ + " -p " + std::to_string(port_) +
                 " -c listen_addresses=''\" start");
  }
  bool Stop() {
    return Shell(As() + Bin("pg_ctl") + " -w -t 60 -D " + dir_ + "/data -m fast stop");
  }
  // A query's rows as psql prints them unaligned, one per line.
  std::string Query(const std::string& sql) const {
    const std::string out = dir_ + "/query.out";
    const std::string command = As() + "psql -X -A -t -q -h " + dir_ + " -p " +
                                std::to_string(port_) + " -U " + user_ + " -d postgres -c \"" +
                                sql + "\" > " + out + " 2>/dev/null";
    if (std::system(command.c_str()) != 0) return "";
    return ReadFile(out);
  }

 private:
  // The server's programs of whichever major version Debian installed.
  static std::string Bin(const std::string& program) {
    std::error_code ec;
    for (const auto& version : std::filesystem::directory_iterator("/usr/lib/postgresql", ec)) {
      const std::filesystem::path path = version.path() / "bin" / program;
      if (std::filesystem::exists(path)) return path.string();
    }
    return program;
  }
  std::string As() const { return getuid() == 0 ? "runuser -u postgres -- " : ""; }
  static bool Shell(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
  }

  std::string dir_;
  std::string user_;
  int port_ = 0;
  bool ok_ = false;
};

}  // namespace gpsfw::test
