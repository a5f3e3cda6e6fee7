#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "platform/paths.h"
#include "platform/text.h"
#include "platform/win32/win32_text.h"

namespace gpsfw::platform {
namespace {

TEST(Win32DevicePathForPort, MapsPortNamesIntoTheDeviceNamespace) {
  const struct {
    const char* name;
    const char* device;
  } cases[] = {
      {"COM1:", "\\\\.\\COM1"},
      {"com12:", "\\\\.\\COM12"},
      {"GPS1:", "\\\\.\\GPS1"},
      {"Gps3:", "\\\\.\\GPS3"},
      {"\\\\.\\COM7", "\\\\.\\COM7"},
      {"COM1", "COM1"},      // no colon: used as given
      {"COM0:", "COM0:"},    // ports count from 1
      {"COM1:x", "COM1:x"},  // something after the colon
      {"GPS99999:", "GPS99999:"},
  };
  for (const auto& c : cases) {
    char out[64];
    ASSERT_TRUE(DevicePathForPort(c.name, out, sizeof out)) << c.name;
    EXPECT_STREQ(out, c.device) << c.name;
  }
  char tight[9];
  EXPECT_TRUE(DevicePathForPort("COM1:", tight, sizeof tight));
  EXPECT_FALSE(DevicePathForPort("COM10:", tight, sizeof tight));
}

TEST(Win32ModuleFileName, NamesThisProgramWithForwardSlashes) {
  char out[4096];
  ModuleFileName(out, sizeof out);
  const std::string path = out;
  EXPECT_NE(path.find("/test_platform.exe"), std::string::npos) << path;
  EXPECT_EQ(path.find('\\'), std::string::npos) << path;
  EXPECT_EQ(path[1], ':') << path;

  char tiny[4] = "xyz";
  ModuleFileName(tiny, sizeof tiny);
  EXPECT_STREQ(tiny, "") << "a cut path would name another file";

  OverrideModuleFileName("C:/loader/gpsfwload.exe");
  ModuleFileName(out, sizeof out);
  EXPECT_STREQ(out, "C:/loader/gpsfwload.exe");
  OverrideModuleFileName(nullptr);
}

TEST(Win32TempDirectory, IsTheUsersTemporaryFolderWithItsSeparator) {
  char out[MAX_PATH * 3];
  TempDirectory(out, sizeof out);
  const std::string dir = out;
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), '\\');
  const DWORD attributes = ::GetFileAttributesA(out);
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES) << dir;
  EXPECT_NE(attributes & FILE_ATTRIBUTE_DIRECTORY, 0u) << dir;

  char tiny[3] = "ab";
  TempDirectory(tiny, sizeof tiny);
  EXPECT_STREQ(tiny, "");
}

TEST(Win32Text, ConvertsThroughTheAnsiCodePageAndCutsWholeCharacters) {
  char narrow[32];
  EXPECT_EQ(NarrowFromWide(narrow, sizeof narrow, L"RetCode: -3"), 11u);
  EXPECT_STREQ(narrow, "RetCode: -3");
  wchar_t wide[32];
  EXPECT_EQ(WideFromNarrow(wide, 32, "Z:/tmp/demo.bin"), 15u);
  EXPECT_STREQ(wide, L"Z:/tmp/demo.bin");

  // Too long: as much as fits, always terminated, never past the capacity.
  char cut[6] = {'x', 'x', 'x', 'x', 'x', 'x'};
  EXPECT_EQ(NarrowFromWide(cut, 5, L"Address:0x10000000."), 4u);
  EXPECT_STREQ(cut, "Addr");
  EXPECT_EQ(cut[5], 'x');
  wchar_t wideCut[6] = {L'x', L'x', L'x', L'x', L'x', L'x'};
  EXPECT_EQ(WideFromNarrow(wideCut, 5, "Address:0x10000000."), 4u);
  EXPECT_STREQ(wideCut, L"Addr");
  EXPECT_EQ(wideCut[5], L'x');
  EXPECT_EQ(NarrowFromWide(narrow, 0, L"x"), 0u);
  EXPECT_EQ(WideFromNarrow(wide, 0, "x"), 0u);
}

TEST(Win32Text, ExactConversionRefusesStandIns) {
  char out[64];
  EXPECT_TRUE(NarrowExactly(out, sizeof out, L"C:\\images\\fw.bin"));
  EXPECT_STREQ(out, "C:\\images\\fw.bin");
  // A lone surrogate has no form in any code page: '?' would name another file.
  const wchar_t lone[] = {L'a', static_cast<wchar_t>(0xD800), L'b', 0};
  EXPECT_FALSE(NarrowExactly(out, sizeof out, lone));
  EXPECT_STREQ(out, "");
  EXPECT_FALSE(NarrowExactly(out, 4, L"fw.bin")) << "does not fit";
  if (::GetACP() == 1252) {
    // U+0100 has a look-alike ('A') in Windows-1252 but no form of its own.
    EXPECT_FALSE(NarrowExactly(out, sizeof out, L"\u0100.bin"));
    EXPECT_TRUE(NarrowExactly(out, sizeof out, L"\u00e9t\u00e9.bin"));
    EXPECT_STREQ(out, "\xe9t\xe9.bin");
  }
}

}  // namespace
}  // namespace gpsfw::platform
