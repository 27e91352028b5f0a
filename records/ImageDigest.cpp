#include "records/ImageDigest.h"

#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <fstream>
#include <memory>

#include "engine/uStrBinHex.h"

std::string FileSha256(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                        &EVP_MD_CTX_free);
  if (!file || !context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) return {};
  std::array<char, 64 * 1024> chunk;
  while (file.read(chunk.data(), chunk.size()) || file.gcount() > 0) {
    EVP_DigestUpdate(context.get(), chunk.data(), static_cast<size_t>(file.gcount()));
  }
  if (file.bad()) return {};
  std::array<unsigned char, EVP_MAX_MD_SIZE> digest;
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(context.get(), digest.data(), &length) != 1) return {};
  // Lower case, as sha256sum prints it.
  std::string hex = StrToHex({reinterpret_cast<const char*>(digest.data()), length});
  std::transform(hex.begin(), hex.end(), hex.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return hex;
}
