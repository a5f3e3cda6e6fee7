#include "tools/gpsfwstation/record/row_json.h"

namespace gpsfw::station::record {
namespace {

size_t Utf8Length(const unsigned char* s, size_t n) {
  if (s[0] < 0x80) return 1;
  size_t len = (s[0] & 0xE0) == 0xC0   ? 2
               : (s[0] & 0xF0) == 0xE0 ? 3
               : (s[0] & 0xF8) == 0xF0 ? 4
                                       : 0;
  if (len == 0 || len > n || (len == 2 && s[0] < 0xC2)) return 0;
  for (size_t i = 1; i < len; ++i) {
    if ((s[i] & 0xC0) != 0x80) return 0;
  }
  return len;
}

}  // namespace

std::string CleanText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  for (size_t i = 0; i < text.size();) {
    if (s[i] == 0) {
      ++i;
      continue;
    }
    const size_t len = Utf8Length(s + i, text.size() - i);
    if (len > 0) {
      out.append(text, i, len);
      i += len;
      continue;
    }
    out += static_cast<char>(0xC0 | (s[i] >> 6));
    out += static_cast<char>(0x80 | (s[i] & 0x3F));
    ++i;
  }
  return out;
}

nlohmann::ordered_json RowJson(const UpdateRow& r, bool withLog) {
  nlohmann::ordered_json j = {
      {"id", r.id},
      {"host", r.host},
      {"station", r.station},
      {"station_pid", r.stationPid},
      {"operator", r.operatorName},
      {"port", r.port},
      {"port_by_id", r.portById},
      {"port_by_path", r.portByPath},
      {"usb_serial", r.usbSerial},
      {"unit_serial", r.unitSerial},
      {"image_path", r.imagePath},
      {"image_size", r.imageSize},
      {"image_crc32", r.imageCrc32},
      {"image_sha256", r.imageSha256},
      {"boot_loader", r.identity.bootLoader},
      {"sfld", r.identity.sfld},
      {"flash_type", r.identity.flashType},
      {"start_utc", r.startUtc},
      {"end_utc", r.endUtc},
      {"duration", r.durationSeconds},
      {"result", r.result},
      {"return_code", r.returnCode},
      {"reason", r.reason},
      {"message", r.message},
      {"retries", r.retries},
      {"wakes", r.wakes},
      {"bytes", r.bytes},
      {"log_path", r.logPath},
      {"hook_status", r.hookStatus},
  };
  if (withLog) j["log"] = r.log;
  return j;
}

UpdateRow RowFromJson(const nlohmann::json& j) {
  UpdateRow r;
  r.id = j.at("id").get<std::string>();
  r.host = j.at("host").get<std::string>();
  r.station = j.value("station", "");
  r.stationPid = j.value("station_pid", 0);
  r.operatorName = j.value("operator", "");
  r.port = j.value("port", "");
  r.portById = j.value("port_by_id", "");
  r.portByPath = j.value("port_by_path", "");
  r.usbSerial = j.value("usb_serial", "");
  r.unitSerial = j.value("unit_serial", "");
  r.imagePath = j.value("image_path", "");
  r.imageSize = j.value("image_size", uint64_t{0});
  r.imageCrc32 = j.value("image_crc32", "");
  r.imageSha256 = j.value("image_sha256", "");
  r.identity = {j.value("boot_loader", ""), j.value("sfld", ""), j.value("flash_type", "")};
  r.startUtc = j.at("start_utc").get<std::string>();
  r.endUtc = j.value("end_utc", "");
  r.durationSeconds = j.value("duration", 0.0);
  r.result = j.at("result").get<std::string>();
  r.returnCode = j.value("return_code", 0);
  r.reason = j.value("reason", "");
  r.message = j.value("message", "");
  r.retries = j.value("retries", 0);
  r.wakes = j.value("wakes", 0);
  r.bytes = j.value("bytes", uint64_t{0});
  r.logPath = j.value("log_path", "");
  r.log = j.value("log", "");
  r.hookStatus = j.value("hook_status", "");
  return r;
}

}  // namespace gpsfw::station::record
