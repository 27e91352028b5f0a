#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

// How a run of the session ended, as a value: from Connect through the search
// and the writing to its end. The front ends decide on it (exit status, box,
// record) instead of reading the operator texts. Main thread only, like the
// session that fills it.

enum class TRunOutcome : uint8_t {
  None,          // no run has ended since the last Connect
  Written,       // the device took the end marker: the board holds the image
  DeviceWrong,   // the device answered WRONG
  DeviceErr,     // the device answered ERR
  WrongBoard,    // the image is for another board or variant
  Declined,      // the question before an image that is not newer was answered Cancel
  DeviceSilent,  // no answer within the time limit while writing
  NotFound,      // the device was not ready within the search limit
  LinkFailure,   // the link could not be opened, or failed during the run
  ImageFault,    // the image could not be read on, or holds what cannot be sent
  Disconnected,  // Disconnect ended a run that was under way
};

struct TRunEnd {
  TRunOutcome Outcome = TRunOutcome::None;
  // Whether writing had begun; Section and Block say where it stood then: the
  // header or block last sent, or the header about to be sent.
  bool Writing = false;
  int32_t Section = 0;
  int32_t Block = 0;       // 0: the section's header; k: data block k
  int32_t BlockCount = 0;  // data blocks of that section, once its header was read
  bool AtEndMarker = false;
  // The piece of the reason that only the ending knows, already worded: the
  // link's own failure text, the two identities, the versions, the limit.
  std::string Detail;
  // The system's error number behind a link failure, 0 when none is known.
  int SystemError = 0;
  // The operator has already seen this ending in a box of its own (the
  // success box, the identity mismatch, a refused open) or chose it himself.
  bool AlreadyShown = false;
};

// One line that says how the run ended and, while writing, where: for
// example "Запись прервана на блоке 7 из 12 (раздел 0): устройство ответило
// ERR." Empty for TRunOutcome::None.
std::string RunEndText(const TRunEnd& end);

// The word that names an ending where scripts read it (the command line's
// JSON result, the records of runs): "written", "device-error", and so on.
// An ending with no outcome, or over the image, is "image-error": Start
// could not open the image or read it on. A run ended by Disconnect, or by a
// signal, is "interrupted", and so is a record of a run that never ended.
const char* RunOutcomeWord(TRunOutcome outcome);
inline constexpr const char* kInterruptedWord = "interrupted";
inline constexpr std::array<std::string_view, 9> kRunOutcomeWords = {
    "written", "device-error", "wrong-board", "declined",   "timeout",
    "not-found", "link-failure", "image-error", "interrupted"};
