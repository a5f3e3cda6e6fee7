#include "tests/front/front_run.h"

#include <stdlib.h>

#include <cstdio>
#include <filesystem>

#include "app/run_loader.h"
#include "front/front_end.h"
#include "sim/virtual_transport.h"
#include "tests/support/process.h"
#include "tests/support/scoped_env.h"

namespace gpsfw::test {
namespace {

std::FILE* OpenIf(bool wanted, const std::string& path) {
  return wanted ? std::fopen(path.c_str(), "w") : nullptr;
}

std::string CloseAndRead(std::FILE* file, const std::string& path) {
  if (file == nullptr) return "";
  std::fclose(file);
  return ReadFile(path);
}

}  // namespace

std::vector<std::string> SplitLines(const std::string& text, const std::string& separator) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(separator, start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + separator.size();
  }
  return lines;
}

FrontRun RunWithFrontEnd(const TempDir& dir, const sim::ReceiverConfig& config,
                         const std::string& image, const FrontViews& views) {
  std::filesystem::create_directories(dir.File("tmp"));
  // The loader's SFLD copy goes into the test's folder; the TMPDIR of whoever runs the tests
  // is back on every way out, so that a later test in this process finds its own.
  const ScopedEnv tmpDir("TMPDIR", dir.File("tmp"));
  // The console through an observer of the test's own, installed before the loader's front
  // end, which hands every call on to it: a terminal of the test's width.
  FrontEndOutputs outputs;
  outputs.consoleSetup = views.console;
  outputs.console = OpenIf(views.console.mode != ConsoleMode::kOff, dir.File("console"));
  const std::string log = dir.File("update.log");
  const std::string events = dir.File("events");
  const std::string trace = dir.File("trace");
  LoaderOptions options;
  options.image = image.c_str();
  options.port = "/dev/gps-sim";
  options.log = log.c_str();
  options.events = views.events ? events.c_str() : nullptr;
  options.trace = views.trace ? trace.c_str() : nullptr;
  options.quiet = true;

  FrontRun run;
  sim::Receiver receiver(config);
  sim::VirtualTransport transport(receiver);
  {
    sim::ScopedVirtualTransport installed(transport);
    FrontEnd console;
    console.Attach(image.c_str(), "/dev/gps-sim", outputs);
    console.Install();
    // As the loader's entry sets it up.
    FrontEnd front;
    if (!front.Configure(options, RunLogPath(options))) return run;
    front.Install();
    run.code = RunLoader(options);
    run.log = SplitLines(ReadFile(log), "\r\n");
    run.virtualSeconds = static_cast<double>(transport.NowNs()) / 1e9;
  }
  run.console = CloseAndRead(outputs.console, dir.File("console"));
  if (views.events) run.events = ReadFile(events);
  if (views.trace) run.trace = ReadFile(trace);
  run.result = receiver.Result();
  run.wire = transport.Wire();
  return run;
}

CheckRun RunCheck(const TempDir& dir, const std::string& image,
                  const std::string& sfldBesideProgram, bool json) {
  // A copy of the loader of its own, so that "sfld.hex" can lie beside it.
  const std::string program = dir.File("bin/gpsfwload");
  std::filesystem::create_directories(dir.File("bin"));
  if (!std::filesystem::exists(program)) {
    std::filesystem::copy_file(std::string(GPSFW_BUILD_DIR) + "/bin/gpsfwload", program);
  }
  std::filesystem::remove(dir.File("bin/sfld.hex"));
  if (!sfldBesideProgram.empty()) {
    std::filesystem::copy_file(sfldBesideProgram, dir.File("bin/sfld.hex"));
  }
  std::filesystem::create_directories(dir.File("tmp"));
  setenv("TMPDIR", dir.File("tmp").c_str(), 1);
  const std::string log = dir.File("check.log");
  CheckRun run;
  // A port that does not exist: --check opens none.
  std::vector<std::string> arguments = {"--check", "-i", image, "-p", dir.File("no-such-port"),
                                        "-l",      log};
  if (json) arguments.push_back("--json");
  ChildProcess child(Started(program, arguments), dir.File("check"));
  run.status = child.Wait(60);
  unsetenv("TMPDIR");
  run.report = ReadFile(dir.File("check"));
  run.log = SplitLines(ReadFile(log), "\r\n");
  return run;
}

}  // namespace gpsfw::test
