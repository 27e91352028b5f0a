#pragma once

#include <string>

// Writes bytes to path through a temporary file beside it that is renamed
// over it, so that a failure leaves any earlier file of that name as it
// was. Returns false when the file could not be written.
bool WriteFileAtomically(const std::string& path, const std::string& bytes);
