#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

// Sequential, buffered reading of an image file. The bytes delivered are
// exactly those of reading the file one byte at a time, with every byte past
// its end reading as zero.
//
// Read is virtual so that a session can be given a reader whose reads fail,
// the one way to exercise the session's handling of an I/O error.
class TImageReader {
 public:
  TImageReader() = default;
  virtual ~TImageReader() { Close(); }
  TImageReader(const TImageReader&) = delete;
  TImageReader& operator=(const TImageReader&) = delete;

  // Opened for reading only: the programmer never writes an image, so a
  // read-only file is as good as any. False when it cannot be opened.
  bool Open(const std::string& path);
  void Close();
  bool IsOpen() const { return File != nullptr; }

  // Fills out[0..count) from the current position; false on an I/O error.
  // present, when given, receives how many of the bytes came from the file.
  virtual bool Read(uint8_t* out, size_t count, size_t* present = nullptr);
  bool AtEnd() const { return Eof; }

 private:
  std::FILE* File = nullptr;
  // The stdio buffer, ours: given none, the library picks its own size
  // whatever size is asked for.
  std::unique_ptr<char[]> Buffer;
  bool Eof = false;
};
