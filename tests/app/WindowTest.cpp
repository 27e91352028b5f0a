#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include "app/SplitterBar.h"
#include "engine/FirmwareImage.h"
#include "tests/app/FormHarness.h"
#include "tests/support/SessionProbe.h"

namespace {

std::string Utf8(const QString& text) {
  return text.toStdString();
}

QColor Colour(const QWidget* widget, QPalette::ColorRole role = QPalette::Window) {
  return widget->palette().color(role);
}

// Runs action once the next modal window is open, from inside its loop.
void WhenModalOpens(std::function<void(QWidget*)> action) {
  auto* poll = new QTimer(qApp);
  QObject::connect(poll, &QTimer::timeout, [poll, action] {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      poll->stop();
      poll->deleteLater();
      action(modal);
    }
  });
  poll->start(10);
}

// Types name into the file dialog's name field and presses Open, as an
// operator does. QFileDialog::selectFile() would not do: once the dialog is
// active with the caret in that field it leaves the field as it is, the
// choice is then the folder itself, and Open goes into that folder instead of
// closing, so whether exec() ever returned hung on when the window got
// focus. Returns whether the dialog closed; one that stays open is rejected,
// so that the test fails instead of waiting for ever.
bool ChooseInFileDialog(QWidget* modal, const std::string& name) {
  auto* dialog = qobject_cast<QFileDialog*>(modal);
  auto* field = dialog ? dialog->findChild<QLineEdit*>("fileNameEdit") : nullptr;
  if (field) {
    field->setText(QString::fromStdString(name));
    QMetaObject::invokeMethod(dialog, "accept");
  }
  if (!modal->isVisible()) return true;
  if (auto* box = qobject_cast<QDialog*>(modal)) {
    box->reject();
  } else {
    modal->close();
  }
  return false;
}

