#pragma once

#include <cstdint>
#include <string>

#include "engine/FirmwareImage.h"

// Images for the session tests, built with the image layout helpers.

inline std::string Pattern(size_t size, uint8_t seed) {
  std::string data(size, '\0');
  for (size_t i = 0; i < size; ++i)
    data[i] = static_cast<char>(seed + i * 31 + i / 7);
  return data;
}

inline std::string EndMarker(uint16_t blockCount = 0, uint16_t blockSize = 0) {
  SectionHeader header;
  header.FileId = "VEQENDF00000";
  header.BlockCount = blockCount;
  header.BlockSize = blockSize;
  return EncodeSectionHeader(header);
}

// Section 0 with 3 blocks of 64 bytes, section 1 with 2 blocks of 128, the
// end marker.
inline std::string TwoSectionImage(const std::string& fileId = "VEQKUFX01106") {
  return MakeSection(fileId, 64, Pattern(3 * 64, 1), 1) +
         MakeSection(fileId, 128, Pattern(2 * 128, 9), 1) + EndMarker();
}
