#pragma once

#include <cstddef>
#include <string>

// A programmer with nothing but plain reads and writes, no session and no
// threads: what the benches hold veq flash against. Any one thread.
namespace bench {

// Writes a one-section image (header, data, end marker) in blocks of
// blockSize, the last one possibly shorter, into the simulated board at where (a pseudo-terminal's path, or IP:PORT on UDP
// loopback): wake-up, programming mode, one answer awaited per frame, and
// the end command. Throws std::runtime_error when the board does not answer
// in time or the link fails.
void BareWriteImage(const std::string& where, const std::string& image, size_t blockSize);

}  // namespace bench
