#include <QComboBox>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QScreen>
#include <QToolButton>

#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/Settings.h"
#include "engine/FirmwareImage.h"
#include "tests/app/FormHarness.h"
#include "tests/support/SessionProbe.h"

namespace {

std::string ComboText(const QComboBox* box) {
  return box->currentText().toStdString();
}

const char kFifteenKeys[] =
    "[COM]\nNum=ttyS0\nbaud=9600\nDataBit=8\nStopBit=1\nPar=odd\n"
    "[UDP]\nUDP_IP=192.168.0.254\nUDP_Port=1001\nUDP_SRV_Port=12345\nMode_Checked=0\n"
    "[File]\nPath=\n"
    "[Form]\nWidth=464\nHeight=423\nLeft=250\nTop=133\nSpl=144\n";

TEST(SettingsPath, IsTheExecutablesPathWithIniForItsExtension) {
  EXPECT_EQ(IniPathFor("/opt/veq/bin/veq-programmer"), "/opt/veq/bin/veq-programmer.ini");
  EXPECT_EQ(IniPathFor("/opt/veq/Programmer.exe"), "/opt/veq/Programmer.ini");
  EXPECT_EQ(IniPathFor("/opt/v.1/prog"), "/opt/v.1/prog.ini");
  const std::string beside = IniPathBesideExecutable();
  EXPECT_EQ(beside, std::filesystem::read_symlink("/proc/self/exe").string() + ".ini");
}

TEST(SettingsLoad, FirstStartWithoutAFileTakesEveryDefault) {
  TFormHarness harness;
  harness.Ports = {"ttyUSB0", "ttyUSB1"};
  TForm1& form = harness.Open();
  EXPECT_EQ(ComboText(form.cbComN), "ttyUSB0") << "the first listed port";
  EXPECT_EQ(ComboText(form.cbBr), "9600");
  EXPECT_EQ(ComboText(form.cbDb), "8");
  EXPECT_EQ(ComboText(form.cbSb), "1");
  EXPECT_EQ(ComboText(form.cbPar), "odd");
  EXPECT_EQ(form.EditFileName->text().toStdString(), "");
  EXPECT_EQ(form.LabFW->text().toStdString(), "Нет доступа к файлу.");
  EXPECT_EQ(form.ButOpenFile->toolTip().toStdString(), "");
  EXPECT_EQ(form.EditIP->text().toStdString(), "192.168.0.254");
  EXPECT_EQ(form.EditPort->text().toStdString(), "1001");
  EXPECT_EQ(form.Session.UdpSettings().TargetIp, "192.168.0.254");
  EXPECT_EQ(form.Session.UdpSettings().TargetPort, 1001);
  EXPECT_EQ(form.Session.UdpSettings().ServerPort, 12345);
  EXPECT_EQ(form.Session.SelectedLink(), TLinkMode::Serial);
  EXPECT_TRUE(form.rbCom->isChecked());
  EXPECT_FALSE(form.rbUDP->isChecked());
  EXPECT_FALSE(form.PanelCOM->isHidden());
  EXPECT_TRUE(form.PanelUDP->isHidden());
  EXPECT_EQ(form.geometry().topLeft(), QPoint(250, 133));
  EXPECT_EQ(form.size(), QSize(464, 423));
  EXPECT_EQ(form.PanelButsHeight(), 144);
  EXPECT_TRUE(harness.Messages.empty());
  EXPECT_EQ(form.MemoLog->toPlainText().toStdString(), "");
}

// "1" is the design's default, which names no port here; any other text is
// what the operator chose and stays, listed or not.
TEST(SettingsLoad, ThePortBoxShowsTheFirstListedPortInPlaceOfTheDefault) {
  const struct {
    const char* Ini;
    std::vector<std::string> Ports;
    const char* Shown;
  } cases[] = {
      {"", {"ttyS0", "ttyUSB0"}, "ttyS0"},
      {"[COM]\nNum=1\n", {"ttyS0", "ttyUSB0"}, "ttyS0"},
      {"[COM]\nNum=ttyUSB0\n", {"ttyS0", "ttyUSB0"}, "ttyUSB0"},
      {"[COM]\nNum=ttyACM3\n", {"ttyS0"}, "ttyACM3"},
      {"[COM]\nNum=1\n", {}, "1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Ini);
    TFormHarness harness;
    harness.Ports = c.Ports;
    if (*c.Ini != '\0') harness.WriteIni(c.Ini);
    TForm1& form = harness.Open();
    if (c.Ports.empty() && form.cbComN->count() > 0) continue;  // this system lists ports
    EXPECT_EQ(ComboText(form.cbComN), c.Shown);
  }
}

TEST(SettingsLoad, AppliesEveryStoredKey) {
  TFormHarness harness;
  const std::string image =
      harness.Dir.Write("fw.vqf", MakeSection("VEQKUFX01106", 8, std::string(16, 'a'), 1));
  harness.WriteIni(
      "[com]\nnum=/dev/ttyUSB0\nBAUD=115200\nDataBit=7\nStopBit=2\nPar=even\n"
      "[File]\nPath=" +
      image +
      "\n"
      "[UDP]\nUDP_IP=10.1.2.3\nUDP_Port=2002\nUDP_SRV_Port=3003\n"
      "[Form]\nWidth=600\nHeight=500\nLeft=10\nTop=20\nSpl=90\n");
  TForm1& form = harness.Open();
  EXPECT_EQ(ComboText(form.cbComN), "/dev/ttyUSB0");
  EXPECT_EQ(ComboText(form.cbBr), "115200");
  EXPECT_EQ(ComboText(form.cbDb), "7");
  EXPECT_EQ(ComboText(form.cbSb), "2");
  EXPECT_EQ(ComboText(form.cbPar), "even");
  EXPECT_EQ(form.EditFileName->text().toStdString(), image);
  EXPECT_EQ(form.ButOpenFile->toolTip().toStdString(), image);
  EXPECT_EQ(Probe(form.Session).BoardKind, kBoardKindKufx);
  EXPECT_NE(form.LabFW->text().toStdString().find("KUFX"), std::string::npos);
  EXPECT_EQ(form.EditIP->text().toStdString(), "10.1.2.3");
  EXPECT_EQ(form.EditPort->text().toStdString(), "2002");
  EXPECT_EQ(form.Session.UdpSettings().ServerPort, 3003);
  EXPECT_EQ(form.geometry().topLeft(), QPoint(10, 20));
  EXPECT_EQ(form.size(), QSize(600, 500));
  EXPECT_EQ(form.PanelButsHeight(), 90);
}

TEST(SettingsLoad, ListTextsOutsideTheListsAreShownAsStored) {
  TFormHarness harness;
  harness.WriteIni("[COM]\nbaud=12345\nPar=Odd\n");
  TForm1& form = harness.Open();
  EXPECT_EQ(ComboText(form.cbBr), "12345");
  EXPECT_EQ(ComboText(form.cbPar), "Odd");
}

TEST(SettingsLoad, APresentButEmptyPortNumberStaysEmpty) {
  TFormHarness harness;
  harness.WriteIni("[COM]\nNum=\n");
  EXPECT_EQ(ComboText(harness.Open().cbComN), "");
}

TEST(SettingsLoad, PortsKeepTheLow16BitsAndNonNumbersGiveTheDefault) {
  TFormHarness harness;
  harness.WriteIni("[UDP]\nUDP_Port=70000\nUDP_SRV_Port=-1\n");
  TForm1& form = harness.Open();
  EXPECT_EQ(form.Session.UdpSettings().TargetPort, 4464);
  EXPECT_EQ(form.EditPort->text().toStdString(), "4464");
  EXPECT_EQ(form.Session.UdpSettings().ServerPort, 65535);

  harness.WriteIni("[UDP]\nUDP_Port=port\nUDP_SRV_Port=12a\n");
  TForm1& again = harness.Open();
  EXPECT_EQ(again.Session.UdpSettings().TargetPort, 1001);
  EXPECT_EQ(again.EditPort->text().toStdString(), "1001");
  EXPECT_EQ(again.Session.UdpSettings().ServerPort, 12345);
}

// Positions stored on another set of monitors: the window lands whole on
// the nearest screen's available area, a position on it stays.
TEST(SettingsLoad, AStoredPositionOffTheScreensIsMovedOntoTheNearestOne) {
  const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
  const struct {
    int Left, Top;
    QPoint Expected;
  } cases[] = {
      {area.left() + 10, area.top() + 20, area.topLeft() + QPoint(10, 20)},
      {area.right() + 3000, area.top() + 20, QPoint(area.right() + 1 - 300, area.top() + 20)},
      {area.left() - 5000, area.bottom() + 5000, QPoint(area.left(), area.bottom() + 1 - 200)},
      {area.right() - 100, area.top() - 50, QPoint(area.right() + 1 - 300, area.top())},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.Left) + "," + std::to_string(c.Top));
    TFormHarness harness;
    harness.WriteIni("[Form]\nWidth=300\nHeight=200\nLeft=" + std::to_string(c.Left) +
                     "\nTop=" + std::to_string(c.Top) + "\nSpl=20\n");
    TForm1& form = harness.Open();
    EXPECT_EQ(form.frameGeometry().topLeft(), c.Expected);
    EXPECT_TRUE(area.contains(form.frameGeometry()));
  }
}