TEST(WindowDesign, CaptionsColoursFontsAndInitialStates) {
  TFormHarness harness;
  TForm1& form = harness.Open();
  EXPECT_EQ(Utf8(form.windowTitle()), "Программатор VEQ");
  EXPECT_EQ(Utf8(QApplication::applicationName()), "VEQ_Program");
  EXPECT_EQ(Colour(&form), QColor(212, 208, 200));
  EXPECT_EQ(form.font().pixelSize(), 11);

  EXPECT_EQ(Utf8(form.PanelMode->title()), "Режим");
  EXPECT_EQ(form.PanelMode->height(), 36);
  EXPECT_EQ(Colour(form.PanelMode), QColor(169, 216, 250));
  EXPECT_TRUE(form.PanelMode->font().bold());
  EXPECT_EQ(Utf8(form.rbCom->text()), "COM");
  EXPECT_EQ(Utf8(form.rbUDP->text()), "UDP");
  EXPECT_EQ(form.ButAbout->size(), QSize(24, 24));
  EXPECT_EQ(Utf8(form.ButAbout->toolTip()), "Shift + Подключиться, для вывода доп. сообщений");

  EXPECT_EQ(form.PanelCOM->height(), 33);
  EXPECT_EQ(Colour(form.PanelCOM), QColor(166, 202, 240));
  EXPECT_EQ(Utf8(form.LabelCOM->text()), "COM No:");
  EXPECT_TRUE(form.LabelCOM->font().bold());
  EXPECT_TRUE(form.cbComN->isEnabled());
  for (QComboBox* box : {form.cbBr, form.cbDb, form.cbSb, form.cbPar}) {
    EXPECT_FALSE(box->isEnabled());
  }
  EXPECT_EQ(form.cbBr->count(), 6);
  EXPECT_EQ(Utf8(form.cbBr->itemText(5)), "128000");
  EXPECT_EQ(Utf8(form.cbPar->itemText(4)), "none");

  EXPECT_EQ(form.PanelUDP->height(), 44);
  EXPECT_EQ(Utf8(form.LabIP->text()), "IP:port");
  EXPECT_TRUE(form.EditIP->isEnabled());
  EXPECT_FALSE(form.EditPort->isEnabled());

  EXPECT_EQ(form.PanelFilename->height(), 80);
  EXPECT_EQ(Colour(form.PanelFilename), QColor(207, 233, 252));
  EXPECT_EQ(Utf8(form.GroupBoxFilename->title()), "Файл прошивки");
  EXPECT_FALSE(form.EditFileName->isEnabled());
  EXPECT_EQ(form.ButOpenFile->size(), QSize(24, 24));

  EXPECT_EQ(form.PanelButs->height(), 144);
  EXPECT_EQ(Utf8(form.ButConnect->text()), "Подключиться к устройству");
  EXPECT_EQ(Utf8(form.ButStart->text()), "Начать запись");
  EXPECT_EQ(Utf8(form.ButDisconnect->text()), "Отключиться.");
  EXPECT_TRUE(form.ButConnect->isEnabled());
  EXPECT_FALSE(form.ButStart->isEnabled());
  EXPECT_FALSE(form.ButDisconnect->isEnabled());
  EXPECT_TRUE(form.ButStart->font().bold());
  EXPECT_TRUE(form.Button1->isHidden());
  EXPECT_TRUE(form.LabVer->isHidden());
  EXPECT_EQ(Utf8(form.LabProg->text()), " Прогресс/Статус:");
  EXPECT_EQ(form.LabProg->font().pixelSize(), 13);
  EXPECT_TRUE(form.LabProg->font().bold());

  EXPECT_EQ(form.Splitter1->height(), 1);
  EXPECT_EQ(Colour(form.Splitter1), QColor(128, 0, 0));
  EXPECT_EQ(form.Splitter1->cursor().shape(), Qt::SizeVerCursor);
  EXPECT_EQ(Colour(form.MemoLog, QPalette::Base), QColor(255, 251, 240));
  EXPECT_TRUE(QFontInfo(form.MemoLog->font()).fixedPitch());
  EXPECT_EQ(form.MemoLog->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_TRUE(form.MemoLog->isReadOnly());

  EXPECT_TRUE(form.Timer1->isActive());
  EXPECT_EQ(form.Timer1->interval(), 100);
  EXPECT_EQ(form.StartDir(), harness.Dir.Path());
  EXPECT_EQ(form.ProgressBar->value(), form.ProgressBar->minimum() - 1) << "empty when idle";
}

TEST(WindowDesign, StartFolderIsTheCurrentDirectoryByDefault) {
  TForm1 form(TFormOptions{"/nonexistent/veq.ini", ""});
  EXPECT_EQ(form.StartDir(), std::filesystem::current_path().string());
}

TEST(WindowDesign, StackedPanelsAndTheLogFillTheWindow) {
  TFormHarness harness;
  TForm1& form = harness.Open();
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  EXPECT_EQ(form.PanelMode->y(), 0);
  EXPECT_EQ(form.PanelFilename->y(), form.PanelCOM->geometry().bottom() + 1);
  EXPECT_EQ(form.PanelButs->y(), form.PanelFilename->geometry().bottom() + 1);
  EXPECT_EQ(form.Splitter1->y(), form.PanelButs->geometry().bottom() + 1);
  EXPECT_EQ(form.PanelLog->y(), form.Splitter1->y() + 1);
  EXPECT_EQ(form.PanelLog->geometry().bottom(), form.height() - 1);
  EXPECT_LT(form.ProgressBar->geometry().bottom(), form.LabProg->y()) << "the bar sits above";
  form.grab().save(QString::fromStdString(ScreenshotPath("window-idle.png")));
}

TEST(WindowDesign, DraggingTheSplitterResizesTheButtonsPanel) {
  TFormHarness harness;
  TForm1& form = harness.Open();
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  QTest::mousePress(form.Splitter1, Qt::LeftButton, {}, QPoint(5, 0));
  QMouseEvent drag(QEvent::MouseMove, QPointF(5, -40), form.Splitter1->mapToGlobal(QPointF(5, -40)),
                   Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(form.Splitter1, &drag);
  EXPECT_EQ(form.PanelButsHeight(), 104);
  QMouseEvent tooFar(QEvent::MouseMove, QPointF(5, -400),
                     form.Splitter1->mapToGlobal(QPointF(5, -400)), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
  QApplication::sendEvent(form.Splitter1, &tooFar);
  EXPECT_EQ(form.PanelButsHeight(), 20);
  QTest::mouseRelease(form.Splitter1, Qt::LeftButton);
  harness.Close();
  EXPECT_NE(harness.ReadIni().find("Spl=20\n"), std::string::npos);
}

TEST(WindowMode, TheChosenLinksPanelSitsDirectlyUnderTheModeBox) {
  TFormHarness harness;
  TForm1& form = harness.Open();
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  const int underMode = form.PanelMode->y() + form.PanelMode->height();
  for (int round = 0; round < 2; ++round) {
    QTest::mouseClick(form.rbUDP, Qt::LeftButton);
    QTest::qWait(0);
    EXPECT_TRUE(form.PanelUDP->isVisible());
    EXPECT_FALSE(form.PanelCOM->isVisible());
    EXPECT_EQ(form.PanelUDP->y(), underMode);
    EXPECT_EQ(form.PanelFilename->y(), underMode + form.PanelUDP->height());
    EXPECT_EQ(form.Session.SelectedLink(), TLinkMode::Udp);

    QTest::mouseClick(form.rbCom, Qt::LeftButton);
    QTest::qWait(0);
    EXPECT_TRUE(form.PanelCOM->isVisible());
    EXPECT_FALSE(form.PanelUDP->isVisible());
    EXPECT_EQ(form.PanelCOM->y(), underMode);
    EXPECT_EQ(form.Session.SelectedLink(), TLinkMode::Serial);
  }
}

TEST(WindowMode, ChoosingALinkFromNeitherChecksOnlyThatOne) {
  TFormHarness harness;
  harness.WriteIni("[UDP]\nMode_Checked=3\n");
  TForm1& form = harness.Open();
  form.rbUDP->click();
  EXPECT_TRUE(form.rbUDP->isChecked());
  EXPECT_FALSE(form.rbCom->isChecked());
  EXPECT_EQ(form.Session.SelectedLink(), TLinkMode::Udp);
  form.rbCom->click();
  EXPECT_FALSE(form.rbUDP->isChecked());
  EXPECT_EQ(form.Session.SelectedLink(), TLinkMode::Serial);
}

// Connect fails at once here (the port text names no device), so the click
// costs no device pauses.
TEST(WindowDebug, ShiftClickOnConnectTurnsTheTraceOnAndAPlainClickLeavesItOn) {
  TFormHarness harness;
  harness.WriteIni("[COM]\nNum=no-such-port\n");
  TForm1& form = harness.Open();
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  QTest::mouseClick(form.ButConnect, Qt::LeftButton);
  EXPECT_FALSE(form.Session.InDebugMode());
  QTest::mouseClick(form.ButConnect, Qt::LeftButton, Qt::ShiftModifier);
  EXPECT_TRUE(form.Session.InDebugMode());
  QTest::mouseClick(form.ButConnect, Qt::LeftButton);
  EXPECT_TRUE(form.Session.InDebugMode());
  ASSERT_EQ(harness.Messages.size(), 3u);
  EXPECT_EQ(harness.Messages[0].Text, "no-such-port не удалось открыть.");
}

TEST(WindowCommands, AboutShowsTheHiddenVersionText) {
  TFormHarness harness;
  TForm1& form = harness.Open();
  form.ButAbout->click();
  ASSERT_EQ(harness.Messages.size(), 1u);
  EXPECT_EQ(harness.Messages[0].Kind, TMessageKind::Information);
  EXPECT_EQ(harness.Messages[0].Text, "Версия 3.9 15022022");
}

TEST(WindowOpenDialog, ACancelledDialogStillRechecksTheImage) {
  TFormHarness harness;
  const std::string image =
      harness.Dir.Write("fw.vqf", MakeSection("VEQKUFX01106", 8, std::string(16, 'a'), 1));
  harness.WriteIni("[File]\nPath=" + image + "\n");
  TForm1& form = harness.Open();
  ASSERT_NE(Utf8(form.LabFW->text()), "Нет доступа к файлу.");
  std::filesystem::remove(image);
  std::string filter;
  WhenModalOpens([&](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    filter = Utf8(dialog->nameFilters().join("|"));
    dialog->reject();
  });
  form.ButOpenFile->click();
  EXPECT_EQ(filter, "Файл прошивки VEQ binary (*.vqf)");
  EXPECT_EQ(Utf8(form.LabFW->text()), "Нет доступа к файлу.");
  EXPECT_EQ(Utf8(form.EditFileName->text()), image);
  EXPECT_TRUE(harness.Messages.empty());
}

TEST(WindowOpenDialog, AChosenFileIsTakenAndChecked) {
  TFormHarness harness;
  const std::string image =
      harness.Dir.Write("fw.vqf", MakeSection("VEQOXR_02007", 8, std::string(16, 'a'), 2));
  TForm1& form = harness.Open();
  bool closed = false;
  WhenModalOpens([&](QWidget* modal) { closed = ChooseInFileDialog(modal, image); });
  form.ButOpenFile->click();
  ASSERT_TRUE(closed) << "the file dialog did not take the typed name";
  EXPECT_EQ(Utf8(form.EditFileName->text()), image);
  EXPECT_EQ(Utf8(form.ButOpenFile->toolTip()), image);
  EXPECT_EQ(Probe(form.Session).BoardKind, kBoardKindOxr);
  EXPECT_NE(Utf8(form.LabFW->text()).find("OXR_"), std::string::npos);
  EXPECT_TRUE(harness.Messages.empty());
}

TEST(WindowOpenDialog, AMissingFileIsReportedAndStillTaken) {
  TFormHarness harness;
  TForm1& form = harness.Open();
  const std::string missing = harness.Dir.File("missing.vqf");
  bool closed = false;
  WhenModalOpens([&](QWidget* modal) { closed = ChooseInFileDialog(modal, missing); });
  form.ButOpenFile->click();
  ASSERT_TRUE(closed) << "the file dialog did not take the typed name";
  ASSERT_EQ(harness.Messages.size(), 1u);
  EXPECT_EQ(harness.Messages[0].Kind, TMessageKind::Warning);
  EXPECT_EQ(harness.Messages[0].Text, "Файл не найден: " + missing);
  EXPECT_EQ(Utf8(form.EditFileName->text()), missing);
  EXPECT_EQ(Utf8(form.ButOpenFile->toolTip()), missing);
  EXPECT_EQ(Utf8(form.LabFW->text()), "Нет доступа к файлу.");
}

TEST(WindowMessageBoxes, TheRealBoxesAnswerAsTheEngineExpects) {
  TForm1 form(TFormOptions{"/nonexistent/veq.ini", "/"});
  auto press = [](QMessageBox::StandardButton button) {
    WhenModalOpens([button](QWidget* modal) {
      auto* box = qobject_cast<QMessageBox*>(modal);
      ASSERT_NE(box, nullptr);
      box->button(button)->click();
    });
  };
  press(QMessageBox::Ok);
  EXPECT_EQ(form.MessageBox(TMessageKind::Confirmation, "Внимание!\rВопрос"), TMessageResult::Ok);
  press(QMessageBox::Cancel);
  EXPECT_EQ(form.MessageBox(TMessageKind::Confirmation, "Вопрос"), TMessageResult::Cancel);
  press(QMessageBox::Ok);
  EXPECT_EQ(form.MessageBox(TMessageKind::Warning, "Предупреждение"), TMessageResult::Ok);

  std::string shown;
  int buttons = 0;
  WhenModalOpens([&](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr);
    shown = Utf8(box->text());
    buttons = int(box->buttons().size());
    box->close();  // no choice made
  });
  EXPECT_EQ(form.MessageBox(TMessageKind::Confirmation, "a\rb"), TMessageResult::Cancel);
  EXPECT_EQ(shown, "a\nb");
  EXPECT_EQ(buttons, 2);
}

TEST(WindowCaptions, CarriageReturnsBreakLinesAndTheLogAppendsLines) {
  TForm1 form(TFormOptions{"/nonexistent/veq.ini", "/"});
  form.SetLabFWCaption("Файл для платы: KUFX\rБлоков:2x8 CRC OK");
  EXPECT_EQ(Utf8(form.LabFW->text()), "Файл для платы: KUFX\nБлоков:2x8 CRC OK");
  form.MemoLogAppend("Ожидание...");
  form.MemoLogAppend("Обнаружено устройство VEQKUFX01105");
  EXPECT_EQ(Utf8(form.MemoLog->toPlainText()), "Ожидание...\nОбнаружено устройство VEQKUFX01105");
}

TEST(WindowProgress, ShowsTheShareOfBlocksAndEmptiesWithoutATotal) {
  TForm1 form(TFormOptions{"/nonexistent/veq.ini", "/"});
  form.ShowProgress(1, 4);
  EXPECT_EQ(form.ProgressBar->value(), form.ProgressBar->maximum() / 4);
  form.ShowProgress(9, 4);
  EXPECT_EQ(form.ProgressBar->value(), form.ProgressBar->maximum());
  form.ShowProgress(0, 0);
  EXPECT_EQ(form.ProgressBar->value(), form.ProgressBar->minimum() - 1);
}

// --- The port tool ---

// A stand-in tool that writes each argument it got on a line of its own.
std::string WriteRecordingTool(const std::string& folder) {
  const std::string tool = folder + "/LinkPortCfg.exe";
  std::ofstream(tool) << "#!/bin/sh\n"
                         "printf '%s\\n' \"$#\" \"$@\" > \"$(dirname \"$0\")/argv.tmp\"\n"
                         "mv \"$(dirname \"$0\")/argv.tmp\" \"$(dirname \"$0\")/argv.txt\"\n";
  ::chmod(tool.c_str(), 0755);
  return tool;
}

bool WaitForFile(const std::string& path) {
  for (int i = 0; i < 300 && !std::filesystem::exists(path); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return std::filesystem::exists(path);
}

TEST(WindowPortTool, StartsWithExactlyThreeArgumentsAndNoShell) {
  TFormHarness harness;
  WriteRecordingTool(harness.Dir.Path());
  harness.WriteIni("[UDP]\nUDP_Port=1002\nMode_Checked=1\n");
  TForm1& form = harness.Open();
  form.SetText(TTextControl::EditIP, "1.2.3.4; touch injected $(touch injected2)");
  form.ButVport->click();
  ASSERT_TRUE(WaitForFile(harness.Dir.File("argv.txt")));
  EXPECT_EQ(ReadFile(harness.Dir.File("argv.txt")),
            "3\n1.2.3.4; touch injected $(touch injected2)\n1002\n54321\n");
  EXPECT_FALSE(std::filesystem::exists(harness.Dir.File("injected")));
  EXPECT_FALSE(std::filesystem::exists(harness.Dir.File("injected2")));
  EXPECT_TRUE(harness.Messages.empty());
  // The window waited for nothing and left no child of its own behind.
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

TEST(WindowPortTool, AMissingToolIsReportedWithItsCommandPrefix) {
  TFormHarness harness;
  TForm1& form = harness.Open();
  form.ButVport->click();
  ASSERT_EQ(harness.Messages.size(), 1u);
  EXPECT_EQ(harness.Messages[0].Kind, TMessageKind::Warning);
  EXPECT_EQ(harness.Messages[0].Text,
            "Невозможно найти файл:\r" + harness.Dir.Path() + "/LinkPortCfg.exe ");
}

TEST(WindowPortTool, AFolderOfTheToolsNameIsNoTool) {
  TFormHarness harness;
  std::filesystem::create_directory(harness.Dir.File("LinkPortCfg.exe"));
  TForm1& form = harness.Open();
  form.ButVport->click();
  ASSERT_EQ(harness.Messages.size(), 1u);
  EXPECT_EQ(harness.Messages[0].Text.rfind("Невозможно найти файл:\r", 0), 0u);
}

// The toolkit's own dialogs speak Russian like the rest of the window.
TEST(WindowDesign, TheToolkitsOwnTextsAreRussian) {
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QString("Отмена"));
  EXPECT_EQ(QCoreApplication::translate("QFileDialog", "Look in:"), QString("Перейти к:"));
}

}  // namespace
