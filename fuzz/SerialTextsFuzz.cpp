// The text forms of the serial line settings (serial/uRSbcom) on arbitrary
// text: a text the component knows reads as the setting that writes back
// as that very text, any other text reads as the fall-back, and every
// setting, known or out of range, writes as a text of the table. The texts
// applied to a closed port come back in its summary line as the component
// reads them.

#include <cstdint>
#include <string>

#include "fuzz/FuzzCheck.h"
#include "serial/BCPort.h"
#include "serial/uRSbcom.h"

namespace {

template <typename E>
void CheckSetting(const std::string& text, uint8_t raw, E (*fromText)(const std::string&),
                  std::string (*toText)(E), E fallBack, int count) {
  const E value = fromText(text);
  const bool known = toText(value) == text;
  if (!known) FUZZ_CHECK(value == fallBack);
  FUZZ_CHECK(static_cast<int>(value) < count);
  // Any value of the underlying byte, in the enumeration or not, writes as
  // a text that reads back as a member.
  const std::string written = toText(static_cast<E>(raw));
  const E back = fromText(written);
  FUZZ_CHECK(static_cast<int>(back) < count && toText(back) == written);
  if (raw < count) FUZZ_CHECK(back == static_cast<E>(raw));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const uint8_t raw = size > 0 ? data[0] : 0;
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string tail = size > 0 ? text.substr(1) : text;

  for (const std::string& t : {text, tail}) {
    CheckSetting(t, raw, StrToBaudRate, BaudRateToStr, br9600, kBaudRateCount);
    CheckSetting(t, raw, StrToByteSize, ByteSizeToStr, bs8, bs8 + 1);
    CheckSetting(t, raw, StrToParity, ParityToStr, paNone, paSpace + 1);
    CheckSetting(t, raw, StrToStopBits, StopBitsToStr, sb1, sb2 + 1);

    const TBaudRate rate = StrToBaudRate(t);
    FUZZ_CHECK(IsKnownBaudRateText(t) == (BaudRateToStr(rate) == t));
    // The rate's text is its number of bits per second.
    FUZZ_CHECK(BaudRateToStr(rate) == std::to_string(BaudRateBitsPerSecond(rate)));
  }

  // The five panel texts, cut from the input at zero bytes, on a port that
  // stays closed: no device is opened.
  std::string parts[5];
  size_t at = 0;
  for (std::string& part : parts) {
    const size_t end = std::min(text.find('\0', at), text.size());
    if (at <= text.size()) part = text.substr(at, end - at);
    at = end + 1;
  }
  TBComPort port;
  ApplyPortSettings(port, parts[0], parts[1], parts[2], parts[3], parts[4]);
  FUZZ_CHECK(!port.IsOpen());
  FUZZ_CHECK(PortSettingsText(port) == parts[0] + "/" + BaudRateToStr(StrToBaudRate(parts[1])) +
                                           "/" + ByteSizeToStr(StrToByteSize(parts[2])) + "/" +
                                           ParityToStr(StrToParity(parts[3])) + "/" +
                                           StopBitsToStr(StrToStopBits(parts[4])));
  return 0;
}
