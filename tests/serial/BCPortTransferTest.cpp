#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

#include "platform/MainThread.h"
#include "serial/BCPort.h"
#include "serial/BCPortInternal.h"
#include "tests/serial/ComPortError.h"
#include "tests/support/PtyPair.h"
#include "tests/support/WaitUntil.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Bytes 0..255 over and over, so that loss or reordering shows.
std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
  return bytes;
}

class BCPortTransferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetMainThread();
    // Events are not the subject here: the port is read directly, and the
    // event thread's hand-over is only served by Close.
    Port.SetPort(Line.SlavePath());
  }
  // Reads until count bytes came or the limit passed.
  std::string ReceiveAll(size_t count, milliseconds limit = milliseconds(3000)) {
    std::string all;
    const auto deadline = Clock::now() + limit;
    while (all.size() < count && Clock::now() < deadline) {
      std::string part;
      Port.ReceiveBytes(part, static_cast<int32_t>(count - all.size()));
      all += part;
      if (part.empty()) std::this_thread::sleep_for(milliseconds(1));
    }
    return all;
  }
  TPtyPair Line;
  TBComPort Port;
};

TEST_F(BCPortTransferTest, BytesBothWaysZeroBytesIncluded) {
  ASSERT_TRUE(Port.Open());
  const std::string toDevice("S\0\r\n\xFF\x11\x13", 7);
  EXPECT_EQ(Port.SendBytes(toDevice), 7);
  EXPECT_EQ(Line.Read(7), toDevice);

  const std::string fromDevice("VEQ\0\x03\x04\r\n\x7F\x80", 10);
  Line.Write(fromDevice);
  EXPECT_EQ(ReceiveAll(10), fromDevice);
}

TEST_F(BCPortTransferTest, SixtyFourKibibytesEachWayWithoutLossOrReordering) {
  ASSERT_TRUE(Port.Open());
  const std::string block = Pattern(64 * 1024);
  std::string atDevice;
  std::thread device([&] { atDevice = Line.Read(block.size()); });
  int32_t written = 0;
  EXPECT_NO_THROW(written = Port.SendBytes(block));
  device.join();
  EXPECT_EQ(written, static_cast<int32_t>(block.size()));
  EXPECT_TRUE(atDevice == block) << "device got " << atDevice.size() << " bytes";

  std::thread sender([&] { Line.Write(block); });
  const std::string atPort = ReceiveAll(block.size());
  sender.join();
  EXPECT_TRUE(atPort == block) << "port got " << atPort.size() << " bytes";
}

TEST_F(BCPortTransferTest, ReadReturnsAtOnceWithWhatIsQueued) {
  ASSERT_TRUE(Port.Open());
  Line.Write("abc");
  ASSERT_TRUE(WaitUntil([&] { return Port.QueuedInputCount() == 3; }));
  std::string data = "old contents";
  const auto start = Clock::now();
  EXPECT_EQ(Port.ReceiveBytes(data, 100), 3);
  EXPECT_EQ(data, "abc");
  EXPECT_EQ(Port.ReceiveBytes(data, 100), 0);
  EXPECT_EQ(data, "");
  EXPECT_LT(Clock::now() - start, milliseconds(50));
}

TEST_F(BCPortTransferTest, EmptyTransfersStartNothing) {
  ASSERT_TRUE(Port.Open());
  EXPECT_EQ(Port.SendBytes(""), 0);
  std::string data = "x";
  EXPECT_EQ(Port.ReceiveBytes(data, 0), 0);
  EXPECT_EQ(data, "");
  EXPECT_EQ(Port.ReceiveBytes(data, -4), 0);
  EXPECT_EQ(Line.Read(1, milliseconds(20)), "");
}

TEST_F(BCPortTransferTest, TransfersOnAClosedPortFailWithoutTouchingAnyDevice) {
  EXPECT_EQ(Port.SendBytes(""), 0);
  EXPECT_EQ(ComPortError([&] { Port.SendBytes("x"); }), "Ошибка записи в порт");
  std::string data;
  EXPECT_EQ(ComPortError([&] { Port.ReceiveBytes(data, 1); }), "Ошибка чтения из порта");
  ASSERT_TRUE(Port.Open());
  Port.Close();
  EXPECT_EQ(ComPortError([&] { Port.SendBytes("x"); }), "Ошибка записи в порт");
  EXPECT_EQ(Line.Read(1, milliseconds(20)), "");
}

TEST_F(BCPortTransferTest, AsyncOperationsNeedARecord) {
  ASSERT_TRUE(Port.Open());
  const std::string text = "Недопустимый параметр Async";
  std::string data;
  char buffer[4];
  EXPECT_EQ(ComPortError([&] { Port.SendBytesAsync("x", nullptr); }), text);
  EXPECT_EQ(ComPortError([&] { Port.SendBufferAsync("x", 1, nullptr); }), text);
  EXPECT_EQ(ComPortError([&] { Port.ReceiveBytesAsync(data, 1, nullptr); }), text);
  EXPECT_EQ(ComPortError([&] { Port.ReceiveBufferAsync(buffer, 4, nullptr); }), text);
  EXPECT_EQ(ComPortError([&] { Port.WaitOperation(nullptr); }), text);
  EXPECT_EQ(Line.Read(1, milliseconds(20)), "");
}