TEST(SettingsLoad, StoredUdpModeShowsTheUdpPanel) {
  TFormHarness harness;
  harness.WriteIni("[UDP]\nMode_Checked=1\n");
  TForm1& form = harness.Open();
  EXPECT_TRUE(form.rbUDP->isChecked());
  EXPECT_FALSE(form.rbCom->isChecked());
  EXPECT_FALSE(form.PanelUDP->isHidden());
  EXPECT_TRUE(form.PanelCOM->isHidden());
  EXPECT_EQ(form.Session.SelectedLink(), TLinkMode::Udp);
}

TEST(SettingsLoad, AnyOtherModeLeavesBothButtonsUncheckedAndTheSerialPanel) {
  TFormHarness harness;
  for (const char* stored : {"3", "7"}) {
    harness.WriteIni(std::string("[UDP]\nMode_Checked=") + stored + "\n");
    TForm1& form = harness.Open();
    EXPECT_FALSE(form.rbUDP->isChecked()) << stored;
    EXPECT_FALSE(form.rbCom->isChecked()) << stored;
    EXPECT_FALSE(form.PanelCOM->isHidden()) << stored;
    EXPECT_TRUE(form.PanelUDP->isHidden()) << stored;
    EXPECT_EQ(form.Session.SelectedLink(), TLinkMode(std::stoi(stored)));
  }
  // Stored as 8 bits: 257 is 1, the UDP link.
  harness.WriteIni("[UDP]\nMode_Checked=257\n");
  EXPECT_TRUE(harness.Open().rbUDP->isChecked());
}

