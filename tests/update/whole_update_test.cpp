// Whole updates: the real run sequence, command line to last record, against the receiver
// model in virtual time.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "protocol/link_codes.h"
#include "protocol/record_packet.h"
#include "tests/update/update_run.h"

namespace gpsfw::test {
namespace {

using Lines = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;
using sim::Direction;
using sim::ReceiverConfig;
using sim::RecordPoint;
using sim::Stage;

// Sample parts: a 4 KiB PFLD and a 12 KiB FW; programmed bytes 0x10000000..0x10007000.
constexpr int kPfldSize = 4096;
constexpr int kFwSize = 12 * 1024;
constexpr uint32_t kProgrammedEnd = 0x10007000;
[[maybe_unused]] constexpr int kFlashRecords = 14;
const std::string kVerified = "flash verified: 28672 bytes match";

class WholeUpdate : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    images_ = new ImageFiles(MakeImages(*dir_, kPfldSize, kFwSize));
  }
  static void TearDownTestSuite() {
    delete images_;
    delete dir_;
  }
  UpdateRun Run(const ReceiverConfig& config, const std::string& image,
                const std::string& sfld = "") {
    return RunUpdate(runDir, config, image, sfld);
  }
  static const ImageFiles& Images() { return *images_; }

  TempDir runDir;
  static TempDir* dir_;
  static ImageFiles* images_;
};

TempDir* WholeUpdate::dir_ = nullptr;
ImageFiles* WholeUpdate::images_ = nullptr;

Lines AddressLines(uint32_t start, uint32_t end) {
  Lines lines;
  char text[32];
  for (uint32_t a = start; a < end; a += kMaxRecordData) {
    std::snprintf(text, sizeof text, "Address:0x%08X.", a);
    lines.push_back(text);
  }
  lines.push_back("Address:0x00000000.");
  return lines;
}

