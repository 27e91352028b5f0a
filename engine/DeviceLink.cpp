#include <algorithm>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "common/Ipv4Text.h"
#include "engine/DisplayText.h"
#include "engine/Session.h"
#include "engine/uStrBinHex.h"

namespace {

const std::string kPortBusy = "Соединение не установлено. Возможно порт занят";

// The sender is reported in canonical dotted form while the target is what
// the operator typed; they name the same device when they are the same
// address. A host name can only be matched by its text.
bool SameUdpHost(const std::string& sender, const std::string& target) {
  const std::string targetAddress = common::IsLocalhostName(target) ? "127.0.0.1" : target;
  const std::optional<common::TIPv4Bytes> targetIp = common::ParseIPv4(targetAddress);
  if (!targetIp) return sender == target;
  return common::ParseIPv4(sender) == targetIp;
}

}  // namespace

bool TSession::ComSend(const std::string& data) {
  if (BCom == nullptr || !BCom->IsOpen()) return false;
  return BCom->SendBytes(data) != 0;
}

bool TSession::SendToDevice(const std::string& data) {
  bool result = true;
  if (LinkMode == TLinkMode::Serial && BCom != nullptr) {
    result = ComSend(data);
  } else if (LinkMode == TLinkMode::Udp && IdUDPServer1 != nullptr) {
    // A datagram that cannot go out is not the operator's concern here; the
    // session notices the missing answer.
    try {
      IdUDPServer1->SendString(UdpTargetIp, UdpTargetPort, data);
    } catch (const std::exception&) {
      result = false;
    }
  } else {
    Window.MemoLogAppend(" MODE NONE  " + StrToHex(data));
  }
  TraceSend(data, result);
  return result;
}

// The traces are built only in debug mode: every block passes here, and
// turning 2 KiB into text costs more than sending it.
void TSession::TraceSend(const std::string& data, bool sent) {
  if (!DebugMode) return;
  if (sent) {
    DebugLog(">>send Char=" + BytesToDisplayText(data));
    DebugLog(">>send Hex =" + StrToHex(data));
  } else {
    DebugLog("! error !   " + StrToHex(data));
  }
}

void TSession::TraceReceive(const std::string& accepted, size_t count) {
  if (!DebugMode) return;
  DebugLog("<<recv   char=" + BytesToDisplayText(accepted) + "     ");
  DebugLog("<<recv   Hex =" + StrToHex(accepted) + " (" + std::to_string(count) + "byte)");
}

bool TSession::SendTxBuffer() {
  const int32_t length = std::clamp<int32_t>(BlockSize, 0, kMaxBlockSize);
  // From the bytes as a whole: a copy element by element would cost more
  // than the send itself on a large block.
  return SendToDevice(std::string(reinterpret_cast<const char*>(TxBuffer.data()),
                                  static_cast<size_t>(length)));
}

bool TSession::OpenComLink() {
  if (BCom == nullptr) return false;
  const bool opened =
      BCom->OpenClosePort(true, Window.Text(TTextControl::cbComN), Window.Text(TTextControl::cbBr),
                          Window.Text(TTextControl::cbDb), Window.Text(TTextControl::cbPar),
                          Window.Text(TTextControl::cbSb));
  if (!opened) return false;
  Window.MemoLogAppend(BCom->PortSettingsText());
  return true;
}

bool TSession::CloseComLink() {
  // The port is released even when closing reports a failure (a device
  // unplugged mid-run), so the link counts as closed either way.
  try {
    if (BCom != nullptr) BCom->Close();
  } catch (const std::exception& failure) {
    EndSessionOnLinkFailure(failure);
  }
  return true;
}

bool TSession::OpenUdpLink() {
  UdpTargetIp = Window.Text(TTextControl::EditIP);
  if (IdUDPServer1 == nullptr) return false;
  IdUDPServer1->SetDefaultPort(UdpServerPort);
  try {
    IdUDPServer1->SetActive(true);
  } catch (const std::exception&) {
    Window.MessageBox(TMessageKind::Warning, kPortBusy);
    return false;
  }
  return true;
}

void TSession::CloseUdpLink() {
  // Connect pointed EditIP at the fixed address of kind-2 boards.
  if (BoardKind == kBoardKindOxr) Window.SetText(TTextControl::EditIP, SavedIp);
  if (IdUDPServer1 != nullptr) IdUDPServer1->SetActive(false);
}

void TSession::UpdateConnectButtons() {
  const bool linkOpen =
      (BCom != nullptr && BCom->IsOpen()) || (IdUDPServer1 != nullptr && IdUDPServer1->Active());
  Window.SetButtonEnabled(TButton::ButConnect, !linkOpen);
  Window.SetButtonEnabled(TButton::ButDisconnect, linkOpen);
}

void TSession::BComRxChar(int count) {
  std::string received;
  // A failed read must not end the component's event thread; it simply
  // delivers nothing.
  try {
    if (BCom != nullptr) received = BCom->ReceiveBytes(count);
  } catch (const std::exception&) {
    received.clear();
  }
  RxBuffer += received;
  TraceReceive(received, count);
  ParseAnswer();
}

void TSession::BComLineLost() {
  // Only a run on this link cares; otherwise the idle tick closes the port.
  if (SessionState == TSessionState::Idle || LinkMode != TLinkMode::Serial) return;
  EndSessionOnLinkFailure(std::runtime_error("линия оборвана"));
}

void TSession::IdUDPServer1UDPRead(const std::string& data, const std::string& remoteIp,
                                   int remotePort) {
  const bool fromDevice = SameUdpHost(remoteIp, UdpTargetIp) && remotePort == UdpTargetPort;
  // A datagram from anyone else is traced with its size but an empty text.
  const std::string accepted = fromDevice ? data : std::string();
  RxBuffer += accepted;
  TraceReceive(accepted, data.size());
  ParseAnswer();
}
