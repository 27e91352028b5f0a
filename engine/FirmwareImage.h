#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Layout of a .vqf image: sections back to back, each a 21-byte header
// followed by BlockCount x BlockSize data bytes. Numbers are big-endian.

inline constexpr size_t kSectionHeaderSize = 21;
inline constexpr size_t kFileIdSize = 12;
// The transmit buffer holds one block; a larger block cannot be sent.
inline constexpr int kMaxBlockSize = 2048;
// Seven characters anywhere in a FileId that mark the last section.
inline constexpr std::string_view kEndMarker = "VEQENDF";

enum : uint8_t { kBoardKindOther = 0, kBoardKindKufx = 1, kBoardKindOxr = 2 };

struct SectionHeader {
  std::string FileId;     // bytes 0..11: "VEQ", BoardCode, Variant, SwVersion
  std::string BoardCode;  // bytes 3..6
  std::string Variant;    // bytes 7..8
  std::string SwVersion;  // bytes 9..11
  uint16_t BlockCount = 0;
  uint16_t BlockSize = 0;
  uint16_t Checksum = 0;

  uint32_t DataLength() const { return uint32_t{BlockCount} * BlockSize; }
  bool IsEndMarker() const { return FileId.find(kEndMarker) != std::string::npos; }
};

// bytes must hold at least kSectionHeaderSize bytes.
SectionHeader ParseSectionHeader(std::string_view bytes);

// The 21 header bytes: FileId cut or zero-padded to 12 bytes, reserved bytes 0.
std::string EncodeSectionHeader(const SectionHeader& header);

// A whole section: the data zero-padded to whole blocks of blockSize bytes
// and its checksum in the form of boardKind. Throws std::invalid_argument
// when the block count would not fit its 16-bit field.
std::string MakeSection(std::string_view fileId, uint16_t blockSize, std::string_view data,
                        uint8_t boardKind);

// "KUFX" -> 1, "OXR_" -> 2 (exact, case-sensitive), anything else -> 0.
uint8_t BoardKindOf(std::string_view boardCode);

// A section's checksum in its board's form, fed in pieces: CRC-16/MODBUS
// for board kind 2, an 8-bit XOR for the others.
class TSectionChecksum {
 public:
  explicit TSectionChecksum(uint8_t boardKind);
  void Add(std::string_view data);
  uint16_t Value() const { return Value_; }

 private:
  bool Crc;
  uint16_t Value_;
};

uint16_t SectionChecksum(uint8_t boardKind, std::string_view data);

// The CRC is compared whole; the XOR only with the low byte (header byte 20).
bool ChecksumMatches(uint8_t boardKind, uint16_t computed, uint16_t stored);
