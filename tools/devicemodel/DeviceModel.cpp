#include "tools/devicemodel/DeviceModel.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "engine/DeviceDialogue.h"
#include "engine/FirmwareImage.h"

namespace {

// A byte on the board's serial line: start bit, 8 data bits, parity, stop bit.
constexpr int64_t kBitsPerByte = 11;
constexpr int64_t kMicrosecondsPerMs = 1000;
constexpr int64_t kMicrosecondsPerSecond = 1000000;

// Also for a negative value (a caller's clock may start anywhere).
int64_t DivideRoundingUp(int64_t value, int64_t divisor) {
  return value / divisor + (value % divisor > 0 ? 1 : 0);
}

// Rounded up, as is the millisecond derived from it: an answer that left a
// fraction early would beat the wire it plays.
int64_t WireMicroseconds(size_t bytes, int64_t bitsPerSecond) {
  if (bitsPerSecond == 0) return 0;
  return DivideRoundingUp(static_cast<int64_t>(bytes) * kBitsPerByte * kMicrosecondsPerSecond,
                          bitsPerSecond);
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

TDeviceModel::TDeviceModel() : TDeviceModel(TSettings{}) {}

TDeviceModel::TDeviceModel(TSettings settings) {
  SetSettings(std::move(settings));
}

void TDeviceModel::SetSettings(TSettings settings) {
  Validate(settings);
  Settings_ = std::move(settings);
}

void TDeviceModel::Validate(const TSettings& settings) {
  if (settings.Identity.size() != kFileIdSize) {
    throw std::invalid_argument("the identity must be 12 bytes long");
  }
  const bool capital = std::any_of(settings.Noise.begin(), settings.Noise.end(),
                                   [](char c) { return c >= 'A' && c <= 'Z'; });
  if (capital) throw std::invalid_argument("noise must not hold capital letters");
  if (settings.LineRate < 0) throw std::invalid_argument("the line rate must not be negative");
}

void TDeviceModel::PowerOn(int64_t nowMs) {
  PowerOnAtMs = nowMs;
  LastBytesAtMs = nowMs;
  EnterBoot();
}

std::vector<TDeviceModel::TAnswer> TDeviceModel::Receive(std::string_view bytes, int64_t nowMs) {
  ApplyPause(nowMs);
  if (ReceivedEnds) Received.clear();
  ReceivedEnds = false;
  Received.append(bytes);
  LastBytesAtMs = nowMs;
  if (!Booted(nowMs)) return {};
  while (!bytes.empty()) {
    const size_t used =
        Phase_ == TPhase::Run ? ConsumeFrame(bytes, nowMs) : ConsumeCommands(bytes, nowMs);
    bytes.remove_prefix(used);
  }
  std::vector<TAnswer> answers;
  answers.swap(Answers);
  return answers;
}

void TDeviceModel::Advance(int64_t nowMs) {
  ApplyPause(nowMs);
}

void TDeviceModel::ApplyPause(int64_t nowMs) {
  if (Phase_ != TPhase::Run || Frame.empty()) return;
  if (nowMs - LastBytesAtMs <= Settings_.FrameGapMs) return;
  if (Frame == kEndCommand) {
    EnterBoot();
  } else {
    Frame.clear();
  }
}

void TDeviceModel::EnterBoot() {
  Phase_ = TPhase::Boot;
  Silenced = Gone_;
  ReceivedEnds = true;
  CommandTail.clear();
  Frame.clear();
}

void TDeviceModel::EnterRun() {
  Phase_ = TPhase::Run;
  Frame.clear();
  AwaitingHeader = true;
  Current = {};
  BlockInSection = 0;
  BlockNumber = 0;
  FrameNumber = 0;
  Accepted.clear();
}

// Outside a run: commands are looked for byte by byte; returns how many bytes
// were used before a run began (all of them otherwise).
size_t TDeviceModel::ConsumeCommands(std::string_view bytes, int64_t nowMs) {
  for (size_t i = 0; i < bytes.size(); ++i) {
    const char c = bytes[i];
    if (Phase_ == TPhase::Boot && c == kProbe[0]) {
      CommandTail.clear();
      AnswerIdentity({kProbe.size(), nowMs});
      continue;
    }
    CommandTail += c;
    if (CommandTail.size() > kEndCommand.size()) CommandTail.erase(0, 1);
    if (EndsWith(CommandTail, kEndCommand)) {
      EnterBoot();
    } else if (Phase_ == TPhase::Boot && EndsWith(CommandTail, kProgrammingMode)) {
      CommandTail.clear();
      Answer(kReady, {kProgrammingMode.size(), nowMs});
      EnterRun();
      return i + 1;
    }
  }
  return bytes.size();
}

// Inside a run: fills the header or block being received; returns the bytes used.
size_t TDeviceModel::ConsumeFrame(std::string_view bytes, int64_t nowMs) {
  const size_t size = AwaitingHeader ? kSectionHeaderSize : static_cast<size_t>(BlockSize);
  const size_t used = std::min(size - Frame.size(), bytes.size());
  Frame.append(bytes.substr(0, used));
  if (Frame.size() == size) {
    if (AwaitingHeader) {
      HeaderComplete(nowMs);
    } else {
      BlockComplete(nowMs);
    }
  }
  return used;
}

void TDeviceModel::HeaderComplete(int64_t nowMs) {
  const TRequest frame{Frame.size(), nowMs};
  Current = {std::move(Frame), {}};
  Frame.clear();
  const SectionHeader header = ParseSectionHeader(Current.Header);
  const bool fault = FaultHere(false);
  if (header.IsEndMarker()) {
    if (!AnswerFrame(kApp, fault, frame)) return;
    Accepted.push_back(std::move(Current));
    Phase_ = TPhase::Started;
    CommandTail.clear();
    return;
  }
  if (!AnswerFrame(kGet, fault, frame)) return;
  if (header.DataLength() == 0) {
    Accepted.push_back(std::move(Current));
    return;
  }
  BlockCount = header.BlockCount;
  BlockSize = header.BlockSize;
  BlockInSection = 0;
  AwaitingHeader = false;
}

void TDeviceModel::BlockComplete(int64_t nowMs) {
  const TRequest frame{Frame.size(), nowMs};
  Current.Data += Frame;
  Frame.clear();
  ++BlockInSection;
  ++BlockNumber;
  const bool fault = FaultHere(true);
  if (BlockInSection < BlockCount) {
    AnswerFrame(kGet, fault, frame);
    return;
  }
  if (!AnswerFrame(kReady, fault, frame)) return;
  Accepted.push_back(std::move(Current));
  Current = {};
  AwaitingHeader = true;
}

bool TDeviceModel::FaultHere(bool block) {
  ++FrameNumber;
  if (Settings_.Fault == TFault::None) return false;
  if (Settings_.FaultCountsHeaders) return FrameNumber == Settings_.FaultBlock;
  return block && BlockNumber == Settings_.FaultBlock;
}

bool TDeviceModel::AnswerFrame(const std::string& word, bool fault, const TRequest& frame) {
  if (!fault) {
    Answer(word, frame);
    return true;
  }
  ++FaultsStruck_;
  switch (Settings_.Fault) {
    case TFault::Wrong:
    case TFault::Err:
      Answer(Settings_.Fault == TFault::Wrong ? kWrong : kErr, frame);
      Phase_ = TPhase::Failed;
      CommandTail.clear();
      return false;
    case TFault::Gone:
      Gone_ = true;
      [[fallthrough]];
    case TFault::Silent:
      Silenced = true;
      break;
    case TFault::Noise:
      if (!Silenced) {
        Answers.push_back(
            Due(kNoiseBytes + Settings_.Noise + word + Settings_.Noise + kNoiseBytes, frame));
      }
      return true;
    case TFault::Split:
      if (!Silenced) {
        const std::string& noise = Settings_.Noise;
        const size_t half = word.size() / 2;
        Answers.push_back(Due(noise + word.substr(0, half), frame));
        Answers.push_back(Due(word.substr(half) + noise, frame, Settings_.SplitGapMs));
      }
      return true;
    case TFault::None:
      break;
  }
  Answer(word, frame);
  return true;
}

void TDeviceModel::Answer(const std::string& word, const TRequest& request) {
  if (Silenced) return;
  const std::string& noise = Settings_.Noise;
  Answers.push_back(Due(noise + word + noise, request));
}

void TDeviceModel::AnswerIdentity(const TRequest& probe) {
  if (Silenced) return;  // only a board that has gone is silenced in its boot state
  const std::string& id = Settings_.Identity;
  const std::string& noise = Settings_.Noise;
  if (!Settings_.SplitIdentity) {
    Answers.push_back(Due(noise + id + noise, probe));
    return;
  }
  const size_t half = id.size() / 2;
  Answers.push_back(Due(noise + id.substr(0, half), probe));
  Answers.push_back(Due(id.substr(half) + noise, probe, Settings_.SplitGapMs));
}

// Each delivery of an answer pays the wire time of its own bytes: a split
// answer's second half waits its gap and its own bytes, not the first half's.
TDeviceModel::TAnswer TDeviceModel::Due(std::string bytes, const TRequest& request,
                                        int64_t laterMs) const {
  const int64_t atUs = (request.AtMs + Settings_.AnswerDelayMs + laterMs) * kMicrosecondsPerMs +
                       WireMicroseconds(request.Bytes + bytes.size(), Settings_.LineRate);
  return {std::move(bytes), atUs};
}

int64_t TDeviceModel::TAnswer::AtMs() const {
  return DivideRoundingUp(AtUs, kMicrosecondsPerMs);
}

std::string TDeviceModel::AcceptedImage() const {
  std::string image;
  for (const TSection& section : Accepted)
    image += section.Header + section.Data;
  return image;
}
