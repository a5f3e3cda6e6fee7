#include "front/port_list_output.h"

#include "front/json_text.h"

namespace gpsfw {

using platform::PortUse;
using platform::SerialPortInfo;
using platform::SerialPortList;
namespace {

const char* UseText(const SerialPortInfo& port) {
  if (!port.accessible) return "no permission";
  switch (port.use) {
    case PortUse::kFree:
      return "free";
    case PortUse::kInUse:
      return "in use";
    case PortUse::kUnknown:
      break;
  }
  return "use unknown";
}

void WritePortText(std::FILE* out, const SerialPortInfo& port) {
  std::fprintf(out, "%s: %s", port.device, port.driver[0] != '\0' ? port.driver : "serial");
  if (port.usb) {
    std::fprintf(out, ", USB %04x:%04x", port.vendorId, port.productId);
    if (port.manufacturer[0] != '\0') std::fprintf(out, ", %s", port.manufacturer);
    if (port.product[0] != '\0') std::fprintf(out, ", %s", port.product);
    if (port.serial[0] != '\0') std::fprintf(out, ", serial %s", port.serial);
  }
  std::fprintf(out, "\n");
  if (port.byId[0] != '\0') std::fprintf(out, "  by-id    %s\n", port.byId);
  if (port.byPath[0] != '\0') std::fprintf(out, "  by-path  %s\n", port.byPath);
  std::fprintf(out, "  ");
  if (port.latencyTimerMs >= 0) std::fprintf(out, "latency timer %d ms, ", port.latencyTimerMs);
  std::fprintf(out, "%s\n", UseText(port));
}

// A string member whose empty value is null.
void WriteOptional(std::FILE* out, const char* name, const char* text) {
  std::fprintf(out, "\"%s\": ", name);
  if (text[0] == '\0') {
    std::fputs("null", out);
  } else {
    WriteJsonString(out, text);
  }
}

void WriteUsbJson(std::FILE* out, const SerialPortInfo& port) {
  if (!port.usb) {
    std::fputs("null", out);
    return;
  }
  std::fprintf(out, "{\"vendor_id\": \"%04x\", \"product_id\": \"%04x\", ", port.vendorId,
               port.productId);
  WriteOptional(out, "manufacturer", port.manufacturer);
  std::fputs(", ", out);
  WriteOptional(out, "product", port.product);
  std::fputs(", ", out);
  WriteOptional(out, "serial", port.serial);
  std::fputc('}', out);
}

void WritePortJson(std::FILE* out, const SerialPortInfo& port) {
  std::fputs("{\"device\": ", out);
  WriteJsonString(out, port.device);
  std::fputs(", ", out);
  WriteOptional(out, "by_id", port.byId);
  std::fputs(", ", out);
  WriteOptional(out, "by_path", port.byPath);
  std::fputs(", ", out);
  WriteOptional(out, "driver", port.driver);
  std::fputs(", \"usb\": ", out);
  WriteUsbJson(out, port);
  if (port.latencyTimerMs >= 0) {
    std::fprintf(out, ", \"latency_timer_ms\": %d", port.latencyTimerMs);
  } else {
    std::fputs(", \"latency_timer_ms\": null", out);
  }
  std::fprintf(out, ", \"accessible\": %s, \"in_use\": %s}", port.accessible ? "true" : "false",
               port.use == PortUse::kUnknown ? "null"
               : port.use == PortUse::kInUse ? "true"
                                             : "false");
}

}  // namespace

void WritePortListText(std::FILE* out, const SerialPortList& list) {
  if (list.count == 0) std::fprintf(out, "No serial ports found.\n");
  for (size_t i = 0; i < list.count; ++i) WritePortText(out, list.ports[i]);
  if (list.truncated)
    std::fprintf(out, "(more ports than %u: the rest are left out)\n",
                 static_cast<unsigned>(list.count));
}

void WritePortListJson(std::FILE* out, const SerialPortList& list) {
  std::fputs("{\"ports\": [", out);
  for (size_t i = 0; i < list.count; ++i) {
    std::fputs(i == 0 ? "\n  " : ",\n  ", out);
    WritePortJson(out, list.ports[i]);
  }
  std::fprintf(out, "%s], \"truncated\": %s}\n", list.count > 0 ? "\n" : "",
               list.truncated ? "true" : "false");
}

}  // namespace gpsfw
