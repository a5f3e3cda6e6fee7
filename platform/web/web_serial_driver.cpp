#include "platform/web/web_serial_driver.h"

#include <emscripten.h>

#include "platform/host_serial_driver.h"
#include "platform/stop_signals.h"

// The page's line object (Module.line, web/serial_line.js) does the work; these are its
// entry points. The awaiting ones unwind the program's stack through Asyncify.
// clang-format off
EM_JS(int, web_line_granted, (), { return Module.line && Module.line.granted() ? 1 : 0; });
EM_ASYNC_JS(int, web_line_open, (uint32_t baud), { return await Module.line.open(baud); });
EM_ASYNC_JS(void, web_line_close, (), { await Module.line.close(); });
EM_JS(int, web_line_take, (uint8_t* buffer, size_t size), {
  const bytes = Module.line.take(size);
  HEAPU8.set(bytes, buffer);
  return bytes.length;
});
EM_ASYNC_JS(int, web_line_await, (uint32_t ms), { return await Module.line.awaitBytes(ms); });
EM_JS(int, web_line_write, (const uint8_t* data, size_t size), {
  return Module.line.write(HEAPU8.slice(data, data + size));
});
EM_JS(void, web_line_purge, (), { Module.line.purge(); });
EM_ASYNC_JS(void, web_line_drain, (), { await Module.line.drain(); });
EM_JS(uint32_t, web_line_errors, (), { return Module.line.takeErrors(); });
EM_JS(int, web_line_lost, (), { return Module.line.lost ? 1 : 0; });
EM_ASYNC_JS(int, web_line_reopen, (), { return await Module.line.reopen(); });
// clang-format on

namespace gpsfw::platform {
namespace {

constexpr int kTheHandle = 0;
// The gap that ends a read, as on every other host.
constexpr uint32_t kReadGapMs = 1;

WebSerialDriver g_webDriver;

}  // namespace

int WebSerialDriver::Open(const char* /*device*/) {
  // The port is opened at its first speed, in Configure: Web Serial opens at a speed.
  return web_line_granted() != 0 ? kTheHandle : -1;
}

void WebSerialDriver::Close(int /*handle*/) {
  web_line_close();
}

// Web Serial cannot change the speed of an open port: the line closes and opens it again.
bool WebSerialDriver::Configure(int /*handle*/, uint32_t baud) {
  return web_line_open(baud) != 0;
}

long WebSerialDriver::Read(int /*handle*/, uint8_t* buffer, size_t size) {
  if (size == 0) return 0;
  if (web_line_lost() != 0) return -1;
  size_t got = static_cast<size_t>(web_line_take(buffer, size));
  if (got == 0) {
    const uint32_t firstMs = static_cast<uint32_t>(1 + (size < 60000 ? size : 60000));
    // The page's Cancel ends the wait early; the stop routine then closes the run.
    if (web_line_await(firstMs) == 0 || CheckStop()) return web_line_lost() != 0 ? -1 : 0;
    got = static_cast<size_t>(web_line_take(buffer, size));
  }
  while (got < size && web_line_await(kReadGapMs) != 0) {
    got += static_cast<size_t>(web_line_take(buffer + got, size - got));
  }
  return static_cast<long>(got);
}

long WebSerialDriver::Write(int /*handle*/, const uint8_t* data, size_t size) {
  return web_line_write(data, size) != 0 ? static_cast<long>(size) : -1;
}

WaitResult WebSerialDriver::WaitReadable(int /*handle*/, uint32_t ms) {
  if (web_line_lost() != 0) return WaitResult::kHungUp;
  const bool readable = web_line_await(ms) != 0;
  if (CheckStop()) return WaitResult::kTimeout;
  if (readable) return WaitResult::kReadable;
  return web_line_lost() != 0 ? WaitResult::kHungUp : WaitResult::kTimeout;
}

void WebSerialDriver::PurgeReceive(int /*handle*/) {
  web_line_purge();
}

void WebSerialDriver::Drain(int /*handle*/) {
  web_line_drain();
}

bool WebSerialDriver::TakeLineErrors(int /*handle*/, uint32_t* flags) {
  *flags = web_line_errors();
  return true;
}

bool WebSerialDriver::Lost(int /*handle*/) {
  return web_line_lost() != 0;
}

bool WebSerialDriver::Reopen(int /*handle*/) {
  return web_line_reopen() != 0;
}

SerialDriver& HostSerialDriver() {
  return g_webDriver;
}

}  // namespace gpsfw::platform
