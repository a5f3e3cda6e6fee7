#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/receiver_config.h"
#include "sim/sim_result.h"

namespace gpsfw::sim {

// NOR flash: erased bytes read 0xFF, programming can only clear bits. At power-on it holds
// an old firmware (a fixed pattern). A byte may be programmed once after the erase that
// covered it; anything else is recorded as a fault.
class Flash {
 public:
  explicit Flash(const FlashLayout& layout);

  uint32_t Base() const { return base_; }
  uint32_t Size() const { return static_cast<uint32_t>(bytes_.size()); }
  uint32_t SectorCount() const { return static_cast<uint32_t>(sectorStarts_.size()); }
  // Offset of sector `index` from the base, and its size.
  uint32_t SectorOffset(uint32_t index) const { return sectorStarts_[index]; }
  uint32_t SectorSize(uint32_t index) const;

  // The sectors that overlap [start, end): first index and count (0 when none does).
  void SectorsOverlapping(uint32_t start, uint32_t end, uint32_t* first, uint32_t* count) const;

  // Begins an erase of [start, end): from now on only the sectors that EraseSector erases
  // may be programmed, and only within that range.
  void BeginErase(uint32_t start, uint32_t end);
  void EraseSector(uint32_t index);

  // Programs `count` bytes at `address`; what the flash cannot take as intended is added to
  // `faults`, one entry per kind and contiguous run.
  void Program(uint32_t address, const uint8_t* data, size_t count, SimTime timeNs,
               std::vector<FlashFault>& faults);

  bool Contains(uint32_t address) const;
  // The byte at `address`; 0xFF outside the flash.
  uint8_t Read(uint32_t address) const;

  // The old firmware's byte at `offset` from the base.
  static uint8_t OldFirmwareByte(uint32_t offset);

 private:
  FlashFaultKind Classify(uint32_t address) const;
  bool Programmable(uint32_t address) const;

  uint32_t base_;
  std::vector<uint32_t> sectorStarts_;
  std::vector<uint8_t> bytes_;
  std::vector<uint8_t> writable_;  // 1 while erased by the last erase and not yet programmed
  uint32_t eraseStart_ = 0;
  uint32_t eraseEnd_ = 0;
};

}  // namespace gpsfw::sim
