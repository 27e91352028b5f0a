#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/FirmwareImage.h"

// A walk over every section of an image up to its end marker, checking each
// section's checksum in the form of the image's board (the board code of
// section 0). It tells whether a writing run would send the whole image and
// end with success, and how many blocks and bytes that run sends.

enum class TSectionStatus {
  Ok,                // checksum matches
  Mismatch,          // checksum differs
  EndMarker,         // the end-marker header: the run ends here with success
  BadEndMarker,      // an end marker with non-zero counts: a run would not end cleanly
  ZeroCount,         // zero counts without the end marker: a run would stop silently here
  BlockTooLarge,     // BlockSize above the 2048-byte transmit buffer
  TruncatedHeader,   // the file ends inside this header
  TruncatedData,     // the file ends inside this section's data
  MissingEndMarker,  // the file ends after the previous section
};

struct TSectionReport {
  int Index = 0;
  SectionHeader Header;  // empty for MissingEndMarker
  TSectionStatus Status = TSectionStatus::Ok;
  uint64_t BytesPresent = 0;  // header or data bytes found, for the truncation statuses
};

struct TBlocksAndBytes {
  uint64_t Blocks = 0;
  uint64_t Bytes = 0;
  friend bool operator==(const TBlocksAndBytes&, const TBlocksAndBytes&) = default;
};

struct TImageScan {
  bool Opened = false;
  uint8_t BoardKind = kBoardKindOther;
  std::vector<TSectionReport> Sections;
  uint64_t DataBlocks = 0;  // data blocks before the end marker
  uint64_t DataBytes = 0;

  // Every section verified and the end marker reached.
  bool Ok() const;

  // The data blocks and bytes that come before data block blockIndex of
  // section sectionIndex (blockIndex 0 or 1: before the section's first
  // block): those of the earlier sections and blocks 1..blockIndex-1 here.
  TBlocksAndBytes Before(int32_t sectionIndex, int32_t blockIndex) const;
};

TImageScan ScanImage(const std::string& path);

class TImageReader;

// Reads the data of the section whose header was just read, streaming it,
// and checks it: Ok, Mismatch or TruncatedData (bytesPresent tells how much
// of it the file holds).
TSectionStatus VerifySectionData(TImageReader& image, const SectionHeader& header,
                                 uint8_t boardKind, uint64_t& bytesPresent);
