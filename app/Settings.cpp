#include "app/Settings.h"

#include <QComboBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>
#include <QToolButton>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "app/Form1.h"
#include "platform/IniFile.h"
#include "platform/UserFolders.h"
#include "records/RunRecorder.h"

namespace {

struct TTextKey {
  const char* Key;
  TTextControl Control;
  const char* Default;
};

// Read and written in this order.
const TTextKey kComKeys[] = {
    {"Num", TTextControl::cbComN, "1"},   {"baud", TTextControl::cbBr, "9600"},
    {"DataBit", TTextControl::cbDb, "8"}, {"StopBit", TTextControl::cbSb, "1"},
    {"Par", TTextControl::cbPar, "odd"},
};

// The design's default port "1" names no port here: the first one listed is
// shown in its place, as when no file was stored.
void ShowPortText(TForm1& form, const std::string& text) {
  if (text == kComKeys[0].Default && form.cbComN->count() > 0) {
    form.cbComN->setCurrentIndex(0);
  } else {
    form.SetText(TTextControl::cbComN, text);
  }
}

void LoadComKeys(TForm1& form, const std::string& ini) {
  for (const TTextKey& key : kComKeys) {
    const std::string text = platform::GetProfileString(ini, "COM", key.Key, key.Default);
    if (key.Control == TTextControl::cbComN) {
      ShowPortText(form, text);
    } else {
      form.SetText(key.Control, text);
    }
  }
}

void LoadImagePath(TForm1& form, const std::string& ini) {
  const std::string path = platform::GetProfileString(ini, "File", "Path", "");
  form.SetText(TTextControl::EditFileName, path);
  form.Session.CheckFirmwareFile(path);
  form.ButOpenFile->setToolTip(QString::fromStdString(path));
}

void LoadUdpKeys(TForm1& form, const std::string& ini) {
  TUdpSettings udp;
  udp.TargetIp = platform::GetProfileString(ini, "UDP", "UDP_IP", "192.168.0.254");
  // Ports are stored as 16-bit numbers: only the low 16 bits of what is read count.
  udp.TargetPort = uint16_t(platform::GetProfileInt(ini, "UDP", "UDP_Port", 1001));
  udp.ServerPort = uint16_t(platform::GetProfileInt(ini, "UDP", "UDP_SRV_Port", 12345));
  form.Session.ConfigureUdp(udp);
  form.SetText(TTextControl::EditIP, udp.TargetIp);
  form.EditPort->setText(QString::number(udp.TargetPort));
}

void LoadMode(TForm1& form, const std::string& ini) {
  const auto mode = TLinkMode(uint8_t(platform::GetProfileInt(ini, "UDP", "Mode_Checked", 0)));
  form.Session.SelectLink(mode);
  // Checking a button runs the mode handler, which shows the matching panel;
  // any other value leaves both unchecked and the serial panel as designed.
  TForm1::SetRadioChecked(form.rbUDP, mode == TLinkMode::Udp);
  TForm1::SetRadioChecked(form.rbCom, mode == TLinkMode::Serial);
}

// Squared distance from point to the nearest point of area, 0 inside it.
long long DistanceSquared(const QRect& area, const QPoint& point) {
  const long long dx = point.x() - std::clamp(point.x(), area.left(), area.right());
  const long long dy = point.y() - std::clamp(point.y(), area.top(), area.bottom());
  return dx * dx + dy * dy;
}

// A stored position may come from another set of monitors: the window is
// moved onto the available area of the screen nearest to its centre, whole
// where it fits and with its top left corner visible where it does not.
void KeepOnScreen(TForm1& form) {
  const QRect frame = form.frameGeometry();
  QRect area;
  long long nearest = LLONG_MAX;
  for (const QScreen* screen : QGuiApplication::screens()) {
    const long long distance = DistanceSquared(screen->availableGeometry(), frame.center());
    if (distance < nearest) {
      nearest = distance;
      area = screen->availableGeometry();
    }
  }
  if (area.isEmpty()) return;
  const int x =
      std::clamp(frame.x(), area.left(), std::max(area.left(), area.right() + 1 - frame.width()));
  const int y =
      std::clamp(frame.y(), area.top(), std::max(area.top(), area.bottom() + 1 - frame.height()));
  form.move(x, y);
}

void LoadBounds(TForm1& form, const std::string& ini) {
  form.resize(platform::GetProfileInt(ini, "Form", "Width", form.width()), form.height());
  form.resize(form.width(), platform::GetProfileInt(ini, "Form", "Height", form.height()));
  form.move(platform::GetProfileInt(ini, "Form", "Left", form.x()), form.y());
  form.move(form.x(), platform::GetProfileInt(ini, "Form", "Top", form.y()));
  KeepOnScreen(form);
  form.SetPanelButsHeight(platform::GetProfileInt(ini, "Form", "Spl", form.PanelButsHeight()));
}

}  // namespace

