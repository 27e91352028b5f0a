#pragma once

#include <iosfwd>
#include <string>

#include "engine/Session.h"
#include "engine/WindowMembers.h"

// `veq flash --json`: what the run shows a person, as one JSON object a line
// on the output stream, each flushed as it is written so that a reader sees
// it at once. Main thread only.
class TJsonEvents {
 public:
  explicit TJsonEvents(std::ostream& out) : Out(out) {}

  void Log(const std::string& text);
  void Status(const std::string& text);
  void Message(TMessageKind kind, const std::string& text);
  void Progress(const TProgress& progress);
  // The device's identity, once it has announced itself.
  void Device(const std::string& id);

  struct TResult {
    std::string Outcome;
    int Exit = 0;
    std::string DeviceId;
    std::string Image;
    std::string ImageSha256;
    TProgress Written;
    double Seconds = 0;
    bool Writing = false;  // section and block are null otherwise
    int Section = 0;
    int Block = 0;
    std::string Reason;  // the failure's one line, empty on success
  };
  void Result(const TResult& result);

 private:
  template <typename Json>
  void Write(const Json& event);

  std::ostream& Out;
};
