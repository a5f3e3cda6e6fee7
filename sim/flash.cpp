#include "sim/flash.h"

#include <algorithm>
#include <cstdint>

namespace gpsfw::sim {
namespace {

constexpr uint8_t kErased = 0xFF;

}  // namespace

Flash::Flash(const FlashLayout& layout) : base_(layout.base) {
  uint32_t offset = 0;
  for (const SectorRegion& region : layout.regions) {
    for (uint32_t i = 0; i < region.count; ++i) {
      sectorStarts_.push_back(offset);
      offset += region.size;
    }
  }
  bytes_.resize(offset);
  for (uint32_t i = 0; i < offset; ++i) bytes_[i] = OldFirmwareByte(i);
  writable_.assign(offset, 0);
}

uint8_t Flash::OldFirmwareByte(uint32_t offset) {
  // Varied bytes with both set and clear bits, so that programming over them without an
  // erase shows in the contents.
  return static_cast<uint8_t>((offset * 0x9Du + (offset >> 8) * 0x3Bu) ^ 0x5Au);
}

uint32_t Flash::SectorSize(uint32_t index) const {
  const uint32_t next = index + 1 < SectorCount() ? sectorStarts_[index + 1] : Size();
  return next - sectorStarts_[index];
}

void Flash::SectorsOverlapping(uint32_t start, uint32_t end, uint32_t* first,
                               uint32_t* count) const {
  *first = 0;
  *count = 0;
  if (end <= start) return;
  bool found = false;
  for (uint32_t i = 0; i < SectorCount(); ++i) {
    const uint64_t sectorStart = uint64_t{base_} + sectorStarts_[i];
    const uint64_t sectorEnd = sectorStart + SectorSize(i);
    if (sectorStart >= end || sectorEnd <= start) continue;
    if (!found) *first = i;
    found = true;
    ++*count;
  }
}

void Flash::BeginErase(uint32_t start, uint32_t end) {
  std::fill(writable_.begin(), writable_.end(), 0);
  eraseStart_ = start;
  // The flash is programmed in 16-bit halfwords: the pad byte that fills the halfword of an
  // odd end belongs to the range.
  eraseEnd_ = end % 2 == 0 || end == UINT32_MAX ? end : end + 1;
}

void Flash::EraseSector(uint32_t index) {
  const uint32_t start = sectorStarts_[index];
  const uint32_t size = SectorSize(index);
  std::fill_n(bytes_.begin() + start, size, kErased);
  std::fill_n(writable_.begin() + start, size, 1);
}

bool Flash::Contains(uint32_t address) const {
  return address >= base_ && uint64_t{address} - base_ < bytes_.size();
}

uint8_t Flash::Read(uint32_t address) const {
  return Contains(address) ? bytes_[address - base_] : kErased;
}

bool Flash::Programmable(uint32_t address) const {
  return Contains(address) && address >= eraseStart_ && address < eraseEnd_ &&
         writable_[address - base_] != 0;
}

FlashFaultKind Flash::Classify(uint32_t address) const {
  if (!Contains(address)) return FlashFaultKind::kOutsideFlash;
  if (address < eraseStart_ || address >= eraseEnd_) return FlashFaultKind::kOutsideEraseRange;
  return FlashFaultKind::kNotErased;
}

void Flash::Program(uint32_t address, const uint8_t* data, size_t count, SimTime timeNs,
                    std::vector<FlashFault>& faults) {
  for (size_t i = 0; i < count; ++i) {
    const uint32_t at = address + static_cast<uint32_t>(i);
    if (!Programmable(at)) {
      const FlashFaultKind kind = Classify(at);
      FlashFault* last = faults.empty() ? nullptr : &faults.back();
      if (last != nullptr && last->kind == kind && uint64_t{last->address} + last->length == at) {
        ++last->length;
      } else {
        faults.push_back(FlashFault{kind, at, 1, timeNs});
      }
    }
    if (!Contains(at)) continue;
    // NOR cells only go from 1 to 0 when programmed.
    bytes_[at - base_] &= data[i];
    writable_[at - base_] = 0;
  }
}

}  // namespace gpsfw::sim
