#include "front/quoted_text.h"

namespace gpsfw {
namespace {

constexpr int kShownBytes = 200;
constexpr unsigned char kFirstPrintable = 0x20;
constexpr unsigned char kDelete = 0x7F;

}  // namespace

void WriteQuoted(std::FILE* out, const char* text) {
  std::fputc('\'', out);
  int shown = 0;
  for (; text[shown] != '\0' && shown < kShownBytes; ++shown) {
    const unsigned char c = static_cast<unsigned char>(text[shown]);
    if (c < kFirstPrintable || c == kDelete) {
      std::fprintf(out, "\\x%02X", c);
    } else {
      std::fputc(c, out);
    }
  }
  std::fputs(text[shown] != '\0' ? "...'" : "'", out);
}

}  // namespace gpsfw