TEST(SettingsLoad, TheButtonsPanelKeepsItsMinimumHeight) {
  TFormHarness harness;
  harness.WriteIni("[Form]\nSpl=3\n");
  EXPECT_EQ(harness.Open().PanelButsHeight(), 20);
}

TEST(SettingsSave, HoldsExactlyTheFifteenKeysInOrderWhateverTheFileHeld) {
  TFormHarness harness;
  harness.Ports = {"ttyS0"};
  harness.WriteIni("; hand-written\n[Extra]\nkey=1\n[COM]\nOther=2\n[Form]\nSpl=144\n");
  TForm1& form = harness.Open();
  SaveSettings(form);
  EXPECT_EQ(harness.ReadIni(), kFifteenKeys);
}

TEST(SettingsSave, WritesWhatTheControlsShowNow) {
  TFormHarness harness;
  harness.WriteIni("[UDP]\nUDP_Port=70000\nMode_Checked=3\n");
  TForm1& form = harness.Open();
  form.SetText(TTextControl::cbComN, "/dev/ttyS4");
  form.SetText(TTextControl::EditIP, "10.9.8.7");
  form.SetText(TTextControl::EditFileName, "/tmp/ä.vqf");
  form.SetPanelButsHeight(100);
  form.resize(500, 450);
  SaveSettings(form);
  const std::string saved = harness.ReadIni();
  EXPECT_NE(saved.find("Num=/dev/ttyS4\n"), std::string::npos);
  EXPECT_NE(saved.find("UDP_IP=10.9.8.7\n"), std::string::npos);
  EXPECT_NE(saved.find("UDP_Port=4464\n"), std::string::npos);
  EXPECT_NE(saved.find("Mode_Checked=3\n"), std::string::npos);
  EXPECT_NE(saved.find("Path=/tmp/ä.vqf\n"), std::string::npos);
  EXPECT_NE(saved.find("Width=500\nHeight=450\n"), std::string::npos);
  EXPECT_NE(saved.find("Spl=100\n"), std::string::npos);
}

TEST(SettingsSave, ClosingSavesAndTheNextStartLoadsTheSameValues) {
  TFormHarness harness;
  TForm1& form = harness.Open();
  form.rbUDP->click();
  form.SetText(TTextControl::EditIP, "127.0.0.1");
  harness.Close();
  TForm1& again = harness.Open();
  EXPECT_TRUE(again.rbUDP->isChecked());
  EXPECT_EQ(again.EditIP->text().toStdString(), "127.0.0.1");
  EXPECT_EQ(again.Session.SelectedLink(), TLinkMode::Udp);
}

// Sets an environment variable (or unsets it for nullptr) for one scope.
class TEnvironment {
 public:
  TEnvironment(const char* name, const char* value) : Name(name) {
    const char* old = std::getenv(name);
    if (old != nullptr) Old = old;
    Had = old != nullptr;
    value != nullptr ? ::setenv(name, value, 1) : ::unsetenv(name);
  }
  ~TEnvironment() { Had ? ::setenv(Name, Old.c_str(), 1) : ::unsetenv(Name); }

