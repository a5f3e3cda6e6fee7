#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sim/receiver_config.h"
#include "sim/sim_result.h"

namespace gpsfw::sim {

// True when `layout` describes a flash the receiver can have: at least one sector, every
// region with a count and a size, no more sectors than a 32-bit count, and the whole flash
// inside the 32-bit address space. Otherwise false with the reason in `why`.
bool FlashLayoutFits(const FlashLayout& layout, std::string* why);

// NOR flash: erased bytes read 0xFF, programming can only clear bits. At power-on it holds
// an old firmware (a fixed pattern). A byte may be programmed once after the erase that
// covered it; anything else is recorded as a fault.
//
// The contents are kept in pages that exist only once they were erased or programmed, so a
// layout as large as the address space costs no more memory than the bytes written to it.
class Flash {
 public:
  explicit Flash(const FlashLayout& layout);

  uint32_t Base() const { return base_; }
  uint64_t Size() const { return size_; }
  uint32_t SectorCount() const { return sectorCount_; }
  // Offset of sector `index` from the base, and its size.
  uint32_t SectorOffset(uint32_t index) const;
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
  struct Region {
    uint32_t firstSector;
    uint64_t offset;
    uint32_t count;
    uint32_t size;
  };
  struct Page {
    std::vector<uint8_t> bytes;     // empty: every byte erased
    std::vector<uint8_t> writable;  // empty: `writableAll` holds for every byte
    bool writableAll = false;
  };

  const Region& RegionOf(uint32_t sector) const;
  Page& Materialize(uint32_t pageIndex);
  void EraseOffsets(uint64_t start, uint64_t end);
  FlashFaultKind Classify(uint32_t address) const;
  bool Programmable(uint32_t address) const;

  uint32_t base_;
  uint64_t size_ = 0;
  uint32_t sectorCount_ = 0;
  std::vector<Region> regions_;
  std::map<uint32_t, Page> pages_;  // by offset / kPageBytes
  uint32_t eraseStart_ = 0;
  uint32_t eraseEnd_ = 0;
};

}  // namespace gpsfw::sim
