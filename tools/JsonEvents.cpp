#include "tools/JsonEvents.h"

#include <nlohmann/json.hpp>
#include <ostream>

namespace {

using json = nlohmann::json;

const char* KindWord(TMessageKind kind) {
  switch (kind) {
    case TMessageKind::Warning:
      return "warning";
    case TMessageKind::Information:
      return "information";
    case TMessageKind::Confirmation:
      return "confirmation";
  }
  return "warning";
}

}  // namespace

template <typename Json>
void TJsonEvents::Write(const Json& event) {
  // Texts are UTF-8 already; a stray byte from a device must not end the
  // stream, so it is replaced rather than refused.
  Out << event.dump(-1, ' ', false, json::error_handler_t::replace) << '\n' << std::flush;
}

void TJsonEvents::Log(const std::string& text) {
  Write(json{{"event", "log"}, {"text", text}});
}

void TJsonEvents::Status(const std::string& text) {
  Write(json{{"event", "status"}, {"text", text}});
}

void TJsonEvents::Message(TMessageKind kind, const std::string& text) {
  Write(json{{"event", "message"}, {"kind", KindWord(kind)}, {"text", text}});
}

void TJsonEvents::Progress(const TProgress& progress) {
  Write(json{{"event", "progress"},
             {"section", progress.Section},
             {"blocks_done", progress.Done.Blocks},
             {"blocks_total", progress.Total.Blocks},
             {"bytes_done", progress.Done.Bytes},
             {"bytes_total", progress.Total.Bytes}});
}

void TJsonEvents::Device(const std::string& id) {
  Write(json{{"event", "device"}, {"id", id}});
}

void TJsonEvents::Result(const TResult& result) {
  Write(json{{"event", "result"},
             {"outcome", result.Outcome},
             {"exit", result.Exit},
             {"device_id", result.DeviceId.empty() ? json(nullptr) : json(result.DeviceId)},
             {"image", result.Image},
             {"image_sha256", result.ImageSha256},
             {"blocks", result.Written.Done.Blocks},
             {"bytes", result.Written.Done.Bytes},
             {"seconds", result.Seconds},
             {"section", result.Writing ? json(result.Section) : json(nullptr)},
             {"block", result.Writing ? json(result.Block) : json(nullptr)},
             {"reason", result.Reason.empty() ? json(nullptr) : json(result.Reason)}});
}
