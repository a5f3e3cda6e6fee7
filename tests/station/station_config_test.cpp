// The station's options from a service's configuration file, and the dashboard's address.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>

#include "tests/support/log_capture.h"
#include "tests/support/scoped_env.h"
#include "tools/gpsfwstation/cli/station_config.h"
#include "tools/gpsfwstation/cli/station_options.h"
#include "tools/gpsfwstation/http/http_address.h"

namespace gpsfw::station {
namespace {

using Args = std::vector<std::string>;

std::string Written(const test::TempDir& dir, const std::string& text) {
  const std::string path = dir.File("line.conf");
  std::ofstream(path) << text;
  return path;
}

TEST(StationConfig, EachLineIsAnOptionBeforeTheCommandLine) {
  test::TempDir dir;
  const std::string path = Written(dir,
                                   "# line 3, fixtures 1 to 8\n"
                                   "image = /srv/fw 2.bin\n"
                                   "\n"
                                   "ports=/dev/serial/by-path/*\n"
                                   "watch=yes\n"
                                   "plain=no\n"
                                   "http=:8080\r\n"
                                   "operator=line3\n");
  EXPECT_EQ(WithConfig({"--operator", "anna", "--config", path}),
            (Args{"--image", "/srv/fw 2.bin", "--ports", "/dev/serial/by-path/*", "--watch",
                  "--http", ":8080", "--operator", "line3", "--operator", "anna"}));
  const StationOptions options = ParseStationOptions({"--config=" + path, "--operator", "anna"});
  EXPECT_EQ(options.operatorName, "anna");  // the command line wins
  EXPECT_TRUE(options.watch);
  EXPECT_EQ(options.image, "/srv/fw 2.bin");
}

TEST(StationConfig, ALineItDoesNotKnowIsRefusedWithItsPlace) {
  test::TempDir dir;
  struct Case {
    std::string text;
    std::string message;
  } cases[] = {
      {"image=a.bin\ncolour=red\n", ":2: unknown key 'colour'"},
      {"watch=maybe\n", ":1: watch is yes or no, not 'maybe'"},
      {"image=\n", ":1: image needs a value"},
      {"just words\n", ":1: not key=value"},
      // A key given twice would silently flash the second image.
      {"image=a.bin\nwatch=yes\nimage=b.bin\n", ":3: image is given twice, on lines 1 and 3"},
      {"operator=a\noperator = a\n", ":2: operator is given twice, on lines 1 and 2"},
  };
  for (const Case& c : cases) {
    const std::string path = Written(dir, c.text);
    try {
      WithConfig({"--config", path});
      ADD_FAILURE() << c.text;
    } catch (const UsageError& e) {
      EXPECT_NE(std::string(e.what()).find(path + c.message), std::string::npos) << e.what();
    }
  }
  EXPECT_THROW(WithConfig({"--config", dir.File("missing.conf")}), UsageError);
}

TEST(StationConfig, ACommentAfterAValueIsNoPartOfIt) {
  test::TempDir dir;
  const std::string path = Written(dir,
                                   "operator=line1 # night shift\n"
                                   "image=/srv/fw#2.bin\t# the release of May\n"
                                   "ports=/dev/ttyUSB*\n"
                                   "ports=/dev/ttyACM*  #and the CDC ones\n"
                                   "watch=yes # all day\n");
  EXPECT_EQ(WithConfig({"--config", path}),
            (Args{"--operator", "line1", "--image", "/srv/fw#2.bin", "--ports", "/dev/ttyUSB*",
                  "--ports", "/dev/ttyACM*", "--watch"}));
}

// Only a regular file is read: a FIFO would hold the station for ever, a folder says nothing.
TEST(StationConfig, OnlyARegularFileIsRead) {
  test::TempDir dir;
  ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
  for (const std::string& path : {dir.File("fifo"), dir.path(), std::string("/dev/null")}) {
    try {
      WithConfig({"--config", path});
      ADD_FAILURE() << path;
    } catch (const UsageError& e) {
      EXPECT_EQ(std::string(e.what()), "--config: " + path + " is not a regular file");
    }
  }
}

TEST(HttpAddress, LoopbackUnlessAnAddressSaysOtherwise) {
  struct Case {
    std::string text;
    std::string host;
    int port;
    bool loopback;
  } cases[] = {
      {":8080", "127.0.0.1", 8080, true},       {"localhost:0", "127.0.0.1", 0, true},
      {"127.0.0.2:80", "127.0.0.2", 80, true},  {"[::1]:8080", "::1", 8080, true},
      {"0.0.0.0:8080", "0.0.0.0", 8080, false}, {"192.168.1.5:80", "192.168.1.5", 80, false},
      {"[::]:8080", "::", 8080, false},
  };
  for (const Case& c : cases) {
    const HttpAddress address = ParseHttpAddress(c.text);
    EXPECT_EQ(address.host, c.host) << c.text;
    EXPECT_EQ(address.port, c.port) << c.text;
    EXPECT_EQ(address.loopback, c.loopback) << c.text;
  }
  for (const char* bad : {"8080", ":65536", ":-1", "example.com:80", ":http"}) {
    EXPECT_THROW(ParseHttpAddress(bad), UsageError) << bad;
  }
}

TEST(HttpAddress, BeyondLoopbackOnlyWithAToken) {
  const Args base = {"-i", "fw.bin", "/dev/gps0", "--http", "0.0.0.0:8080"};
  {
    test::ScopedEnv none("GPSFW_HTTP_TOKEN", "");
    EXPECT_THROW(ParseStationOptions(base), UsageError);
    Args withToken = base;
    withToken.insert(withToken.end(), {"--http-token", "sixteen-chars-ok"});
    EXPECT_EQ(ParseStationOptions(withToken).httpToken, "sixteen-chars-ok");
  }
  test::ScopedEnv token("GPSFW_HTTP_TOKEN", "from-env-16-char");
  EXPECT_EQ(ParseStationOptions(base).httpToken, "from-env-16-char");
}

TEST(HttpAddress, AShortTokenIsRefusedWhereverItComesFrom) {
  test::ScopedEnv none("GPSFW_HTTP_TOKEN", "");
  const Args loopback = {"-i", "fw.bin", "/dev/gps0", "--http", ":8080"};
  for (const char* token : {"t", "fifteen-chars-x"}) {
    Args args = loopback;
    args.insert(args.end(), {"--http-token", token});
    try {
      ParseStationOptions(args);
      ADD_FAILURE() << token << " was taken";
    } catch (const UsageError& e) {
      EXPECT_NE(std::string(e.what()).find("at least 16"), std::string::npos) << e.what();
    }
  }
  test::ScopedEnv shortFromEnv("GPSFW_HTTP_TOKEN", "short");
  EXPECT_THROW(ParseStationOptions(loopback), UsageError);
  // Without a dashboard, a token in the environment is nobody's business.
  EXPECT_NO_THROW(ParseStationOptions({"-i", "fw.bin", "/dev/gps0"}));
}

}  // namespace
}  // namespace gpsfw::station
