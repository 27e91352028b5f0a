#pragma once

#include "engine/Session.h"

// The tests' way into the session's state: the front ends only read it
// through the session's accessors, while a test sets up the state it wants
// to look at. Probe(session).SessionState = TSessionState::Found.
class TSessionProbe {
 public:
  explicit TSessionProbe(TSession& session)
      : SessionState(session.SessionState),
        AnswerReceived(session.AnswerReceived),
        EndMarkerSeen(session.EndMarkerSeen),
        FileOpen(session.FileOpen),
        BlockIndex(session.BlockIndex),
        SectionIndex(session.SectionIndex),
        BlockSize(session.BlockSize),
        RxBuffer(session.RxBuffer),
        DeviceId(session.DeviceId),
        BoardKind(session.BoardKind),
        WaitTime(session.WaitTime),
        TxBuffer(session.TxBuffer),
        LinkMode(session.LinkMode),
        UdpTargetIp(session.UdpTargetIp),
        SavedIp(session.SavedIp) {}

  TSessionState& SessionState;
  bool& AnswerReceived;
  bool& EndMarkerSeen;
  bool& FileOpen;
  int32_t& BlockIndex;
  int32_t& SectionIndex;
  int32_t& BlockSize;
  std::string& RxBuffer;
  std::string& DeviceId;
  uint8_t& BoardKind;
  uint32_t& WaitTime;
  std::array<uint8_t, kMaxBlockSize>& TxBuffer;
  TLinkMode& LinkMode;
  std::string& UdpTargetIp;
  std::string& SavedIp;
};

inline TSessionProbe Probe(TSession& session) {
  return TSessionProbe(session);
}
