#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace gpsfw::tool {

using Bytes = std::vector<uint8_t>;

// A section or an SFLD text the container cannot hold.
struct ContainerError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Padding inside and between sections: the erased state of flash.
inline constexpr uint8_t kPadByte = 0xFF;

// Lays out a container: PFLD at offset 0 and FW at 0x4000, each with its header at offset
// 0x20 (overwriting those eight bytes of the section) and its XOR checksum word right
// behind its data padded to whole words. Throws ContainerError for a section that does not fit.
Bytes LayOutContainer(const Bytes& pfld, const Bytes& fw);

// Chooses LF or CR LF per line so that the text's length is a multiple of 4, keeping each
// line's own ending where it can. Throws ContainerError when a text of very few lines cannot
// be brought to such a length.
std::string PadSfldText(const std::string& text);

// Appends the SFLD text and its checksum word.
void AppendSfld(Bytes& image, const std::string& text);

}  // namespace gpsfw::tool
