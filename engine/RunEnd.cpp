#include "engine/RunEnd.h"

namespace {

std::string Where(const TRunEnd& end) {
  if (end.AtEndMarker) return "Запись прервана на маркере конца образа";
  if (end.Block == 0) return "Запись прервана на заголовке раздела " + std::to_string(end.Section);
  return "Запись прервана на блоке " + std::to_string(end.Block) + " из " +
         std::to_string(end.BlockCount) + " (раздел " + std::to_string(end.Section) + ")";
}

// A reason that may come before writing or during it.
std::string InRun(const TRunEnd& end, const std::string& before, const std::string& during) {
  return end.Writing ? Where(end) + ": " + during + "." : before + ".";
}

std::string LinkFailureText(const TRunEnd& end) {
  const std::string cause = end.Detail.empty() ? "" : " (" + end.Detail + ")";
  return InRun(end, "Ошибка связи с устройством" + cause, "ошибка связи с устройством" + cause);
}

}  // namespace

std::string RunEndText(const TRunEnd& end) {
  switch (end.Outcome) {
    case TRunOutcome::None:
      return {};
    case TRunOutcome::Written:
      return "Успешно. Устройство перезагружается.";
    case TRunOutcome::DeviceWrong:
      return InRun(end, "Устройство ответило WRONG", "устройство ответило WRONG");
    case TRunOutcome::DeviceErr:
      return InRun(end, "Устройство ответило ERR", "устройство ответило ERR");
    case TRunOutcome::WrongBoard:
      return "Образ не для этой платы: " + end.Detail + ". Ничего не записано.";
    case TRunOutcome::Declined:
      return "Запись отменена: " + end.Detail + ". Ничего не записано.";
    case TRunOutcome::DeviceSilent:
      return InRun(end, "Устройство не ответило", "устройство не ответило за " + end.Detail);
    case TRunOutcome::NotFound:
      return "Устройство не готово к записи за " + end.Detail +
             ": выключите и включите его, проверьте связь и настройки.";
    case TRunOutcome::LinkFailure:
      return LinkFailureText(end);
    case TRunOutcome::ImageFault:
      return InRun(end, "Образ не может быть записан: " + end.Detail, end.Detail);
    case TRunOutcome::Disconnected:
      return end.Writing ? Where(end) + ": отключено. Плата содержит неполный образ, "
                                        "запишите его заново."
                         : "Отключено до начала записи.";
  }
  return {};
}

const char* RunOutcomeWord(TRunOutcome outcome) {
  switch (outcome) {
    case TRunOutcome::Written:
      return "written";
    case TRunOutcome::DeviceWrong:
    case TRunOutcome::DeviceErr:
      return "device-error";
    case TRunOutcome::WrongBoard:
      return "wrong-board";
    case TRunOutcome::Declined:
      return "declined";
    case TRunOutcome::DeviceSilent:
      return "timeout";
    case TRunOutcome::NotFound:
      return "not-found";
    case TRunOutcome::LinkFailure:
      return "link-failure";
    case TRunOutcome::Disconnected:
      return kInterruptedWord;
    case TRunOutcome::None:
    case TRunOutcome::ImageFault:
      break;
  }
  return "image-error";
}
