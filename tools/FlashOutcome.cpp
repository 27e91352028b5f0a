#include "tools/FlashOutcome.h"

TFlashVerdict VerdictOf(TRunOutcome outcome) {
  switch (outcome) {
    case TRunOutcome::Written:
      return {TFlashExit::Written, "written"};
    case TRunOutcome::DeviceWrong:
    case TRunOutcome::DeviceErr:
      return {TFlashExit::DeviceError, "device-error"};
    case TRunOutcome::WrongBoard:
      return {TFlashExit::WrongBoard, "wrong-board"};
    case TRunOutcome::Declined:
      return {TFlashExit::Declined, "declined"};
    case TRunOutcome::DeviceSilent:
      return {TFlashExit::DeviceSilent, "timeout"};
    case TRunOutcome::NotFound:
      return {TFlashExit::NotReady, "not-found"};
    case TRunOutcome::LinkFailure:
      return {TFlashExit::Link, "link-failure"};
    case TRunOutcome::Disconnected:
      return {TFlashExit::Link, kInterruptedWord};
    case TRunOutcome::None:
    case TRunOutcome::ImageFault:
      break;
  }
  // No ending at all: Start could not open the image.
  return {TFlashExit::UsageOrImage, "image-error"};
}
