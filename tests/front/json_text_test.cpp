// JSON text written without a JSON library: every string a parser reads back as meant.
#include <gtest/gtest.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "front/json_text.h"
#include "tests/support/log_capture.h"

namespace gpsfw::test {
namespace {

std::string Written(void (*write)(std::FILE*, const std::string&), const std::string& value) {
  TempDir dir;
  const std::string path = dir.File("out");
  std::FILE* out = std::fopen(path.c_str(), "w");
  write(out, value);
  std::fclose(out);
  return ReadFile(path);
}

void AsString(std::FILE* out, const std::string& value) {
  WriteJsonString(out, value.data(), value.size());
}

TEST(JsonTextTest, StringsAreEscapedSoThatAParserReadsThemBack) {
  struct Case {
    std::string raw;
    std::string written;  // the JSON text
    std::string read;     // what a parser makes of it (UTF-8)
  };
  const std::vector<Case> cases = {
      {"plain /dev/ttyUSB0", "\"plain /dev/ttyUSB0\"", "plain /dev/ttyUSB0"},
      {"a\"b\\c", "\"a\\\"b\\\\c\"", "a\"b\\c"},
      {std::string("\x01\n\t\x1f", 4), "\"\\u0001\\u000A\\u0009\\u001F\"", "\x01\n\t\x1f"},
      {std::string("nul\0end", 7), "\"nul\\u0000end\"", std::string("nul\0end", 7)},
      {"gr\xc3\xbc\xc3\x9f \xe2\x82\xac \xf0\x9f\x93\xa1",
       "\"gr\xc3\xbc\xc3\x9f \xe2\x82\xac \xf0\x9f\x93\xa1\"",
       "gr\xc3\xbc\xc3\x9f \xe2\x82\xac \xf0\x9f\x93\xa1"},
      // Bytes that are no UTF-8 are read as Latin-1: 0xFC is U+00FC.
      {"gr\xfc\xdf", "\"gr\\u00FC\\u00DF\"", "gr\xc3\xbc\xc3\x9f"},
      {"\xc3", "\"\\u00C3\"", "\xc3\x83"},                                        // cut short
      {"\xc0\xaf", "\"\\u00C0\\u00AF\"", "\xc3\x80\xc2\xaf"},                     // overlong '/'
      {"\xed\xa0\x80", "\"\\u00ED\\u00A0\\u0080\"", "\xc3\xad\xc2\xa0\xc2\x80"},  // surrogate
      {"\xf4\x90\x80\x80", "\"\\u00F4\\u0090\\u0080\\u0080\"", "\xc3\xb4\xc2\x90\xc2\x80\xc2\x80"},
  };
  for (const Case& c : cases) {
    const std::string text = Written(AsString, c.raw);
    EXPECT_EQ(text, c.written);
    EXPECT_EQ(nlohmann::json::parse(text).get<std::string>(), c.read) << text;
  }
}

TEST(JsonTextTest, ALineIsOneObjectWithTimeAndType) {
  const std::string text = Written(
      [](std::FILE* out, const std::string&) {
        const char* names[] = {"CE_FRAME", "CE_OVERRUN"};
        JsonLine(out, 12345678, "line_error")
            .Int("flags", -10)
            .Address("address", 0x1000ABCD)
            .Seconds("duration", 7)
            .Texts("names", names, 2)
            .Texts("none", names, 0)
            .Text("port", nullptr);
      },
      "");
  EXPECT_EQ(text,
            "{\"t\":12.345678,\"type\":\"line_error\",\"flags\":-10,\"address\":\"0x1000ABCD\","
            "\"duration\":0.000007,\"names\":[\"CE_FRAME\",\"CE_OVERRUN\"],\"none\":[],"
            "\"port\":\"\"}\n");
  EXPECT_TRUE(nlohmann::json::accept(text));
}

}  // namespace
}  // namespace gpsfw::test
