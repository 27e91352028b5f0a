#include "tools/FlashOutcome.h"

namespace {

TFlashExit ExitOf(TRunOutcome outcome) {
  switch (outcome) {
    case TRunOutcome::Written:
      return TFlashExit::Written;
    case TRunOutcome::DeviceWrong:
    case TRunOutcome::DeviceErr:
      return TFlashExit::DeviceError;
    case TRunOutcome::WrongBoard:
      return TFlashExit::WrongBoard;
    case TRunOutcome::Declined:
      return TFlashExit::Declined;
    case TRunOutcome::DeviceSilent:
      return TFlashExit::DeviceSilent;
    case TRunOutcome::NotFound:
      return TFlashExit::NotReady;
    case TRunOutcome::LinkFailure:
    case TRunOutcome::Disconnected:
      return TFlashExit::Link;
    case TRunOutcome::None:
    case TRunOutcome::ImageFault:
      break;
  }
  // No ending at all: Start could not open the image.
  return TFlashExit::UsageOrImage;
}

}  // namespace

TFlashVerdict VerdictOf(TRunOutcome outcome) { return {ExitOf(outcome), RunOutcomeWord(outcome)}; }