Lines Concat(std::initializer_list<Lines> parts) {
  Lines all;
  for (const Lines& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// What the host sends in one flash stage that runs through: queries, boot mode, the erase
// command and record, every record announced by SYNC_CODE, the end record.
Bytes FlashStageBytes(const std::string& programmed) {
  Bytes bytes = {VER_QUERY_CODE, TYPE_QUERY_CODE, BOOT_MODE_CODE, SYNC_CODE, ERASE_CODE};
  auto packet = std::make_unique<RecordPacket>();
  auto send = [&] {
    bytes.push_back(SYNC_CODE);
    bytes.insert(bytes.end(), packet->frame, packet->frame + packet->length);
  };
  MakeEraseRecord(*packet, PFLD_BASE, PFLD_BASE + static_cast<uint32_t>(programmed.size()));
  send();
  for (size_t offset = 0; offset < programmed.size(); offset += kMaxRecordData) {
    *packet = RecordPacket{};
    Reset(*packet);
    std::vector<uint16_t> data;
    for (size_t i = offset; i < std::min(programmed.size(), offset + kMaxRecordData); ++i) {
      data.push_back(static_cast<uint8_t>(programmed[i]));
    }
    Append(*packet, PFLD_BASE + static_cast<uint32_t>(offset), static_cast<uint16_t>(data.size()),
           data.data());
    Seal(*packet);
    send();
  }
  MakeEndRecord(*packet);
  send();
  return bytes;
}

Bytes HostBytesAt(const UpdateRun& run, uint32_t baud) {
  Bytes bytes;
  for (const sim::WireEvent& e : run.wire) {
    if (e.direction == Direction::kHostToTarget && e.senderBaud == baud) bytes.push_back(e.byte);
  }
  return bytes;
}

std::string Path(const std::string& line, const std::string& path) {
  return line.substr(0, line.find('%')) + path + line.substr(line.find('%') + 2);
}

TEST_F(WholeUpdate, BinaryImageWithSfldTailLogsEveryStepInOrder) {
  const UpdateRun run = Run(ReceiverConfig(), Images().container);
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(run.verification, kVerified);
  const Lines expected = Concat({
      {"GPS FW Loader v1.0.0 ",
       "Opening SFLD ...",
       "SFLD section found",
       "Complete",
       Path("Opening '%s' ...", Images().container),
       "Image type: Binary",
       "PFLD section found at: 0x10000000, 0x10001000",
       "PFLD CRC: 0x77d29272 PASSED.",
       "FW   section found at: 0x10004000, 0x10007000",
       "FW CRC: 0x44499086 PASSED.",
       "PFLD mode ... On",
       "Complete",
       "Image Start address: 0x00000000",
       "Image Entry point: 0x00000000",
       "Image Size: 2048 bytes",
       "Waiting for target answer at 19200...",
       "BL 2.04.",
       "Wait for REC_WAIT_CODE.",
       "Ask PFLD version.",
       "Uploading SFLD..."},
      AddressLines(0x00000000, 0x00000800),
      {"Complete.", "Wait for SFLD", "SFLD 1.10.", "TypeID:5", "Entering boot mode...", "Complete",
       "FLASHProgram Begin", "Erasing FLASH...", "Address:0x10000000.", "1 sectors erased.",
       "2 sectors erased.", "3 sectors erased.", "4 sectors erased.", "5 sectors erased.",
       "FLASH erasing complete.", "Complete.", "FLASH Programming..."},
      AddressLines(PFLD_BASE, kProgrammedEnd),
      {"FLASH Programing Complete.", "FLASH upload complete.", "RetCode: 0"},
  });
  EXPECT_EQ(run.log, expected);
}

TEST_F(WholeUpdate, LineSpeedsAndFlashStageBytesOnTheWire) {
  const UpdateRun run = Run(ReceiverConfig(), Images().container);
  const Bytes wake(WAKE_SEQUENCE, WAKE_SEQUENCE + sizeof WAKE_SEQUENCE);
  EXPECT_EQ(HostBytesAt(run, 4800), wake);
  EXPECT_EQ(HostBytesAt(run, 57600), wake);
  const std::string programmed = ReadFile(Images().bare).substr(0, kProgrammedEnd - PFLD_BASE);
  EXPECT_EQ(HostBytesAt(run, 115200), FlashStageBytes(programmed));
  std::vector<std::string> phases;
  for (const sim::Phase& p : run.result.phases)
    phases.push_back(p.name + "@" + std::to_string(p.baud));
  EXPECT_EQ(phases,
            (Lines{"application@57600", "boot loader@19200", "SFLD upload@19200", "SFLD@19200",
                   "flash commands@115200", "erase@115200", "programming@115200"}));
  ASSERT_EQ(run.result.erases.size(), 1u);
  EXPECT_EQ(run.result.erases[0].start, PFLD_BASE);
  EXPECT_EQ(run.result.erases[0].end, kProgrammedEnd);
  EXPECT_TRUE(run.result.flashFaults.empty());
}

TEST_F(WholeUpdate, BinaryImageWithoutTailTakesSfldBesideTheProgram) {
  const UpdateRun run = Run(ReceiverConfig(), Images().bare, Images().sfld);
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(run.verification, kVerified);
  EXPECT_TRUE(InOrder(
      run.log, {"Opening SFLD ...", "SFLD section skipped", "Complete", "Image type: Binary",
                "PFLD mode ... On", "Uploading SFLD...", "FLASH upload complete.", "RetCode: 0"}));
}

TEST_F(WholeUpdate, SRecordImageIsErasedOverItsWholeExtent) {
  const UpdateRun run = Run(ReceiverConfig(), Images().srec, Images().sfld);
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(run.verification, kVerified);
  EXPECT_TRUE(InOrder(run.log, {"SFLD section skipped", "Image type: Motorola S-Record",
                                "Image Start address: 0x10000000", "Image Entry point: 0x10000000",
                                "Image Size: 28672 bytes", "PFLD mode ... On", "Complete",
                                "Entering boot mode...", "FLASH upload complete."}));
  ASSERT_EQ(run.result.erases.size(), 1u);
  EXPECT_EQ(run.result.erases[0].end, kProgrammedEnd);
  EXPECT_TRUE(run.result.flashFaults.empty());
}

TEST_F(WholeUpdate, ReceiverPoweredOnAtEitherRate) {
  for (uint32_t baud : {4800u, 57600u}) {
    ReceiverConfig config;
    config.powerOnBaud = baud;
    const UpdateRun run = Run(config, Images().container);
    EXPECT_EQ(run.code, 0) << baud;
    EXPECT_EQ(run.verification, kVerified) << baud;
    ASSERT_FALSE(run.result.phases.empty());
    EXPECT_EQ(run.result.phases[0].baud, baud);
  }
}

struct FailureCase {
  const char* name;
  void (*configure)(ReceiverConfig&);
  Lines logged;  // in this order, followed by a complete update
};

TEST_F(WholeUpdate, EveryFailureTheReceiverCanCauseEndsInACompleteUpdate) {
  const std::vector<FailureCase> cases = {
      {"SFLD record rejected: bad checksum",
       [](ReceiverConfig& c) {
         c.faults.rejects.push_back({{Stage::kSfld, 0}, BAD_CSUM});
       },
       {"Uploading SFLD...", "ERROR: BAD_CSUM", "Repeat Sending Record.", "Uploading SFLD..."}},
      {"SFLD record rejected: bad length",
       [](ReceiverConfig& c) {
         c.faults.rejects.push_back({{Stage::kSfld, 0}, BAD_LENGTH});
       },
       {"ERROR: BAD_LENGTH", "Repeat Sending Record.", "Uploading SFLD..."}},
      {"SFLD record rejected: bad command",
       [](ReceiverConfig& c) {
         c.faults.rejects.push_back({{Stage::kSfld, 0}, BAD_COMMAND});
       },
       {"ERROR: BAD_COMMAND", "Repeat Sending Record.", "Uploading SFLD..."}},
      {"SFLD record rejected: time-out",
       [](ReceiverConfig& c) {
         c.faults.rejects.push_back({{Stage::kSfld, 0}, RECORD_TIMEOUT});
       },
       {"ERROR: RECORD_TIMEOUT", "Repeat Sending Record.", "Uploading SFLD..."}},
      {"SFLD record rejected: no end mark",
       [](ReceiverConfig& c) {
         c.faults.rejects.push_back({{Stage::kSfld, 0}, NO_REC_END});
       },
       {"ERROR: NO_REC_END", "Repeat Sending Record.", "Uploading SFLD..."}},
      {"SFLD end record rejected",
       [](ReceiverConfig& c) {
         c.faults.rejects.push_back({{Stage::kSfld, sim::kEndRecord}, BAD_CSUM});
       },
       {"Address:0x00000000.", "ERROR: BAD_CSUM", "Repeat Sending Record.", "Uploading SFLD..."}},
      {"REC_WAIT flood",
       [](ReceiverConfig& c) {
         c.faults.floods.push_back({{Stage::kSfld, 0}, 201});
       },
       {"Uploading SFLD...", "REC_WAIT break", "Address:0x00000000."}},
      {"silence in mid-upload",
       [](ReceiverConfig& c) {
         c.faults.silences.push_back({{Stage::kSfld, 0}, sim::SilenceWhen::kBeforeVerdict, 40000});
       },
       {"Uploading SFLD...", "Repeat Sending Record.", "Uploading SFLD..."}},
      {"boot-mode echo missing",
       [](ReceiverConfig& c) { c.faults.missingBootModeEchoes = 1; },
       {"Entering boot mode...", "Failed", "FLASH upload failed.", "Entering boot mode...",
        "Complete"}},
      {"no SYNC_CODE after ERASE_CODE",
       [](ReceiverConfig& c) { c.faults.missingEraseSyncs = 1; },
       {"FLASHProgram Begin", "Erasing FLASH...", "FLASH upload failed.", "FLASHProgram Begin"}},
      {"erase fault",
       [](ReceiverConfig& c) {
         c.faults.eraseFaults.push_back({2, ERASE_FAIL_CODE});
       },
       {"1 sectors erased.", "2 sectors erased.", "Flash erase failure.", "FLASH upload failed.",
        "Erasing FLASH...", "FLASH erasing complete."}},
      {"unknown byte during the erase",
       [](ReceiverConfig& c) {
         c.faults.eraseFaults.push_back({1, 0x81});
       },
       {"1 sectors erased.", "Unknown command 0x81.", "FLASH erase failure.",
        "FLASH upload failed.", "FLASH erasing complete."}},
      {"data record rejected",
       [](ReceiverConfig& c) {
         c.faults.rejects.push_back({{Stage::kFlash, 3}, BAD_CSUM});
       },
       {"FLASH Programming...", "Address:0x10001000.", "ERROR: BAD_CSUM", "Repeat Sending Record.",
        "FLASH upload failed.", "FLASH Programming..."}},
      {"flash end record rejected",
       [](ReceiverConfig& c) {
         c.faults.rejects.push_back({{Stage::kFlash, sim::kEndRecord}, NO_REC_END});
       },
       {"Address:0x10006800.", "ERROR: NO_REC_END", "Repeat Sending Record.",
        "FLASH upload failed.", "FLASH Programming..."}},
  };
  for (const FailureCase& c : cases) {
    ReceiverConfig config;
    c.configure(config);
    const UpdateRun run = Run(config, Images().container);
    EXPECT_EQ(run.code, 0) << c.name;
    EXPECT_EQ(run.verification, kVerified) << c.name;
    EXPECT_TRUE(run.result.flashFaults.empty()) << c.name;
    EXPECT_TRUE(InOrder(run.log, c.logged)) << c.name;
    ASSERT_GE(run.log.size(), 2u);
    EXPECT_EQ(run.log[run.log.size() - 2], "FLASH upload complete.") << c.name;
    EXPECT_EQ(Count(run.log, "FLASH upload complete."), 1) << c.name;
  }
}

TEST_F(WholeUpdate, FailedFlashStageRewritesTheWholeImage) {
  ReceiverConfig config;
  config.faults.rejects.push_back({{Stage::kFlash, 10}, BAD_CSUM});
  const UpdateRun run = Run(config, Images().container);
  EXPECT_EQ(run.verification, kVerified);
  EXPECT_EQ(run.result.flashAttempts, 2);
  EXPECT_EQ(run.result.erases.size(), 2u);
  const Lines records = AddressLines(PFLD_BASE, kProgrammedEnd);
  EXPECT_EQ(Count(run.log, records.front()), 2 + 2) << "erase and first record, twice";
}

TEST_F(WholeUpdate, ReceiverPowerCycledMidUploadAndMidProgrammingIsWokenAgain) {
  struct Case {
    const char* name;
    RecordPoint at;
    int expectedUploads;
  };
  const std::vector<Case> cases = {
      {"reset during the SFLD upload", {Stage::kSfld, 0}, 2},
      {"reset during programming", {Stage::kFlash, 5}, 2},
      {"reset before the SFLD ran", {Stage::kSfld, sim::kEndRecord}, 2},
  };
  for (const Case& c : cases) {
    ReceiverConfig config;
    config.faults.resets.push_back({c.at, sim::ResetTo::kApplication});
    const UpdateRun run = Run(config, Images().container, "");
    EXPECT_EQ(run.code, 0) << c.name;
    EXPECT_EQ(run.verification, kVerified) << c.name;
    EXPECT_EQ(run.result.sfldUploads, c.expectedUploads) << c.name;
    EXPECT_EQ(Count(run.log, "Uploading SFLD..."), c.expectedUploads) << c.name;
    // A power cycle leaves the receiver's application listening for the wake sequence only.
    EXPECT_EQ(Count(run.log, "Waiting for target answer at 19200..."), 2) << c.name;
  }
}

TEST_F(WholeUpdate, ChatterAndGarbageWhilePolling) {
  ReceiverConfig config;
  config.chatter = true;
  config.faults.garbagePerSecond = 20;
  const UpdateRun run = Run(config, Images().container);
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(run.verification, kVerified);
  EXPECT_TRUE(InOrder(run.log, {"Waiting for target answer at 19200...", "Uploading SFLD...",
                                "FLASH upload complete."}));
}

TEST_F(WholeUpdate, VersionAndTypeReplies) {
  struct Case {
    const char* name;
    std::string sfldVersion;
    Bytes typeReply;
    Lines logged;
    bool typeLine;
  };
  const std::vector<Case> cases = {
      {"$VER after other bytes", "\x01xy$VER SFLD 3.0\r\n", {}, {"SFLD 3.0.", "TypeID:5"}, true},
      {"TypeID 0", "$VER S 1\r\n", {TYPE_QUERY_CODE}, {"S 1.", "TypeID:0"}, true},
      {"TypeID -1", "$VER S 1\r\n", {TYPE_QUERY_CODE, 0xFF}, {"TypeID:-1"}, true},
      {"TypeID 5 behind other bytes",
       "$VER S 1\r\n",
       {0x33, TYPE_QUERY_CODE, 5},
       {"TypeID:5"},
       true},
      {"reply starting with a zero byte", "$VER S 1\r\n", {0x00, TYPE_QUERY_CODE, 5}, {}, false},
  };
  for (const Case& c : cases) {
    ReceiverConfig config;
    config.sfldVersion = c.sfldVersion;
    config.typeReplyOverride = c.typeReply;
    const UpdateRun run = Run(config, Images().container);
    EXPECT_EQ(run.code, 0) << c.name;
    EXPECT_TRUE(InOrder(run.log, c.logged)) << c.name;
    bool anyType = false;
    for (const std::string& l : run.log) anyType |= l.rfind("TypeID:", 0) == 0;
    EXPECT_EQ(anyType, c.typeLine) << c.name;
  }
}

TEST_F(WholeUpdate, SameResultEveryTime) {
  ReceiverConfig config;
  config.chatter = true;
  config.faults.garbagePerSecond = 5;
  const UpdateRun first = Run(config, Images().container);
  const UpdateRun second = Run(config, Images().container);
  EXPECT_EQ(first.log, second.log);
  EXPECT_EQ(first.virtualSeconds, second.virtualSeconds);
  EXPECT_EQ(first.wire.size(), second.wire.size());
}

}  // namespace
}  // namespace gpsfw::test
