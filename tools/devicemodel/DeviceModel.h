#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The boot loader of a VEQ board, as the programmer sees it over the wire.
//
// A pure object: no threads, no I/O, no clock of its own. The caller hands it
// every delivery of bytes it receives together with the current time in
// milliseconds (any monotonic origin, never decreasing) and gets back the
// answers to send, each with the time at which to send it. Over a serial
// line a delivery is whatever one read returned (a block may come in pieces,
// several commands may come together); over UDP a delivery is one datagram.
//
// The dialogue:
//   - before it has booted (BootDelayMs after power-on) everything is ignored;
//   - in its boot state every "S" is answered with the 12-character identity,
//     and "PROG" with "READY", which starts a run (programming mode);
//   - in a run it takes a 21-byte section header and answers "GET"; then the
//     header's BlockCount blocks of BlockSize bytes, answering "GET" after
//     each block and "READY" after the section's last; then the next header;
//   - a header whose FileId holds "VEQENDF" is the end marker: "APP", and
//     the board starts its firmware (it then listens only for the end command);
//   - a header with a zero count (not the end marker) is answered "GET" and
//     the model waits for the next header;
//   - the end command "VEQENDF" puts it back in its boot state. Outside a run
//     it is recognised anywhere in the stream. Inside a run the same seven
//     bytes may begin an end-marker header, so there they count as the end
//     command when they stand alone at the start of a header or block and
//     nothing follows them for longer than FrameGapMs (the programmer pauses
//     500 ms before and 300 ms after the command). The model notices the pause
//     at the next delivery or at Advance().
//   - inside a run, bytes of an unfinished header or block that are followed
//     by a pause longer than FrameGapMs are dropped, like a receiver whose
//     inter-byte time-out has expired.
//
// Answer times: an answer is due AnswerDelayMs after the delivery that
// completed its request. At a line rate (LineRate bits per second) it waits
// besides the time a serial wire at that rate takes for the request's bytes
// and for its own, 11 bits a byte (start, 8 data, parity, stop), so that a
// fast link such as a pseudo-terminal paces the dialogue like that wire.
//
// Block numbers: k counts the data blocks of the current run, 1-based, across
// all its sections (header bytes are not counted), or, with FaultCountsHeaders,
// every header and block of the run in the order they come, the end marker
// included. A run begins with "PROG"; the fault knobs below act on this k and
// so act again in every run.
class TDeviceModel {
 public:
  enum class TFault {
    None,
    Wrong,   // answer "WRONG" instead of the answer to block k
    Err,     // answer "ERR" instead of the answer to block k
    Silent,  // answer nothing from block k on (until the next boot state)
    Noise,   // surround the answer to block k with NoiseBytes
    Split,   // send the answer to block k in two deliveries, SplitGapMs apart
    Gone,    // answer nothing from block k on, and Gone() tells the link to close
  };

  // Bytes that can neither form nor complete an answer: line ends and a
  // byte that is no text, but no capital letter.
  static constexpr const char* kNoiseBytes = "\r\n.\x01";

  struct TSettings {
    std::string Identity = "VEQKUFX01105";  // exactly 12 bytes
    // The identity comes in two deliveries, its second half SplitGapMs later
    // (also the gap of the Split fault).
    bool SplitIdentity = false;
    int64_t SplitGapMs = 10;
    // Bytes sent before and after every answer. They must hold no capital
    // letter, so they can neither form nor complete an answer word.
    std::string Noise;
    int64_t AnswerDelayMs = 0;  // every answer is sent this late
    int64_t LineRate = 0;       // bits per second of the wire played; 0: none
    int64_t BootDelayMs = 0;    // time from power-on until "S" is answered
    int64_t FrameGapMs = 250;
    TFault Fault = TFault::None;
    int FaultBlock = 0;  // k of the fault
    bool FaultCountsHeaders = false;  // k counts headers and the end marker too
  };

  // When to send: AtUs in microseconds on the caller's clock, which is
  // exact at a line rate; AtMs() the same rounded up to a whole millisecond,
  // for a caller whose clock has milliseconds only.
  struct TAnswer {
    std::string Bytes;
    int64_t AtUs = 0;

    int64_t AtMs() const;
  };