TEST_F(BCPortTransferTest, AsyncRecordKeepsDirectionCopyAndCount) {
  ASSERT_TRUE(Port.Open());
  TPortOperation* op = nullptr;
  NewPortOperation(op);
  ASSERT_NE(op, nullptr);
  EXPECT_EQ(Port.WaitOperation(op), 0);  // nothing started: done at once
  EXPECT_EQ(op->DataCopy, nullptr);

  std::string bytes("PROG\0", 5);
  EXPECT_EQ(Port.SendBytesAsync(bytes, op), 5);
  bytes[0] = 'X';  // the record keeps its own copy
  EXPECT_EQ(op->Direction, odWrite);
  EXPECT_EQ(op->DataSize, 5);
  EXPECT_EQ(std::string(op->DataCopy.get(), 5), std::string("PROG\0", 5));
  EXPECT_EQ(Port.WaitOperation(op), 5);
  EXPECT_EQ(Line.Read(5), std::string("PROG\0", 5));

  Line.Write("GET");
  ASSERT_TRUE(WaitUntil([&] { return Port.QueuedInputCount() == 3; }));
  std::string data;
  EXPECT_EQ(Port.ReceiveBytesAsync(data, 8, op), 3);
  EXPECT_EQ(op->Direction, odRead);
  EXPECT_EQ(Port.WaitOperation(op), 3);
  EXPECT_EQ(data.substr(0, 3), "GET");
  FreePortOperation(op);
  EXPECT_EQ(op, nullptr);
}

TEST_F(BCPortTransferTest, WriteThatCannotCompleteInTimeFails) {
  Port.Timeouts().SetWriteTotalMultiplier(0);
  Port.Timeouts().SetWriteTotalConstant(100);
  ASSERT_TRUE(Port.Open());
  // The device reads nothing: the line's queues fill up and the write stalls.
  const auto start = Clock::now();
  EXPECT_EQ(ComPortError([&] { Port.SendBytes(Pattern(512 * 1024)); }), "Ошибка записи в порт");
  const auto took = Clock::now() - start;
  EXPECT_GE(took, milliseconds(90));
  EXPECT_LT(took, milliseconds(1500));
  EXPECT_TRUE(Port.IsOpen());
  EXPECT_TRUE(Port.Close());
}

TEST_F(BCPortTransferTest, NegativeWriteTimeOutMeansNoLimit) {
  Port.Timeouts().SetWriteTotalMultiplier(0);
  Port.Timeouts().SetWriteTotalConstant(-1);
  ASSERT_TRUE(Port.Open());
  const std::string block = Pattern(512 * 1024);
  std::string atDevice;
  std::thread slowDevice([&] {
    // Starts reading well after a 100 ms limit would have ended the write.
    std::this_thread::sleep_for(milliseconds(300));
    atDevice = Line.Read(block.size());
  });
  int32_t written = 0;
  EXPECT_NO_THROW(written = Port.SendBytes(block));
  slowDevice.join();
  EXPECT_EQ(written, static_cast<int32_t>(block.size()));
  EXPECT_TRUE(atDevice == block);
}

TEST_F(BCPortTransferTest, ReadWithATotalTimeOutWaitsForMissingBytes) {
  Port.Timeouts().SetReadInterval(0);
  Port.Timeouts().SetReadTotalConstant(60);
  ASSERT_TRUE(Port.Open());
  Line.Write("ab");
  ASSERT_TRUE(WaitUntil([&] { return Port.QueuedInputCount() == 2; }));
  std::string data;
  auto start = Clock::now();
  EXPECT_EQ(Port.ReceiveBytes(data, 5), 2);
  EXPECT_GE(Clock::now() - start, milliseconds(55));
  EXPECT_EQ(data, "ab");

  // A limit far beyond the device's pause, so that a loaded machine cannot
  // make the bytes late; returning well within it shows the read ends when
  // the count is complete rather than when the limit passes.
  Port.Timeouts().SetReadTotalConstant(4000);
  std::thread device([&] {
    std::this_thread::sleep_for(milliseconds(10));
    Line.Write("12345");
  });
  start = Clock::now();
  EXPECT_EQ(Port.ReceiveBytes(data, 5), 5);
  EXPECT_LT(Clock::now() - start, milliseconds(2000));  // complete before the limit
  device.join();
  EXPECT_EQ(data, "12345");
}

TEST_F(BCPortTransferTest, ReadThatWaitsForTheFirstByteOnly) {
  Port.Timeouts().SetReadInterval(-1);
  Port.Timeouts().SetReadTotalMultiplier(-1);
  Port.Timeouts().SetReadTotalConstant(2000);
  ASSERT_TRUE(Port.Open());
  std::thread device([&] {
    std::this_thread::sleep_for(milliseconds(20));
    Line.Write("R");
  });
  std::string data;
  const auto start = Clock::now();
  EXPECT_EQ(Port.ReceiveBytes(data, 10), 1);
  EXPECT_LT(Clock::now() - start, milliseconds(1000));
  device.join();
  EXPECT_EQ(data, "R");
}

TEST_F(BCPortTransferTest, ReadFromALineThatHungUpFails) {
  ASSERT_TRUE(Port.Open());
  Line.HangUp();
  std::string data;
  EXPECT_EQ(ComPortError([&] { Port.ReceiveBytes(data, 4); }), "Ошибка чтения из порта");
  EXPECT_EQ(data, "");
  EXPECT_EQ(ComPortError([&] { Port.SendBytes("S"); }), "Ошибка записи в порт");
  EXPECT_TRUE(Port.Close());
}

TEST_F(BCPortTransferTest, WriteRefusedByALineThatHungUpKeepsTheSystemsNumber) {
  ASSERT_TRUE(Port.Open());
  Line.HangUp();
  try {
    Port.SendBytes("S");
    ADD_FAILURE() << "no failure";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.SystemError(), EIO);
  }
}

}  // namespace
