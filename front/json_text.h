#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace gpsfw {

// Writes `length` bytes of 8-bit text as a JSON string, quotes included: '"' and '\' are
// escaped, control characters become \u00XX, valid UTF-8 passes unchanged, and every byte of
// 0x80 or above that is not part of a valid UTF-8 sequence becomes \u00XX of that byte (as
// if the text were Latin-1), so that any path comes out as valid JSON and can be told apart.
void WriteJsonString(std::FILE* out, const char* text, size_t length);
void WriteJsonString(std::FILE* out, const char* text);

// The length of the valid UTF-8 sequence at `text` (1 to 4), or 0 when the bytes there are
// not one (a stray continuation byte, an overlong form, a surrogate, a value above U+10FFFF,
// or a sequence cut short by `length`).
size_t Utf8SequenceLength(const unsigned char* text, size_t length);

// One JSON object on one line, built field by field and written as it is built; the line
// ends, and the stream is flushed, when the object goes out of scope. Example:
//   JsonObject(out).Text("image", name).Int("size", 4096);
class JsonObject {
 public:
  explicit JsonObject(std::FILE* out);
  ~JsonObject();
  JsonObject(const JsonObject&) = delete;
  JsonObject& operator=(const JsonObject&) = delete;

  JsonObject& Text(const char* name, const char* value);
  JsonObject& Int(const char* name, long long value);
  JsonObject& Bool(const char* name, bool value);
  // An address or a range end as a string, "0x10000000".
  JsonObject& Address(const char* name, uint32_t value);
  // Seconds with microsecond resolution, 12.345678.
  JsonObject& Seconds(const char* name, uint64_t microseconds);
  JsonObject& Texts(const char* name, const char* const* values, size_t count);
  // A nested object: the fields written until End() go inside it.
  JsonObject& Begin(const char* name);
  JsonObject& End();

 protected:
  std::FILE* out_;

 private:
  void Name(const char* name);
  bool first_ = true;  // the next field opens an object and takes no comma
};

// An event: a JsonObject that starts with the time since the run began and its type.
// Example:
//   JsonLine(out, t, "wake").Int("count", 2);
class JsonLine : public JsonObject {
 public:
  JsonLine(std::FILE* out, uint64_t microseconds, const char* type);
};

}  // namespace gpsfw
