#include "sim/flash.h"

#include <algorithm>
#include <cstdint>

namespace gpsfw::sim {
namespace {

constexpr uint8_t kErased = 0xFF;
constexpr uint64_t kPageBytes = 0x10000;
constexpr uint64_t kAddressSpace = uint64_t{1} << 32;

}  // namespace

bool FlashLayoutFits(const FlashLayout& layout, std::string* why) {
  if (layout.regions.empty()) {
    *why = "the flash needs at least one sector";
    return false;
  }
  uint64_t sectors = 0;
  uint64_t size = 0;
  for (const SectorRegion& region : layout.regions) {
    if (region.count == 0 || region.size == 0) {
      *why = "sectors need a count and a size";
      return false;
    }
    sectors += region.count;
    size += uint64_t{region.count} * region.size;
    if (sectors > UINT32_MAX || layout.base + size > kAddressSpace) {
      *why = "the flash does not fit in the receiver's 32-bit address space";
      return false;
    }
  }
  return true;
}

Flash::Flash(const FlashLayout& layout) : base_(layout.base) {
  for (const SectorRegion& region : layout.regions) {
    if (region.count == 0 || region.size == 0) continue;
    regions_.push_back(Region{sectorCount_, size_, region.count, region.size});
    sectorCount_ += region.count;
    size_ += uint64_t{region.count} * region.size;
  }
}

uint8_t Flash::OldFirmwareByte(uint32_t offset) {
  // Varied bytes with both set and clear bits, so that programming over them without an
  // erase shows in the contents.
  return static_cast<uint8_t>((offset * 0x9Du + (offset >> 8) * 0x3Bu) ^ 0x5Au);
}

const Flash::Region& Flash::RegionOf(uint32_t sector) const {
  auto after = std::upper_bound(regions_.begin(), regions_.end(), sector,
                                [](uint32_t s, const Region& r) { return s < r.firstSector; });
  return *(after - 1);
}

uint32_t Flash::SectorOffset(uint32_t index) const {
  const Region& region = RegionOf(index);
  return static_cast<uint32_t>(region.offset + uint64_t{index - region.firstSector} * region.size);
}

uint32_t Flash::SectorSize(uint32_t index) const {
  return RegionOf(index).size;
}

void Flash::SectorsOverlapping(uint32_t start, uint32_t end, uint32_t* first,
                               uint32_t* count) const {
  *first = 0;
  *count = 0;
  if (end <= start) return;
  bool found = false;
  for (const Region& region : regions_) {
    const uint64_t regionStart = uint64_t{base_} + region.offset;
    const uint64_t regionEnd = regionStart + uint64_t{region.count} * region.size;
    const uint64_t from = std::max<uint64_t>(start, regionStart);
    const uint64_t to = std::min<uint64_t>(end, regionEnd);
    if (from >= to) continue;
    const uint64_t firstIn = (from - regionStart) / region.size;
    const uint64_t lastIn = (to - 1 - regionStart) / region.size;
    if (!found) *first = region.firstSector + static_cast<uint32_t>(firstIn);
    found = true;
    *count += static_cast<uint32_t>(lastIn - firstIn + 1);
  }
}

Flash::Page& Flash::Materialize(uint32_t pageIndex) {
  auto it = pages_.find(pageIndex);
  if (it == pages_.end()) {
    Page page;
    page.bytes.resize(kPageBytes);
    const uint64_t start = uint64_t{pageIndex} * kPageBytes;
    for (uint64_t i = 0; i < kPageBytes; ++i) {
      page.bytes[i] = OldFirmwareByte(static_cast<uint32_t>(start + i));
    }
    page.writable.assign(kPageBytes, 0);
    return pages_.emplace(pageIndex, std::move(page)).first->second;
  }
  Page& page = it->second;
  if (page.bytes.empty()) page.bytes.assign(kPageBytes, kErased);
  if (page.writable.empty()) page.writable.assign(kPageBytes, page.writableAll ? 1 : 0);
  return page;
}

void Flash::BeginErase(uint32_t start, uint32_t end) {
  for (auto& entry : pages_) {
    entry.second.writable.clear();
    entry.second.writableAll = false;
  }
  eraseStart_ = start;
  // The flash is programmed in 16-bit halfwords: the pad byte that fills the halfword of an
  // odd end belongs to the range.
  eraseEnd_ = end % 2 == 0 || end == UINT32_MAX ? end : end + 1;
}

void Flash::EraseOffsets(uint64_t start, uint64_t end) {
  for (uint64_t pageStart = start / kPageBytes * kPageBytes; pageStart < end;
       pageStart += kPageBytes) {
    const uint32_t index = static_cast<uint32_t>(pageStart / kPageBytes);
    const uint64_t pageEnd = std::min(pageStart + kPageBytes, size_);
    if (start <= pageStart && end >= pageEnd) {
      pages_[index] = Page{{}, {}, true};
      continue;
    }
    Page& page = Materialize(index);
    const uint64_t from = std::max(start, pageStart) - pageStart;
    const uint64_t to = std::min(end, pageEnd) - pageStart;
    std::fill(page.bytes.begin() + from, page.bytes.begin() + to, kErased);
    std::fill(page.writable.begin() + from, page.writable.begin() + to, 1);
    // Sectors that do not line up with the pages erase a page in parts; once it is all
    // erased it takes no memory again.
    const auto erased = [](uint8_t b) { return b == kErased; };
    const auto writable = [](uint8_t w) { return w != 0; };
    if (std::all_of(page.bytes.begin(), page.bytes.end(), erased) &&
        std::all_of(page.writable.begin(), page.writable.end(), writable)) {
      page = Page{{}, {}, true};
    }
  }
}

void Flash::EraseSector(uint32_t index) {
  const uint64_t start = SectorOffset(index);
  EraseOffsets(start, start + SectorSize(index));
}

bool Flash::Contains(uint32_t address) const {
  return address >= base_ && uint64_t{address} - base_ < size_;
}

uint8_t Flash::Read(uint32_t address) const {
  if (!Contains(address)) return kErased;
  const uint32_t offset = address - base_;
  const auto it = pages_.find(static_cast<uint32_t>(offset / kPageBytes));
  if (it == pages_.end()) return OldFirmwareByte(offset);
  const Page& page = it->second;
  return page.bytes.empty() ? kErased : page.bytes[offset % kPageBytes];
}

bool Flash::Programmable(uint32_t address) const {
  if (!Contains(address) || address < eraseStart_ || address >= eraseEnd_) return false;
  const uint32_t offset = address - base_;
  const auto it = pages_.find(static_cast<uint32_t>(offset / kPageBytes));
  if (it == pages_.end()) return false;
  const Page& page = it->second;
  return page.writable.empty() ? page.writableAll : page.writable[offset % kPageBytes] != 0;
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
    const uint32_t offset = at - base_;
    Page& page = Materialize(static_cast<uint32_t>(offset / kPageBytes));
    // NOR cells only go from 1 to 0 when programmed.
    page.bytes[offset % kPageBytes] &= data[i];
    page.writable[offset % kPageBytes] = 0;
  }
}

}  // namespace gpsfw::sim
