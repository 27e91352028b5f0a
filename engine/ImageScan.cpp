#include "engine/ImageScan.h"

#include <algorithm>
#include <vector>

#include "engine/ImageReader.h"

namespace {

bool EndsTheWalk(TSectionStatus status) {
  return status != TSectionStatus::Ok && status != TSectionStatus::Mismatch;
}

}  // namespace

TSectionStatus VerifySectionData(TImageReader& image, const SectionHeader& header,
                                 uint8_t boardKind, uint64_t& bytesPresent) {
  TSectionChecksum checksum(boardKind);
  std::vector<uint8_t> chunk(64 * 1024);
  bytesPresent = 0;
  while (bytesPresent < header.DataLength()) {
    const size_t want = std::min<uint64_t>(chunk.size(), header.DataLength() - bytesPresent);
    size_t present = 0;
    if (!image.Read(chunk.data(), want, &present) || present < want) {
      bytesPresent += present;
      return TSectionStatus::TruncatedData;
    }
    bytesPresent += present;
    checksum.Add({reinterpret_cast<const char*>(chunk.data()), want});
  }
  return ChecksumMatches(boardKind, checksum.Value(), header.Checksum) ? TSectionStatus::Ok
                                                                       : TSectionStatus::Mismatch;
}

bool TImageScan::Ok() const {
  if (!Opened || Sections.empty()) return false;
  for (const TSectionReport& section : Sections) {
    if (section.Status != TSectionStatus::Ok && section.Status != TSectionStatus::EndMarker) {
      return false;
    }
  }
  return Sections.back().Status == TSectionStatus::EndMarker;
}

TBlocksAndBytes TImageScan::Before(int32_t sectionIndex, int32_t blockIndex) const {
  TBlocksAndBytes before;
  for (const TSectionReport& section : Sections) {
    if (section.Index > sectionIndex || section.Header.IsEndMarker()) break;
    const uint64_t blocks =
        section.Index < sectionIndex
            ? section.Header.BlockCount
            : uint64_t(std::clamp<int32_t>(blockIndex - 1, 0, section.Header.BlockCount));
    before.Blocks += blocks;
    before.Bytes += blocks * section.Header.BlockSize;
  }
  before.Blocks = std::min(before.Blocks, DataBlocks);
  before.Bytes = std::min(before.Bytes, DataBytes);
  return before;
}

TImageScan ScanImage(const std::string& path) {
  TImageScan scan;
  TImageReader image;
  scan.Opened = image.Open(path);
  if (!scan.Opened) return scan;

  for (int index = 0;; ++index) {
    TSectionReport report;
    report.Index = index;
    uint8_t headerBytes[kSectionHeaderSize];
    size_t present = 0;
    if (!image.Read(headerBytes, sizeof headerBytes, &present) || present < sizeof headerBytes) {
      report.Status =
          present == 0 ? TSectionStatus::MissingEndMarker : TSectionStatus::TruncatedHeader;
      report.BytesPresent = present;
      if (present > 0) {
        report.Header =
            ParseSectionHeader({reinterpret_cast<char*>(headerBytes), sizeof headerBytes});
      }
      scan.Sections.push_back(report);
      break;
    }
    report.Header = ParseSectionHeader({reinterpret_cast<char*>(headerBytes), sizeof headerBytes});
    if (index == 0) scan.BoardKind = BoardKindOf(report.Header.BoardCode);

    const bool zeroCount = report.Header.BlockCount == 0 || report.Header.BlockSize == 0;
    if (report.Header.IsEndMarker()) {
      report.Status = zeroCount ? TSectionStatus::EndMarker : TSectionStatus::BadEndMarker;
    } else if (zeroCount) {
      report.Status = TSectionStatus::ZeroCount;
    } else if (report.Header.BlockSize > kMaxBlockSize) {
      report.Status = TSectionStatus::BlockTooLarge;
    } else {
      report.Status = VerifySectionData(image, report.Header, scan.BoardKind, report.BytesPresent);
      if (report.Status != TSectionStatus::TruncatedData) {
        scan.DataBlocks += report.Header.BlockCount;
        scan.DataBytes += report.Header.DataLength();
      }
    }
    scan.Sections.push_back(report);
    if (EndsTheWalk(report.Status)) break;
  }
  return scan;
}
