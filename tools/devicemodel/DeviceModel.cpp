#include "tools/devicemodel/DeviceModel.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "engine/DeviceDialogue.h"
#include "engine/FirmwareImage.h"

namespace {

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
      AnswerIdentity(nowMs);
      continue;
    }
    CommandTail += c;
    if (CommandTail.size() > kEndCommand.size()) CommandTail.erase(0, 1);
    if (EndsWith(CommandTail, kEndCommand)) {
      EnterBoot();
    } else if (Phase_ == TPhase::Boot && EndsWith(CommandTail, kProgrammingMode)) {
      CommandTail.clear();
      Answer(kReady, nowMs);
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
  Current = {std::move(Frame), {}};
  Frame.clear();
  const SectionHeader header = ParseSectionHeader(Current.Header);
  const bool fault = FaultHere(false);
  if (header.IsEndMarker()) {
    if (!AnswerFrame(kApp, fault, nowMs)) return;
    Accepted.push_back(std::move(Current));
    Phase_ = TPhase::Started;
    CommandTail.clear();
    return;
  }
  if (!AnswerFrame(kGet, fault, nowMs)) return;
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
  Current.Data += Frame;
  Frame.clear();
  ++BlockInSection;
  ++BlockNumber;
  const bool fault = FaultHere(true);
  if (BlockInSection < BlockCount) {
    AnswerFrame(kGet, fault, nowMs);
    return;
  }
  if (!AnswerFrame(kReady, fault, nowMs)) return;
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

bool TDeviceModel::AnswerFrame(const std::string& word, bool fault, int64_t nowMs) {
  if (!fault) {
    Answer(word, nowMs);
    return true;
  }
  ++FaultsStruck_;
  switch (Settings_.Fault) {
    case TFault::Wrong:
    case TFault::Err:
      Answer(Settings_.Fault == TFault::Wrong ? kWrong : kErr, nowMs);
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
        Answers.push_back({kNoiseBytes + Settings_.Noise + word + Settings_.Noise + kNoiseBytes,
                           nowMs + Settings_.AnswerDelayMs});
      }
      return true;
    case TFault::Split:
      if (!Silenced) {
        const std::string& noise = Settings_.Noise;
        const size_t half = word.size() / 2;
        const int64_t at = nowMs + Settings_.AnswerDelayMs;
        Answers.push_back({noise + word.substr(0, half), at});
        Answers.push_back({word.substr(half) + noise, at + Settings_.SplitGapMs});
      }
      return true;
    case TFault::None:
      break;
  }
  Answer(word, nowMs);
  return true;
}

void TDeviceModel::Answer(const std::string& word, int64_t nowMs) {
  if (Silenced) return;
  const std::string& noise = Settings_.Noise;
  Answers.push_back({noise + word + noise, nowMs + Settings_.AnswerDelayMs});
}

void TDeviceModel::AnswerIdentity(int64_t nowMs) {
  if (Silenced) return;  // only a board that has gone is silenced in its boot state
  const std::string& id = Settings_.Identity;
  const std::string& noise = Settings_.Noise;
  const int64_t at = nowMs + Settings_.AnswerDelayMs;
  if (!Settings_.SplitIdentity) {
    Answers.push_back({noise + id + noise, at});
    return;
  }
  const size_t half = id.size() / 2;
  Answers.push_back({noise + id.substr(0, half), at});
  Answers.push_back({id.substr(half) + noise, at + Settings_.SplitGapMs});
}

std::string TDeviceModel::AcceptedImage() const {
  std::string image;
  for (const TSection& section : Accepted)
    image += section.Header + section.Data;
  return image;
}
