#include "engine/FirmwareImage.h"

#include "engine/uByteUtils.h"

#include <algorithm>
#include <stdexcept>

namespace {

uint16_t WordAt(std::string_view bytes, size_t offset) {
  return MakeWord(static_cast<uint8_t>(bytes[offset]), static_cast<uint8_t>(bytes[offset + 1]),
                  true);
}

}  // namespace

SectionHeader ParseSectionHeader(std::string_view bytes) {
  SectionHeader header;
  header.FileId = std::string(bytes.substr(0, kFileIdSize));
  header.BoardCode = std::string(bytes.substr(3, 4));
  header.Variant = std::string(bytes.substr(7, 2));
  header.SwVersion = std::string(bytes.substr(9, 3));
  header.BlockCount = WordAt(bytes, 13);
  header.BlockSize = WordAt(bytes, 15);
  header.Checksum = WordAt(bytes, 19);
  return header;
}

namespace {

void PutWord(std::string& bytes, size_t offset, uint16_t value) {
  bytes[offset] = static_cast<char>(value >> 8);
  bytes[offset + 1] = static_cast<char>(value & 0xFF);
}

}  // namespace

std::string EncodeSectionHeader(const SectionHeader& header) {
  std::string bytes(kSectionHeaderSize, '\0');
  bytes.replace(0, std::min(header.FileId.size(), kFileIdSize), header.FileId, 0, kFileIdSize);
  PutWord(bytes, 13, header.BlockCount);
  PutWord(bytes, 15, header.BlockSize);
  PutWord(bytes, 19, header.Checksum);
  return bytes;
}

std::string MakeSection(std::string_view fileId, uint16_t blockSize, std::string_view data,
                        uint8_t boardKind) {
  const size_t blocks = blockSize == 0 ? 0 : (data.size() + blockSize - 1) / blockSize;
  if (blocks > 0xFFFF || (blockSize == 0 && !data.empty())) {
    throw std::invalid_argument("section data does not fit 65535 blocks of the block size");
  }
  std::string padded(data);
  padded.resize(blocks * blockSize, '\0');
  SectionHeader header;
  header.FileId = std::string(fileId);
  header.BlockCount = static_cast<uint16_t>(blocks);
  header.BlockSize = blockSize;
  header.Checksum = SectionChecksum(boardKind, padded);
  return EncodeSectionHeader(header) + padded;
}

uint8_t BoardKindOf(std::string_view boardCode) {
  if (boardCode == "KUFX") return kBoardKindKufx;
  if (boardCode == "OXR_") return kBoardKindOxr;
  return kBoardKindOther;
}

TSectionChecksum::TSectionChecksum(uint8_t boardKind)
    : Crc(boardKind == kBoardKindOxr), Value_(Crc ? 0xFFFF : 0) {}

void TSectionChecksum::Add(std::string_view data) {
  if (Crc) {
    for (const char c : data)
      Value_ = Crc16Update(static_cast<uint8_t>(c), Value_);
  } else {
    for (const char c : data)
      Value_ ^= static_cast<uint8_t>(c);
  }
}

uint16_t SectionChecksum(uint8_t boardKind, std::string_view data) {
  TSectionChecksum checksum(boardKind);
  checksum.Add(data);
  return checksum.Value();
}

bool ChecksumMatches(uint8_t boardKind, uint16_t computed, uint16_t stored) {
  if (boardKind == kBoardKindOxr) return computed == stored;
  return (computed & 0xFF) == (stored & 0xFF);
}
