#include "records/RunRecorder.h"

#include <filesystem>
#include <utility>

#include "VeqVersion.h"
#include "engine/DisplayText.h"
#include "engine/FirmwareImage.h"
#include "engine/ImageReader.h"
#include "platform/IniFile.h"
#include "platform/UserFolders.h"
#include "records/ImageDigest.h"

namespace {

// The board, variant and version that the image's first header names.
SectionHeader FirstHeader(const std::string& image) {
  TImageReader reader;
  uint8_t bytes[kSectionHeaderSize] = {};
  size_t present = 0;
  if (!reader.Open(image) || !reader.Read(bytes, sizeof bytes, &present) ||
      present != sizeof bytes) {
    return {};
  }
  return ParseSectionHeader({reinterpret_cast<const char*>(bytes), sizeof bytes});
}

std::string Now() { return UtcText(std::chrono::system_clock::now()); }

}  // namespace

TRunRecorder::TRunRecorder(std::string path, TLog log)
    : Path(std::move(path)), Log(std::move(log)) {}

TRunRecorder::~TRunRecorder() = default;

bool TRunRecorder::EnsureBook() {
  if (Book) return true;
  if (Told) return false;
  if (Path == DefaultRecordsPath()) {
    std::error_code error;  // a folder that cannot be made shows when the file is opened
    std::filesystem::create_directories(std::filesystem::path(Path).parent_path(), error);
  }
  try {
    Book = std::make_unique<TRecordBook>(Path, TRecordBook::TAccess::Append);
    return true;
  } catch (const TRecordError& error) {
    NotRecorded(error.what());
    return false;
  }
}

void TRunRecorder::NotRecorded(const std::string& reason) {
  Book.reset();
  if (Told) return;
  Told = true;
  Log("Записи о запусках не ведутся: " + Path + ": " + reason);
}

void TRunRecorder::Started(const std::string& link, const std::string& target,
                           const std::string& image, const std::string& deviceId) {
  Open = false;
  if (!EnsureBook()) return;
  const SectionHeader first = FirstHeader(image);
  Current = TRunRecord();
  Current.Started = Now();
  Current.Host = platform::HostName();
  Current.Link = link;
  Current.Target = target;
  Current.DeviceId = BytesToDisplayText(deviceId);
  Current.Image = std::filesystem::absolute(image).string();
  Current.ImageSha256 = FileSha256(image);
  Current.Board = BytesToDisplayText(first.BoardCode);
  Current.Variant = BytesToDisplayText(first.Variant);
  Current.Version = BytesToDisplayText(first.SwVersion);
  Current.Outcome = kInterruptedWord;
  Current.ProgramVersion = kVeqVersion;
  try {
    Current.Id = Book->Add(Current);
    Open = true;
  } catch (const TRecordError& error) {
    NotRecorded(error.what());
  }
}

void TRunRecorder::Ended(const std::string& outcome, const TProgress& progress,
                         const TRunEnd& end, double seconds, const std::string& deviceId) {
  if (!Open || !Book) return;
  Open = false;
  Current.Ended = Now();
  Current.DeviceId = BytesToDisplayText(deviceId);
  Current.Blocks = progress.Done.Blocks;
  Current.Bytes = progress.Done.Bytes;
  Current.Seconds = seconds;
  Current.Outcome = outcome;
  Current.Section = end.Writing ? std::optional<int32_t>(end.Section) : std::nullopt;
  Current.Block = end.Writing ? std::optional<int32_t>(end.Block) : std::nullopt;
  try {
    Book->Complete(Current);
  } catch (const TRecordError& error) {
    NotRecorded(error.what());
  }
}

std::string DefaultRecordsPath() {
  return (std::filesystem::path(platform::DataHome()) / "veq" / "records.sqlite").string();
}

std::string RecordsPathInSettings(const std::string& iniPath) {
  return platform::GetProfileString(iniPath, "Records", "File", "");
}

std::string ChosenRecordsPath() {
  const std::string inSettings = RecordsPathInSettings(platform::SettingsFileInConfigHome());
  return inSettings.empty() ? DefaultRecordsPath() : inSettings;
}
