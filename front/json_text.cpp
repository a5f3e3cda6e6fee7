#include "front/json_text.h"

#include <cinttypes>
#include <cstring>

namespace gpsfw {
namespace {

constexpr unsigned char kFirstPrintable = 0x20;

bool IsContinuation(unsigned char byte) {
  return (byte & 0xC0) == 0x80;
}

// The lead byte's sequence length and the lowest value a sequence of that length may hold.
bool LeadByte(unsigned char byte, size_t* length, uint32_t* value, uint32_t* minimum) {
  if ((byte & 0xE0) == 0xC0) {
    *length = 2;
    *value = byte & 0x1F;
    *minimum = 0x80;
  } else if ((byte & 0xF0) == 0xE0) {
    *length = 3;
    *value = byte & 0x0F;
    *minimum = 0x800;
  } else if ((byte & 0xF8) == 0xF0) {
    *length = 4;
    *value = byte & 0x07;
    *minimum = 0x10000;
  } else {
    return false;
  }
  return true;
}

void WriteEscapedByte(std::FILE* out, unsigned char byte) {
  std::fprintf(out, "\\u%04X", byte);
}

}  // namespace

size_t Utf8SequenceLength(const unsigned char* text, size_t length) {
  if (length == 0) return 0;
  if (text[0] < 0x80) return 1;
  size_t needed = 0;
  uint32_t value = 0;
  uint32_t minimum = 0;
  if (!LeadByte(text[0], &needed, &value, &minimum) || needed > length) return 0;
  for (size_t i = 1; i < needed; ++i) {
    if (!IsContinuation(text[i])) return 0;
    value = value << 6 | (text[i] & 0x3F);
  }
  const bool surrogate = value >= 0xD800 && value <= 0xDFFF;
  if (value < minimum || surrogate || value > 0x10FFFF) return 0;
  return needed;
}

void WriteJsonString(std::FILE* out, const char* text, size_t length) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  std::fputc('"', out);
  for (size_t i = 0; i < length;) {
    const unsigned char byte = bytes[i];
    if (byte == '"' || byte == '\\') {
      std::fputc('\\', out);
      std::fputc(byte, out);
      ++i;
      continue;
    }
    if (byte < kFirstPrintable) {
      WriteEscapedByte(out, byte);
      ++i;
      continue;
    }
    const size_t sequence = Utf8SequenceLength(bytes + i, length - i);
    if (sequence == 0) {
      WriteEscapedByte(out, byte);
      ++i;
      continue;
    }
    std::fwrite(bytes + i, 1, sequence, out);
    i += sequence;
  }
  std::fputc('"', out);
}

void WriteJsonString(std::FILE* out, const char* text) {
  WriteJsonString(out, text, std::strlen(text));
}

JsonObject::JsonObject(std::FILE* out) : out_(out) {
  std::fputc('{', out_);
}

JsonLine::JsonLine(std::FILE* out, uint64_t microseconds, const char* type) : JsonObject(out) {
  Seconds("t", microseconds);
  Text("type", type);
}

JsonObject::~JsonObject() {
  std::fputs("}\n", out_);
  std::fflush(out_);
}

void JsonObject::Name(const char* name) {
  if (!first_) std::fputc(',', out_);
  first_ = false;
  WriteJsonString(out_, name);
  std::fputc(':', out_);
}

JsonObject& JsonObject::Text(const char* name, const char* value) {
  Name(name);
  WriteJsonString(out_, value != nullptr ? value : "");
  return *this;
}

JsonObject& JsonObject::Int(const char* name, long long value) {
  Name(name);
  std::fprintf(out_, "%lld", value);
  return *this;
}

JsonObject& JsonObject::Bool(const char* name, bool value) {
  Name(name);
  std::fputs(value ? "true" : "false", out_);
  return *this;
}

JsonObject& JsonObject::Address(const char* name, uint32_t value) {
  Name(name);
  std::fprintf(out_, "\"0x%08" PRIX32 "\"", value);
  return *this;
}

JsonObject& JsonObject::Seconds(const char* name, uint64_t microseconds) {
  Name(name);
  std::fprintf(out_, "%" PRIu64 ".%06" PRIu64, microseconds / 1000000, microseconds % 1000000);
  return *this;
}

JsonObject& JsonObject::Texts(const char* name, const char* const* values, size_t count) {
  Name(name);
  std::fputc('[', out_);
  for (size_t i = 0; i < count; ++i) {
    if (i > 0) std::fputc(',', out_);
    WriteJsonString(out_, values[i]);
  }
  std::fputc(']', out_);
  return *this;
}

JsonObject& JsonObject::Begin(const char* name) {
  Name(name);
  std::fputc('{', out_);
  first_ = true;
  return *this;
}

JsonObject& JsonObject::End() {
  std::fputc('}', out_);
  first_ = false;
  return *this;
}

}  // namespace gpsfw