 private:
  const char* Name;
  std::string Old;
  bool Had = false;
};

TEST(SettingsPath, TheConfigFolderFollowsXdgConfigHomeElseHome) {
  const struct {
    const char* ConfigHome;
    const char* Expected;
  } cases[] = {
      {"/cfg", "/cfg/veq-programmer/veq-programmer.ini"},
      {nullptr, "/home/op/.config/veq-programmer/veq-programmer.ini"},
      {"", "/home/op/.config/veq-programmer/veq-programmer.ini"},
      {"relative", "/home/op/.config/veq-programmer/veq-programmer.ini"},
  };
  TEnvironment home("HOME", "/home/op");
  for (const auto& c : cases) {
    TEnvironment configHome("XDG_CONFIG_HOME", c.ConfigHome);
    EXPECT_EQ(IniPathInConfigHome(), c.Expected) << (c.ConfigHome ? c.ConfigHome : "unset");
  }
}

TEST(SettingsPath, TheFileBesideTheExecutableIsReadOnlyWhenItExists) {
  TTempDir dir;
  TEnvironment configHome("XDG_CONFIG_HOME", dir.File("config").c_str());
  const std::string beside = dir.File("veq-programmer.ini");
  EXPECT_EQ(IniPathToRead(beside), IniPathInConfigHome());
  dir.Write("veq-programmer.ini", "");
  EXPECT_EQ(IniPathToRead(beside), beside);
}

// A file path whose folder is a regular file cannot be created, even by root.
TEST(SettingsSave, AFileThatCannotBeWrittenGoesToTheConfigFolder) {
  TFormHarness harness;
  TEnvironment configHome("XDG_CONFIG_HOME", harness.Dir.File("config").c_str());
  const std::string plain = harness.Dir.Write("plain", "x");
  harness.IniPath = plain + "/veq-programmer.ini";
  TForm1& form = harness.Open();
  harness.Close();
  EXPECT_TRUE(harness.Messages.empty());
  EXPECT_EQ(form.MemoLog->toPlainText().toStdString().find("Настройки"), std::string::npos);
  EXPECT_EQ(ReadFile(plain), "x");
  const std::string saved = ReadFile(harness.Dir.File("config/veq-programmer/veq-programmer.ini"));
  EXPECT_EQ(saved.rfind("[COM]\nNum=", 0), 0u) << saved;
}

// A first start reads from the config folder, which does not exist yet.
TEST(SettingsSave, AFirstStartMakesTheConfigFolder) {
  TFormHarness harness;
  TEnvironment configHome("XDG_CONFIG_HOME", harness.Dir.File("config").c_str());
  harness.IniPath = IniPathInConfigHome();
  harness.Open();
  harness.Close();
  const std::string saved = ReadFile(harness.Dir.File("config/veq-programmer/veq-programmer.ini"));
  EXPECT_EQ(saved.rfind("[COM]\nNum=", 0), 0u) << saved;
}

TEST(SettingsSave, WhenNothingCanBeWrittenTheLogSaysSoOnce) {
  TFormHarness harness;
  const std::string plain = harness.Dir.Write("plain", "x");
  TEnvironment configHome("XDG_CONFIG_HOME", plain.c_str());
  harness.IniPath = plain + "/veq-programmer.ini";
  TForm1& form = harness.Open();
  form.FormClose();
  form.FormClose();
  EXPECT_TRUE(harness.Messages.empty());
  const std::string log = form.MemoLog->toPlainText().toStdString();
  const std::string line =
      "Настройки не сохранены: нет доступа к " + plain + "/veq-programmer/veq-programmer.ini.";
  EXPECT_EQ(log.rfind(line + "\n", 0), 0u) << log;
  EXPECT_EQ(log.find(line, 1), std::string::npos) << "once";
  EXPECT_EQ(ReadFile(plain), "x");
}

TEST(SettingsSave, AFolderWithoutWriteAccessKeepsTheOldFile) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
  TFormHarness harness;
  harness.WriteIni("[COM]\nNum=7\n");
  ASSERT_EQ(::chmod(harness.Dir.Path().c_str(), 0555), 0);
  harness.Open();
  harness.Close();
  ::chmod(harness.Dir.Path().c_str(), 0755);
  EXPECT_TRUE(harness.Messages.empty());
  EXPECT_EQ(harness.ReadIni(), "[COM]\nNum=7\n");
}

}  // namespace