std::string IniPathFor(const std::string& executable) {
  return std::filesystem::path(executable).replace_extension(".ini").string();
}

std::string IniPathBesideExecutable() {
  std::error_code error;
  const auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
  return IniPathFor(error ? std::string("veq-programmer") : executable.string());
}

std::string IniPathInConfigHome() { return platform::SettingsFileInConfigHome(); }

std::string IniPathToRead(const std::string& beside) {
  std::error_code error;
  return std::filesystem::is_regular_file(beside, error) ? beside : IniPathInConfigHome();
}

void LoadSettings(TForm1& form) {
  const std::string& ini = form.IniPath();
  try {
    LoadComKeys(form, ini);
    LoadImagePath(form, ini);
    LoadUdpKeys(form, ini);
    LoadMode(form, ini);
    LoadBounds(form, ini);
    form.SetRecordsFile(RecordsPathInSettings(ini));
  } catch (const std::exception&) {
    // What was applied stays; start-up goes on with the rest as it was.
    form.MemoLogAppend("Нет доступа к файлу INI !!!");
  }
}

namespace {

platform::TProfile CurrentProfile(TForm1& form) {
  const TUdpSettings udp = form.Session.UdpSettings();
  platform::TProfile profile;
  for (const TTextKey& key : kComKeys)
    profile.Set("COM", key.Key, form.Text(key.Control));
  // What the field shows now, which Disconnect may still change afterwards.
  profile.Set("UDP", "UDP_IP", form.Text(TTextControl::EditIP));
  profile.Set("UDP", "UDP_Port", std::to_string(udp.TargetPort));
  profile.Set("UDP", "UDP_SRV_Port", std::to_string(udp.ServerPort));
  profile.Set("UDP", "Mode_Checked", std::to_string(int(form.Session.SelectedLink())));
  profile.Set("File", "Path", form.Text(TTextControl::EditFileName));
  profile.Set("Form", "Width", std::to_string(form.width()));
  profile.Set("Form", "Height", std::to_string(form.height()));
  profile.Set("Form", "Left", std::to_string(form.x()));
  profile.Set("Form", "Top", std::to_string(form.y()));
  profile.Set("Form", "Spl", std::to_string(form.PanelButsHeight()));
  // Only an operator sets it, in the file; a file without it stays without.
  if (!form.RecordsFile().empty()) profile.Set("Records", "File", form.RecordsFile());
  return profile;
}

}  // namespace

bool SaveSettings(TForm1& form) {
  const platform::TProfile profile = CurrentProfile(form);
  if (platform::SaveProfile(form.IniPath(), profile)) return true;
  // The file read or, when it cannot be written, the one in the config
  // folder, which a first start has still to make.
  const std::string fallback = IniPathInConfigHome();
  std::error_code error;
  std::filesystem::create_directories(std::filesystem::path(fallback).parent_path(), error);
  return platform::SaveProfile(fallback, profile);
}
