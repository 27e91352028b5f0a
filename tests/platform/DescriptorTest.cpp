#include "platform/Descriptor.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <chrono>
#include <string>

#include "platform/Files.h"
#include "tests/support/TempDir.h"

namespace {

using namespace std::chrono_literals;

struct TPipe {
  TPipe() {
    int fds[2];
    EXPECT_EQ(::pipe2(fds, O_NONBLOCK | O_CLOEXEC), 0);
    Read.Reset(fds[0]);
    Write.Reset(fds[1]);
  }
  platform::TUniqueFd Read;
  platform::TUniqueFd Write;
};

TEST(WriteAll, AFullDescriptorTimesOutAndTellsWhatWent) {
  TPipe pipe;
  const std::string bytes(4 << 20, 'x');  // more than any pipe holds
  const platform::TWriteResult result =
      platform::WriteAll(pipe.Write.Get(), bytes, std::chrono::steady_clock::now() + 20ms);
  EXPECT_EQ(result.Error, ETIMEDOUT);
  EXPECT_GT(result.Written, 0u);
  EXPECT_LT(result.Written, bytes.size());
}

TEST(WriteAll, AClosedReaderGivesItsErrno) {
  TPipe pipe;
  pipe.Read.Reset();
  ::signal(SIGPIPE, SIG_IGN);
  EXPECT_EQ(platform::WriteAll(pipe.Write.Get(), "x").Error, EPIPE);
}

TEST(WaitReadable, TellsWhichDescriptorHasInputAndEndsOnAWakeSignal) {
  TPipe quiet;
  TPipe talking;
  platform::TWakeSignal wake;
  ASSERT_EQ(platform::WriteAll(talking.Write.Get(), "a").Error, 0);
  const std::array<int, 3> fds{quiet.Read.Get(), talking.Read.Get(), wake.Fd()};
  EXPECT_EQ(platform::WaitReadable(fds, 1000), std::vector<size_t>{1});
  wake.Signal();
  EXPECT_EQ(platform::WaitReadable(fds, -1), (std::vector<size_t>{1, 2}));
  wake.Clear();
  int error = 0;
  EXPECT_EQ(platform::ReadSome(talking.Read.Get(), 16, error), "a");
  EXPECT_TRUE(platform::WaitReadable(fds, 0).empty());
  EXPECT_EQ(platform::ReadSome(talking.Read.Get(), 16, error), "");
}

TEST(WaitReadableUntil, EndsAtItsTimeOrAtInput) {
  TPipe pipe;
  const std::array<int, 1> fds{pipe.Read.Get()};
  const auto start = std::chrono::steady_clock::now();
  const auto until = start + std::chrono::microseconds(1500);
  EXPECT_TRUE(platform::WaitReadableUntil(fds, until).empty());
  EXPECT_GE(std::chrono::steady_clock::now(), until) << "never early";
  EXPECT_TRUE(platform::WaitReadableUntil(fds, start).empty()) << "a time gone: no wait";
  ASSERT_EQ(platform::WriteAll(pipe.Write.Get(), "a").Error, 0);
  EXPECT_EQ(platform::WaitReadableUntil(fds, start + std::chrono::hours(1)),
            std::vector<size_t>{0});
}

TEST(ReadWholeFile, GivesTheBytesOrTheErrno) {
  const TTempDir dir;
  const std::string bytes("a\0b\r\n", 5);
  int error = 0;
  EXPECT_EQ(platform::ReadWholeFile(dir.Write("f", bytes), error), bytes);
  EXPECT_EQ(platform::ReadWholeFile(dir.File("missing"), error), std::nullopt);
  EXPECT_EQ(error, ENOENT);
  EXPECT_EQ(platform::ReadWholeFile(dir.Path(), error), std::nullopt);
  EXPECT_EQ(error, EISDIR);
}

TEST(ReplaceFileAtomically, LeavesAFileOfAnyOtherNameAlone) {
  // Earlier versions wrote through a fixed "<name>.part", overwriting any
  // file of that name.
  const TTempDir dir;
  const std::string part = dir.Write("out.vqf.part", "mine");
  EXPECT_EQ(platform::ReplaceFileAtomically(dir.File("out.vqf"), "new"), 0);
  int error = 0;
  EXPECT_EQ(platform::ReadWholeFile(dir.File("out.vqf"), error), "new");
  EXPECT_EQ(platform::ReadWholeFile(part, error), "mine");
  EXPECT_EQ(platform::ReplaceFileAtomically(dir.File("no-such-folder/out.vqf"), "new"), ENOENT);
}

}  // namespace
