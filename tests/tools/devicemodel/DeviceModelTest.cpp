#include "tools/devicemodel/DeviceModel.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "engine/FirmwareImage.h"

namespace {

using namespace std::string_literals;
using TFault = TDeviceModel::TFault;
using TPhase = TDeviceModel::TPhase;

std::string Pattern(size_t size, uint8_t seed) {
  std::string data(size, '\0');
  for (size_t i = 0; i < size; ++i)
    data[i] = static_cast<char>(seed + i * 13);
  return data;
}

std::string EndMarker() {
  SectionHeader header;
  header.FileId = "VEQENDF00000";
  return EncodeSectionHeader(header);
}

// Section 0: 3 blocks of 16 bytes; section 1: 2 blocks of 32; the end marker.
const std::string kImage = MakeSection("VEQKUFX01105", 16, Pattern(48, 1), 1) +
                           MakeSection("VEQKUFX01105", 32, Pattern(64, 7), 1) + EndMarker();
const std::vector<std::string> kRunAnswers = {"GET", "GET", "GET",   "READY",
                                              "GET", "GET", "READY", "APP"};

std::vector<std::string> Words(const std::vector<TDeviceModel::TAnswer>& answers) {
  std::vector<std::string> words;
  for (const auto& answer : answers)
    words.push_back(answer.Bytes);
  return words;
}

// Feeds the bytes in deliveries of at most chunk bytes, all at time now.
std::vector<std::string> Feed(TDeviceModel& model, const std::string& bytes, size_t chunk,
                              int64_t now) {
  std::vector<std::string> words;
  for (size_t at = 0; at < bytes.size(); at += chunk) {
    for (auto& word : Words(model.Receive(bytes.substr(at, chunk), now)))
      words.push_back(word);
  }
  return words;
}

// A model that has answered "PROG" and waits for the first header.
TDeviceModel InRun(TDeviceModel::TSettings settings = {}) {
  TDeviceModel model(std::move(settings));
  model.Receive("PROG", 0);
  return model;
}

TEST(DeviceModelBoot, AnswersEveryProbeAndStartsARunOnProg) {
  TDeviceModel model;
  EXPECT_EQ(Words(model.Receive("S", 0)), std::vector<std::string>{"VEQKUFX01105"});
  // Wake-up bytes and probes may come together; each "S" is answered.
  EXPECT_EQ(Words(model.Receive("\x7E\x7E\x00\x09\xAA\xBB\xCC\xD4\x7ESS"s, 50)),
            (std::vector<std::string>{"VEQKUFX01105", "VEQKUFX01105"}));
  EXPECT_TRUE(model.Receive("PR", 60).empty());
  EXPECT_EQ(Words(model.Receive("OG", 61)), std::vector<std::string>{"READY"});
  EXPECT_EQ(model.Phase(), TPhase::Run);
  EXPECT_EQ(model.ReceivedBytes(), "S\x7E\x7E\x00\x09\xAA\xBB\xCC\xD4\x7ESSPROG"s);
}

TEST(DeviceModelBoot, IgnoresEverythingUntilBooted) {
  TDeviceModel::TSettings settings;
  settings.BootDelayMs = 500;
  TDeviceModel model(settings);
  model.PowerOn(1000);
  EXPECT_TRUE(model.Receive("S", 1000).empty());
  EXPECT_TRUE(model.Receive("SPROG", 1499).empty());
  EXPECT_EQ(model.Phase(), TPhase::Boot);
  EXPECT_EQ(Words(model.Receive("S", 1500)), std::vector<std::string>{"VEQKUFX01105"});
  EXPECT_EQ(model.ReceivedBytes(), "SSPROGS");
}

TEST(DeviceModelBoot, IdentitySplitNoiseAndDelay) {
  TDeviceModel::TSettings settings;
  settings.Identity = "VEQOXR_02007";
  settings.SplitIdentity = true;
  settings.SplitGapMs = 20;
  settings.AnswerDelayMs = 100;
  settings.Noise = "\r\n#";
  TDeviceModel model(settings);
  const auto answers = model.Receive("S", 1000);
  ASSERT_EQ(answers.size(), 2u);
  EXPECT_EQ(answers[0].Bytes, "\r\n#VEQOXR");
  EXPECT_EQ(answers[0].AtMs(), 1100);
  EXPECT_EQ(answers[1].Bytes, "_02007\r\n#");
  EXPECT_EQ(answers[1].AtMs(), 1120);
  const auto ready = model.Receive("PROG", 2000);
  ASSERT_EQ(ready.size(), 1u);
  EXPECT_EQ(ready[0].Bytes, "\r\n#READY\r\n#");
  EXPECT_EQ(ready[0].AtMs(), 2100);
}

TEST(DeviceModelBoot, RefusesBadSettingsAndKeepsTheOldOnes) {
  TDeviceModel::TSettings settings;
  settings.Identity = "VEQKUFX0110";
  EXPECT_THROW(TDeviceModel{settings}, std::invalid_argument);
  TDeviceModel model;
  settings.Identity = "VEQKUFX01106";
  settings.Noise = "..E..";  // could complete "ERR" or "GET"
  EXPECT_THROW(model.SetSettings(settings), std::invalid_argument);
  EXPECT_EQ(model.Settings().Identity, "VEQKUFX01105");
  settings.Noise = "..e..\xFF";
  model.SetSettings(settings);
  EXPECT_EQ(model.Settings().Identity, "VEQKUFX01106");
}

TEST(DeviceModelRun, AcceptsAnImageWhateverTheDeliveries) {
  for (const size_t chunk : {size_t{1}, size_t{5}, size_t{20}, size_t{100}, kImage.size()}) {
    SCOPED_TRACE(chunk);
    TDeviceModel model = InRun();
    EXPECT_EQ(Feed(model, kImage, chunk, 10), kRunAnswers);
    EXPECT_EQ(model.Phase(), TPhase::Started);
    EXPECT_EQ(model.AcceptedImage(), kImage);
    ASSERT_EQ(model.AcceptedSections().size(), 3u);
    EXPECT_EQ(model.AcceptedSections()[1].Header, kImage.substr(21 + 48, 21));
    EXPECT_EQ(model.AcceptedSections()[1].Data, Pattern(64, 7));
    EXPECT_EQ(model.BlocksReceived(), 5);
  }
}

TEST(DeviceModelRun, ZeroCountHeaderIsAcceptedAndTheNextHeaderAwaited) {
  SectionHeader empty;
  empty.FileId = "VEQKUFX01105";
  empty.BlockSize = 512;  // no blocks
  TDeviceModel model = InRun();
  EXPECT_EQ(Words(model.Receive(EncodeSectionHeader(empty), 1)), std::vector<std::string>{"GET"});
  EXPECT_EQ(model.AcceptedImage(), EncodeSectionHeader(empty));
  EXPECT_EQ(Words(model.Receive(EndMarker(), 2)), std::vector<std::string>{"APP"});
}

TEST(DeviceModelRun, BlocksAreCountedAcrossSections) {
  for (const TFault fault : {TFault::Wrong, TFault::Err}) {
    TDeviceModel::TSettings settings;
    settings.Fault = fault;
    settings.FaultBlock = 4;  // the first block of section 1
    TDeviceModel model = InRun(settings);
    const std::string word = fault == TFault::Wrong ? "WRONG" : "ERR";
    // The programmer sends nothing after a block that is not answered.
    const std::string upToBlock4 = kImage.substr(0, 21 + 48 + 21 + 32);
    EXPECT_EQ(Feed(model, upToBlock4, 7, 0),
              (std::vector<std::string>{"GET", "GET", "GET", "READY", "GET", word}));
    EXPECT_EQ(model.Phase(), TPhase::Failed);
    EXPECT_EQ(model.BlocksReceived(), 4);
    EXPECT_EQ(model.AcceptedImage(), kImage.substr(0, 21 + 48));
  }
}

TEST(DeviceModelRun, SilentFromBlockKUntilTheNextBoot) {
  TDeviceModel::TSettings settings;
  settings.Fault = TFault::Silent;
  settings.FaultBlock = 2;
  TDeviceModel model = InRun(settings);
  EXPECT_EQ(Feed(model, kImage, kImage.size(), 0), (std::vector<std::string>{"GET", "GET"}));
  EXPECT_EQ(model.BlocksReceived(), 5);  // it still takes the bytes in
  model.Receive("VEQENDF", 1000);
  model.Advance(2000);
  EXPECT_EQ(model.Phase(), TPhase::Boot);
  EXPECT_EQ(Words(model.Receive("S", 2000)), std::vector<std::string>{"VEQKUFX01105"});
}

TEST(DeviceModelRun, FaultActsAgainInEveryRun) {
  TDeviceModel::TSettings settings;
  settings.Fault = TFault::Err;
  settings.FaultBlock = 1;
  TDeviceModel model = InRun(settings);
  EXPECT_EQ(Feed(model, kImage.substr(0, 21 + 16), 100, 0),
            (std::vector<std::string>{"GET", "ERR"}));
  EXPECT_TRUE(model.Receive("S", 10).empty());  // a failed board answers nothing
  model.Receive("VEQENDF", 600);
  EXPECT_EQ(Words(model.Receive("PROG", 1000)), std::vector<std::string>{"READY"});
  EXPECT_EQ(model.BlocksReceived(), 0);
  EXPECT_TRUE(model.AcceptedSections().empty());
  EXPECT_EQ(Feed(model, kImage.substr(0, 21 + 16), 100, 1000),
            (std::vector<std::string>{"GET", "ERR"}));
}

TEST(DeviceModelEndCommand, OutsideARunAnywhereInTheStream) {
  TDeviceModel model = InRun();
  Feed(model, kImage, kImage.size(), 0);
  ASSERT_EQ(model.Phase(), TPhase::Started);
  EXPECT_TRUE(model.Receive("S", 10).empty());  // the firmware runs
  EXPECT_TRUE(model.Receive("xxVEQE", 20).empty());
  model.Receive("NDFyy", 20);
  EXPECT_EQ(model.Phase(), TPhase::Boot);
  // The sections of the finished run stay readable until the next run.
  EXPECT_EQ(model.AcceptedImage(), kImage);
}

TEST(DeviceModelEndCommand, AloneAtAFrameStartAfterAPause) {
  TDeviceModel model = InRun();
  EXPECT_TRUE(model.Receive("VEQENDF", 500).empty());
  model.Advance(750);  // not yet longer than FrameGapMs
  EXPECT_EQ(model.Phase(), TPhase::Run);
  model.Advance(751);
  EXPECT_EQ(model.Phase(), TPhase::Boot);

  // At a block boundary, as after a section header.
  model = InRun();
  model.Receive(kImage.substr(0, 21), 0);
  model.Receive("VEQENDF", 1000);
  EXPECT_EQ(Words(model.Receive("S", 1300)), std::vector<std::string>{"VEQKUFX01105"});
}

TEST(DeviceModelEndCommand, SameBytesFollowedPromptlyAreAnEndMarkerHeader) {
  TDeviceModel model = InRun();
  const std::string marker = EndMarker();
  EXPECT_TRUE(model.Receive(marker.substr(0, 7), 0).empty());
  EXPECT_EQ(Words(model.Receive(marker.substr(7), 250)), std::vector<std::string>{"APP"});
  EXPECT_EQ(model.Phase(), TPhase::Started);
}

TEST(DeviceModelRun, UnfinishedBlockIsDroppedAfterAPause) {
  TDeviceModel model = InRun();
  model.Receive(kImage.substr(0, 21), 0);
  model.Receive(std::string(10, 'x'), 10);  // a block cut short
  // After the pause the block starts again from its first byte.
  EXPECT_EQ(Words(model.Receive(kImage.substr(21, 16), 300)), std::vector<std::string>{"GET"});
  EXPECT_EQ(model.BlocksReceived(), 1);
  EXPECT_EQ(model.ReceivedBytes().size(), 4 + 21 + 10 + 16u);
}

// kImage cut into what the board receives in order: header, 3 blocks,
// header, 2 blocks, end marker.
std::vector<std::string> Frames() {
  std::vector<std::string> frames;
  size_t at = 0;
  for (const size_t size : {21, 16, 16, 16, 21, 32, 32, 21}) {
    frames.push_back(kImage.substr(at, size));
    at += size;
  }
  return frames;
}

TEST(DeviceModelFault, CountingHeadersStrikesAtEveryHeaderBlockAndTheEndMarker) {
  for (int k = 1; k <= 8; ++k) {
    SCOPED_TRACE(k);
    TDeviceModel::TSettings settings;
    settings.Fault = TFault::Wrong;
    settings.FaultBlock = k;
    settings.FaultCountsHeaders = true;
    TDeviceModel model = InRun(settings);
    const std::vector<std::string> frames = Frames();
    for (int i = 1; i < k; ++i)
      EXPECT_EQ(Words(model.Receive(frames[i - 1], 0)), std::vector<std::string>{kRunAnswers[i - 1]});
    EXPECT_EQ(Words(model.Receive(frames[k - 1], 0)), std::vector<std::string>{"WRONG"});
    EXPECT_EQ(model.Phase(), TPhase::Failed);
    EXPECT_EQ(model.FaultsStruck(), 1);
  }
}

TEST(DeviceModelFault, NoiseAndSplitTouchOnlyTheAnswerToBlockK) {
  TDeviceModel::TSettings settings;
  settings.Fault = TFault::Noise;
  settings.FaultBlock = 2;
  std::vector<std::string> noisy = kRunAnswers;
  noisy[2] = std::string(TDeviceModel::kNoiseBytes) + "GET" + TDeviceModel::kNoiseBytes;
  TDeviceModel withNoise = InRun(settings);
  EXPECT_EQ(Feed(withNoise, kImage, kImage.size(), 0), noisy);

  settings.Fault = TFault::Split;
  settings.FaultBlock = 5;  // the last block of the run: READY, then APP
  settings.SplitGapMs = 7;
  TDeviceModel split = InRun(settings);
  const std::vector<std::string> frames = Frames();
  for (size_t i = 0; i + 2 < frames.size(); ++i)
    split.Receive(frames[i], 0);
  const std::vector<TDeviceModel::TAnswer> halves = split.Receive(frames[6], 100);
  ASSERT_EQ(halves.size(), 2u);
  EXPECT_EQ(halves[0].Bytes + halves[1].Bytes, "READY");
  EXPECT_FALSE(halves[0].Bytes.empty());
  EXPECT_EQ(halves[1].AtMs() - halves[0].AtMs(), 7);
  EXPECT_EQ(Words(split.Receive(frames[7], 200)), std::vector<std::string>{"APP"});
  EXPECT_EQ(split.AcceptedImage(), kImage);
}

TEST(DeviceModelFault, GoneBoardAnswersNothingEverAgain) {
  TDeviceModel::TSettings settings;
  settings.Fault = TFault::Gone;
  settings.FaultBlock = 3;
  TDeviceModel model = InRun(settings);
  EXPECT_FALSE(model.Gone());
  EXPECT_EQ(Feed(model, kImage, kImage.size(), 0), (std::vector<std::string>{"GET", "GET", "GET"}));
  EXPECT_TRUE(model.Gone());
  model.Receive("VEQENDF", 1000);
  model.Advance(2000);
  EXPECT_TRUE(model.Receive("S", 2000).empty()) << "not even after the end command";
}

// A long-lived board keeps the bytes of the run since its last boot state,
// not of every run: two runs leave it holding as much as one.
TEST(DeviceModelReceived, KeepsOnlyTheBytesSinceTheLastBootState) {
  TDeviceModel model;
  size_t afterFirstRun = 0;
  for (int run = 0; run < 2; ++run) {
    const int64_t t = run * 10000;
    model.Receive("SPROG", t);
    EXPECT_EQ(Feed(model, kImage, 40, t), kRunAnswers);
    model.Receive("VEQENDF", t + 1000);
    model.Advance(t + 2000);
    EXPECT_EQ(model.Phase(), TPhase::Boot);
    EXPECT_EQ(model.ReceivedBytes(), "SPROG" + kImage + "VEQENDF");
    if (run == 0) afterFirstRun = model.ReceivedBytes().size();
  }
  EXPECT_EQ(model.ReceivedBytes().size(), afterFirstRun);
}

}  // namespace
