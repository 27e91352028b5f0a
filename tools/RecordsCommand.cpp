#include "tools/RecordsCommand.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <ostream>

#include "records/RecordBook.h"
#include "records/RunRecorder.h"

const TCommandText kRecordsCommand = {
    "records",
    "Использование: veq records [параметры]\n"
    "  Перечисляет записи о запусках veq flash и окна, от старых к новым. Запуск,\n"
    "  который не дошёл до конца (сбой, выключение питания), значится как\n"
    "  interrupted без времени конца.\n"
    "  --records ФАЙЛ     файл записей (по умолчанию как у veq flash)\n"
    "  --device ИД        только это устройство (VEQKUFX01105)\n"
    "  --since ДАТА       начатые не раньше ДАТЫ: ГГГГ-ММ-ДД или ГГГГ-ММ-ДДTЧЧ:ММ:ССZ (UTC)\n"
    "  --outcome СЛОВО    только с этим исходом: written, device-error, wrong-board,\n"
    "                     declined, timeout, not-found, link-failure, image-error,\n"
    "                     interrupted\n"
    "  --json             по объекту JSON в строке\n"
    "  --csv              CSV с заголовком\n"
    "Код выхода: 0, 1 файл записей не читается, 2 ошибка в командной строке.\n",
    {{"--records", "--device", "--since", "--outcome"}, {"--json", "--csv"}}};

namespace {

constexpr int kUnreadableStatus = 1;

const char* const kKeys[] = {"started", "ended",   "host",     "link",          "target",
                             "device_id", "image",  "image_sha256", "board",     "variant",
                             "version",  "blocks",  "bytes",    "seconds",       "outcome",
                             "section",  "block",   "program_version"};

enum class TFormat { Text, Json, Csv };

// Every field in the order of kKeys; null where the record holds none.
nlohmann::ordered_json AsJson(const TRunRecord& r) {
  auto optional = [](const std::optional<int32_t>& value) {
    return value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json(nullptr);
  };
  nlohmann::ordered_json json;
  json["started"] = r.Started;
  json["ended"] = r.Ended.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(r.Ended);
  json["host"] = r.Host;
  json["link"] = r.Link;
  json["target"] = r.Target;
  json["device_id"] = r.DeviceId;
  json["image"] = r.Image;
  json["image_sha256"] = r.ImageSha256;
  json["board"] = r.Board;
  json["variant"] = r.Variant;
  json["version"] = r.Version;
  json["blocks"] = r.Blocks;
  json["bytes"] = r.Bytes;
  json["seconds"] = r.Seconds;
  json["outcome"] = r.Outcome;
  json["section"] = optional(r.Section);
  json["block"] = optional(r.Block);
  json["program_version"] = r.ProgramVersion;
  return json;
}

std::string CsvField(const nlohmann::ordered_json& value) {
  if (value.is_null()) return {};
  const std::string text = value.is_string() ? value.get<std::string>() : value.dump();
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (const char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

void WriteCsv(const std::vector<TRunRecord>& records, std::ostream& out) {
  for (const char* key : kKeys)
    out << (key == kKeys[0] ? "" : ",") << key;
  out << "\r\n";
  for (const TRunRecord& record : records) {
    const nlohmann::ordered_json json = AsJson(record);
    bool first = true;
    for (const auto& [key, value] : json.items()) {
      out << (first ? "" : ",") << CsvField(value);
      first = false;
    }
    out << "\r\n";
  }
}

std::string WhereItEnded(const TRunRecord& r) {
  if (!r.Section) return "-";
  return "раздел " + std::to_string(*r.Section) + ", блок " + std::to_string(*r.Block);
}

void WriteText(const std::vector<TRunRecord>& records, std::ostream& out) {
  for (const TRunRecord& r : records) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f с", r.Seconds);
    out << r.Started << "  " << r.Outcome << "  " << (r.DeviceId.empty() ? "-" : r.DeviceId)
        << "  " << r.Link << " " << r.Target << "  " << r.Board << " " << r.Variant << " "
        << r.Version << "  " << r.Blocks << " бл. " << r.Bytes << " байт  " << seconds << "  "
        << WhereItEnded(r) << "  " << r.Image << '\n';
  }
}

std::string ReadFilter(const TParsedArgs& args, TRecordFilter& filter) {
  filter.DeviceId = args.Value("--device");
  if (args.Has("--since")) {
    const std::optional<std::string> since = ParseUtcText(args.Value("--since"));
    if (!since) {
      return "--since «" + args.Value("--since") +
             "»: нужна дата ГГГГ-ММ-ДД или время ГГГГ-ММ-ДДTЧЧ:ММ:ССZ";
    }
    filter.Since = *since;
  }
  filter.Outcome = args.Value("--outcome");
  if (args.Has("--outcome") &&
      std::find(kRunOutcomeWords.begin(), kRunOutcomeWords.end(), filter.Outcome) ==
          kRunOutcomeWords.end()) {
    return "--outcome «" + filter.Outcome + "»: нет такого исхода";
  }
  return {};
}

std::string RecordsPath(const TParsedArgs& args) {
  return args.Has("--records") ? args.Value("--records") : ChosenRecordsPath();
}

}  // namespace

int RunRecordsCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (ShowHelpIfAsked(kRecordsCommand, args, out)) return 0;
  const TParsedArgs parsed =
      ParseArgs(args, kRecordsCommand.Options);
  if (!parsed.Error.empty()) return UsageError(kRecordsCommand, parsed.Error, err);
  if (!parsed.Operands.empty())
    return UsageError(kRecordsCommand, "лишний аргумент «" + parsed.Operands.front() + "»", err);
  if (parsed.Has("--json") && parsed.Has("--csv"))
    return UsageError(kRecordsCommand, "--json и --csv вместе не идут", err);
  if (parsed.Has("--records") && parsed.Value("--records").empty())
    return UsageError(kRecordsCommand, "--records: нужно имя файла", err);
  TRecordFilter filter;
  if (const std::string error = ReadFilter(parsed, filter); !error.empty())
    return UsageError(kRecordsCommand, error, err);
  const TFormat format = parsed.Has("--json")  ? TFormat::Json
                         : parsed.Has("--csv") ? TFormat::Csv
                                               : TFormat::Text;
  const std::string path = RecordsPath(parsed);
  std::error_code missing;
  if (!std::filesystem::exists(path, missing)) {
    err << "veq records: " << path << ": файла нет, ни один запуск ещё не записан\n";
    return kUnreadableStatus;
  }
  std::vector<TRunRecord> records;
  try {
    TRecordBook book(path, TRecordBook::TAccess::Read);
    records = book.List(filter);
  } catch (const TRecordError& error) {
    err << "veq records: " << path << ": " << error.what() << '\n';
    return kUnreadableStatus;
  }
  switch (format) {
    case TFormat::Json:
      for (const TRunRecord& record : records)
        out << AsJson(record).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
      break;
    case TFormat::Csv:
      WriteCsv(records, out);
      break;
    case TFormat::Text:
      WriteText(records, out);
      break;
  }
  return 0;
}
