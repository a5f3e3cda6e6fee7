// How a --watch station's memory grows with the units it has ended: a week of a line (60,000
// units, one every 10 s) must stay within 16 MiB of the start.
//
// The station runs for real (its loop, its views, the record in SQLite and the dashboard when
// asked), against a fast stand-in loader: this very program, which the station starts with
// --loader, writes a short log and a done event and ends at once. The ports are plain files
// in a folder that the bench makes and removes again, so that --watch sees a new connection
// on every port each round. The station's resident memory (VmRSS) is read from /proc after
// the first 1,000 units (the start, once its allocations have settled) and every 1,000 units
// after.
//
// Usage: station_memory [--units N] [--ports N] [--db] [--http]
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "bench/spawn_program.h"

namespace {

using Steady = std::chrono::steady_clock;

// The stand-in loader: the station's check of the image passes, and an update completes at
// once with its log and its events, as a real loader's would end.
int ActAsLoader(int argc, char** argv) {
  std::string log;
  bool check = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--check") == 0) check = true;
    if (std::strcmp(argv[i], "-l") == 0 && i + 1 < argc) log = argv[i + 1];
  }
  if (std::FILE* out = std::fopen(log.c_str(), "w")) {
    for (int line = 0; line < 40; ++line) {
      std::fprintf(out, "Programming flash record %d of 40: 512 bytes at 0x%06X\r\n", line,
                   line * 512);
    }
    std::fputs("RetCode: 0\r\n", out);
    std::fclose(out);
  }
  if (check) return 0;
  std::puts("{\"t\":0.01,\"type\":\"start\",\"bytes\":20480,\"sfld_bytes\":1024}");
  std::puts("{\"t\":0.02,\"type\":\"phase\",\"phase\":\"programming\"}");
  std::puts(
      "{\"t\":0.05,\"type\":\"done\",\"code\":0,\"duration\":0.05,\"bytes\":20480,"
      "\"retries\":0}");
  return 0;
}

pid_t Spawn(const std::vector<std::string>& args, const std::string& outputPath = "/dev/null") {
  return gpsfw::bench::SpawnProgram(args, outputPath);
}

long RssKiB(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

// The units the station has ended so far, from its report (rewritten after each one).
long Ended(const std::string& report) {
  std::ifstream in(report);
  const nlohmann::json j = nlohmann::json::parse(in, nullptr, false);
  if (j.is_discarded() || !j.contains("totals")) return -1;
  return j["totals"]["updates"].get<long>() - j["totals"]["running"].get<long>();
}

void RemoveLogs(const std::string& dir) {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() == ".log" && name != "image-check.log") {
      std::filesystem::remove(entry.path(), ec);
    }
  }
}

struct Settings {
  long units = 60000;
  int ports = 128;
  bool db = false;
  bool http = false;
};

bool Parse(int argc, char** argv, Settings& s) {
  for (int i = 1; i < argc; ++i) {
    const bool value = i + 1 < argc;
    if (std::strcmp(argv[i], "--units") == 0 && value) {
      s.units = std::atol(argv[++i]);
    } else if (std::strcmp(argv[i], "--ports") == 0 && value) {
      s.ports = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--db") == 0) {
      s.db = true;
    } else if (std::strcmp(argv[i], "--http") == 0) {
      s.http = true;
    } else {
      return false;
    }
  }
  return s.units >= 2000 && s.ports > 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && (std::strcmp(argv[1], "-q") == 0 || std::strcmp(argv[1], "--check") == 0)) {
    return ActAsLoader(argc, argv);
  }
  Settings s;
  if (!Parse(argc, argv, s)) {
    std::fputs("usage: station_memory [--units N (2000 or more)] [--ports N] [--db] [--http]\n",
               stderr);
    return 2;
  }
  char dirTemplate[] = "/tmp/gpsfw-station-memory-XXXXXX";
  const std::string dir = mkdtemp(dirTemplate);
  const std::string ports = dir + "/ports";
  std::filesystem::create_directories(ports);
  std::ofstream(dir + "/fw.bin") << std::string(4096, 'F');
  char self[4096] = {};
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return 1;
  std::vector<std::string> args = {std::string(GPSFW_BIN_DIR) + "/gpsfwstation",
                                   "--watch",
                                   "--settle",
                                   "0",
                                   "--plain",
                                   "--ports",
                                   ports + "/gps*",
                                   "-i",
                                   dir + "/fw.bin",
                                   "--log-dir",
                                   dir + "/logs",
                                   "--report",
                                   dir + "/report.json",
                                   "--loader",
                                   self};
  if (s.db) args.insert(args.end(), {"--db", dir + "/record.db"});
  if (s.http) args.insert(args.end(), {"--http", "127.0.0.1:0"});
  const pid_t station = Spawn(args, dir + "/station.out");
  std::printf("%ld units on %d ports%s%s; RSS of the station in KiB\n", s.units, s.ports,
              s.db ? ", record in SQLite" : "", s.http ? ", dashboard on" : "");
  std::printf("%8s %10s %10s %9s\n", "units", "RSS", "growth", "seconds");
  const auto start = Steady::now();
  long startRss = -1;
  long next = 1000;
  long done = 0;
  for (long round = 0; done < s.units; ++round) {
    const long target = (round + 1) * s.ports;
    for (int p = 0; p < s.ports; ++p) std::ofstream(ports + "/gps" + std::to_string(p));
    const auto deadline = Steady::now() + std::chrono::seconds(60);
    while ((done = Ended(dir + "/report.json")) < target && Steady::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (done < target) {
      std::printf("the station stopped ending units at %ld (see %s)\n", done, dir.c_str());
      kill(station, SIGKILL);
      return 1;
    }
    for (int p = 0; p < s.ports; ++p) std::filesystem::remove(ports + "/gps" + std::to_string(p));
    RemoveLogs(dir + "/logs");
    while (done >= next) {
      const long rss = RssKiB(station);
      if (startRss < 0) startRss = rss;
      std::printf("%8ld %10ld %+10ld %9.0f\n", done, rss, rss - startRss,
                  std::chrono::duration<double>(Steady::now() - start).count());
      std::fflush(stdout);
      next += 1000;
    }
  }
  const long endRss = RssKiB(station);
  const double thousands = static_cast<double>(done - 1000) / 1000;
  std::printf("growth: %+ld KiB over %ld units after the first 1,000 (%+.1f KiB per 1,000)\n",
              endRss - startRss, done - 1000, static_cast<double>(endRss - startRss) / thousands);
  std::printf("goal: 60,000 units within 16 MiB (16384 KiB) of the start\n");
  kill(station, SIGTERM);
  int status = 0;
  waitpid(station, &status, 0);
  std::filesystem::remove_all(dir);
  return 0;
}