  // A section as the board stored it: header and data bytes as received.
  struct TSection {
    std::string Header;
    std::string Data;
  };

  enum class TPhase {
    Boot,     // waiting for "S" and "PROG" (also before it has booted)
    Run,      // programming mode: headers and blocks
    Started,  // answered "APP": the firmware runs
    Failed,   // answered "WRONG" or "ERR"
  };

  // Powered on at time 0. Throws std::invalid_argument for bad settings.
  TDeviceModel();
  explicit TDeviceModel(TSettings settings);

  // The knobs may change between deliveries. Throws std::invalid_argument
  // (and keeps the old settings) for an identity that is not 12 bytes,
  // noise that holds a capital letter or a negative line rate.
  void SetSettings(TSettings settings);
  const TSettings& Settings() const { return Settings_; }

  // Switches the board off and on: boot state, booted BootDelayMs from now.
  void PowerOn(int64_t nowMs);

  // One delivery of received bytes; returns the answers it causes.
  std::vector<TAnswer> Receive(std::string_view bytes, int64_t nowMs);
  // Lets time pass without bytes: applies the pause rule above.
  void Advance(int64_t nowMs);

  TPhase Phase() const { return Phase_; }
  // The bytes received since the board last entered its boot state, in
  // order, whatever became of them, and the end command that put it there:
  // a long-lived board keeps one run's bytes, not every run's.
  const std::string& ReceivedBytes() const { return Received; }
  // How often the fault knob has struck since power-on.
  int FaultsStruck() const { return FaultsStruck_; }
  // The Gone fault has struck: the board has left the wire for good.
  bool Gone() const { return Gone_; }
  // k of the last complete block of the current run (0 before the first).
  int BlocksReceived() const { return BlockNumber; }
  // The sections of the current run that the board accepted completely
  // (the end marker and zero-count headers with their header only).
  const std::vector<TSection>& AcceptedSections() const { return Accepted; }
  // Those sections back to back: the bytes of a .vqf image. For a successful
  // run these are exactly the bytes the programmer read from its image.
  std::string AcceptedImage() const;

 private:
  // A request being answered: its size, and the time of the delivery that
  // completed it.
  struct TRequest {
    size_t Bytes = 0;
    int64_t AtMs = 0;
  };

  static void Validate(const TSettings& settings);
  bool Booted(int64_t nowMs) const { return nowMs >= PowerOnAtMs + Settings_.BootDelayMs; }
  void ApplyPause(int64_t nowMs);
  void EnterBoot();
  void EnterRun();

  size_t ConsumeCommands(std::string_view bytes, int64_t nowMs);
  size_t ConsumeFrame(std::string_view bytes, int64_t nowMs);
  void HeaderComplete(int64_t nowMs);
  void BlockComplete(int64_t nowMs);
  // Counts a complete header or block; true when the fault strikes at it.
  bool FaultHere(bool block);
  // Answers a complete header or block, applying the fault if it struck there;
  // false when the run failed instead.
  bool AnswerFrame(const std::string& word, bool fault, const TRequest& frame);

  void Answer(const std::string& word, const TRequest& request);
  void AnswerIdentity(const TRequest& probe);
  // One delivery of an answer to request, laterMs after its usual time.
  TAnswer Due(std::string bytes, const TRequest& request, int64_t laterMs = 0) const;

  TSettings Settings_;
  int64_t PowerOnAtMs = 0;
  int64_t LastBytesAtMs = 0;
  TPhase Phase_ = TPhase::Boot;
  bool Silenced = false;
  bool Gone_ = false;
  int FaultsStruck_ = 0;

  std::string Received;
  bool ReceivedEnds = false;  // the next delivery starts ReceivedBytes anew
  std::string CommandTail;  // the last bytes outside a run, to find commands
  std::string Frame;        // bytes of the header or block being received
  bool AwaitingHeader = true;
  TSection Current;
  int BlockCount = 0;
  int BlockSize = 0;
  int BlockInSection = 0;
  int BlockNumber = 0;
  int FrameNumber = 0;  // headers and blocks of the run
  std::vector<TSection> Accepted;

  std::vector<TAnswer> Answers;  // of the delivery being handled
};
