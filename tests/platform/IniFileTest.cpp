#include "platform/IniFile.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/TempDir.h"

using namespace platform;

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

TEST(IniRead, MissingFileSectionOrKeyGivesTheDefault) {
  TTempDir dir;
  const std::string ini = dir.Write("a.ini", "[COM]\nbaud=115200\n");
  EXPECT_EQ(GetProfileString(dir.File("none.ini"), "COM", "baud", "9600"), "9600");
  EXPECT_EQ(GetProfileString(ini, "UDP", "baud", "9600"), "9600");
  EXPECT_EQ(GetProfileString(ini, "COM", "Par", "odd"), "odd");
  EXPECT_EQ(GetProfileString(ini, "COM", "baud", "9600"), "115200");
}

TEST(IniRead, PresentEmptyKeyGivesEmptyText) {
  TTempDir dir;
  const std::string ini = dir.Write("a.ini", "[COM]\nNum=\n");
  EXPECT_EQ(GetProfileString(ini, "COM", "Num", "1"), "");
}

TEST(IniRead, NamesMatchRegardlessOfCaseAndBlanks) {
  TTempDir dir;
  const std::string ini = dir.Write("a.ini", "  [ com ]  \r\n  BAUD  =  56000  \r\n");
  EXPECT_EQ(GetProfileString(ini, "Com", "Baud", ""), "56000");
}

TEST(IniRead, FirstSectionAndFirstKeyOfANameCount) {
  TTempDir dir;
  const std::string ini = dir.Write("a.ini", "[A]\nk=1\nK=2\n[a]\nk=3\nonly=4\n");
  EXPECT_EQ(GetProfileString(ini, "a", "k", ""), "1");
  EXPECT_EQ(GetProfileString(ini, "a", "only", "none"), "none");
}

TEST(IniRead, CommentsKeysOutsideSectionsAndOddLinesAreIgnored) {
  TTempDir dir;
  const std::string ini =
      dir.Write("a.ini", "top=0\n[S]\n;k=1\n#k=2\nno equals\n=novalue\nk=v=w\n");
  EXPECT_EQ(GetProfileString(ini, "S", "k", "d"), "v=w");
  EXPECT_EQ(GetProfileString(ini, "", "top", "d"), "d");
  EXPECT_EQ(GetProfileString(ini, "S", "", "d"), "d");
}

TEST(IniRead, ValuesKeepUtf8AndZeroFreeBytes) {
  TTempDir dir;
  const std::string ini = dir.Write("a.ini", "[File]\nPath=/home/оператор/прошивка.vqf\n");
  EXPECT_EQ(GetProfileString(ini, "FILE", "path", ""), "/home/оператор/прошивка.vqf");
}

TEST(IniRead, AFolderInPlaceOfTheFileGivesTheDefault) {
  TTempDir dir;
  std::filesystem::create_directory(dir.File("a.ini"));
  EXPECT_EQ(GetProfileString(dir.File("a.ini"), "S", "k", "d"), "d");
  EXPECT_EQ(GetProfileInt(dir.File("a.ini"), "S", "k", 7), 7);
}

TEST(IniReadInt, DecimalNumbersWithOptionalSign) {
  TTempDir dir;
  const std::string ini = dir.Write("a.ini", "[S]\na=70000\nb=-12\nc=+5\nd= 42 \n");
  EXPECT_EQ(GetProfileInt(ini, "S", "a", 0), 70000);
  EXPECT_EQ(GetProfileInt(ini, "S", "b", 0), -12);
  EXPECT_EQ(GetProfileInt(ini, "S", "c", 0), 5);
  EXPECT_EQ(GetProfileInt(ini, "S", "d", 0), 42);
}

TEST(IniReadInt, AnythingElseGivesTheDefault) {
  TTempDir dir;
  const std::string ini = dir.Write(
      "a.ini", "[S]\nempty=\nword=abc\ntail=12ab\nhex=0x10\nhuge=99999999999\nsigns=+-3\n");
  for (const char* key : {"empty", "word", "tail", "hex", "huge", "signs", "missing"}) {
    EXPECT_EQ(GetProfileInt(ini, "S", key, 1001), 1001) << key;
  }
}

TEST(IniWrite, AddsToAMissingFileThenReplacesInPlace) {
  TTempDir dir;
  const std::string ini = dir.File("a.ini");
  ASSERT_TRUE(WriteProfileString(ini, "COM", "Num", "3"));
  ASSERT_TRUE(WriteProfileString(ini, "UDP", "UDP_IP", "10.0.0.1"));
  ASSERT_TRUE(WriteProfileString(ini, "com", "NUM", "4"));
  ASSERT_TRUE(WriteProfileString(ini, "COM", "baud", "600"));
  EXPECT_EQ(ReadFile(ini), "[COM]\nNum=4\nbaud=600\n[UDP]\nUDP_IP=10.0.0.1\n");
}

TEST(IniWrite, KeepsCommentsAndUnknownLines) {
  TTempDir dir;
  const std::string ini = dir.Write("a.ini", "; settings\n[COM]\n; port\nNum=1\n\n[X]\ny=2\n");
  ASSERT_TRUE(WriteProfileString(ini, "COM", "Num", "2"));
  EXPECT_EQ(ReadFile(ini), "; settings\n[COM]\n; port\nNum=2\n\n[X]\ny=2\n");
}

TEST(IniSave, ReplacesTheWholeFileAndLeavesNoTemporaryBehind) {
  TTempDir dir;
  const std::string ini = dir.Write("a.ini", "[Old]\nkey=value\n");
  TProfile profile;
  profile.Set("B", "x", "1");
  profile.Set("A", "y", "2");
  ASSERT_TRUE(SaveProfile(ini, profile));
  EXPECT_EQ(ReadFile(ini), "[B]\nx=1\n[A]\ny=2\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
}

TEST(IniSave, KeepsTheOldFilesPermissions) {
  TTempDir dir;
  const std::string ini = dir.Write("a.ini", "[S]\nk=1\n");
  ASSERT_EQ(::chmod(ini.c_str(), 0640), 0);
  ASSERT_TRUE(WriteProfileString(ini, "S", "k", "2"));
  struct stat info {};
  ASSERT_EQ(::stat(ini.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
}

TEST(IniSave, WritesThroughALinkNamedAsTheFile) {
  TTempDir dir;
  const std::string real = dir.Write("real.ini", "[S]\nk=1\n");
  std::filesystem::create_symlink(real, dir.File("link.ini"));
  ASSERT_TRUE(WriteProfileString(dir.File("link.ini"), "S", "k", "2"));
  EXPECT_TRUE(std::filesystem::is_symlink(dir.File("link.ini")));
  EXPECT_EQ(ReadFile(real), "[S]\nk=2\n");
}

// Root may write anywhere, so the refusals use paths that fail for everyone.
TEST(IniSave, AnImpossiblePathSavesNothingAndKeepsTheOldFile) {
  TTempDir dir;
  const std::string blocker = dir.Write("plain", "not a folder");
  TProfile profile;
  profile.Set("S", "k", "v");
  EXPECT_FALSE(SaveProfile(blocker + "/a.ini", profile));
  EXPECT_FALSE(SaveProfile(dir.File("missing/a.ini"), profile));
  EXPECT_EQ(ReadFile(blocker), "not a folder");
  // A folder in the file's place cannot be replaced by a file.
  std::filesystem::create_directory(dir.File("folder.ini"));
  EXPECT_FALSE(SaveProfile(dir.File("folder.ini"), profile));
  EXPECT_TRUE(std::filesystem::is_directory(dir.File("folder.ini")));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 2);
}

// A file-size limit makes writes fail part-way, as a full disk does. It is
// set in a child process so that nothing else in the test run feels it.
TEST(IniSave, AFailingWriteLeavesTheOldFileWhole) {
  TTempDir dir;
  const std::string ini = dir.Write("a.ini", "[S]\nk=old\n");
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{1024, 1024};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    TProfile profile;
    profile.Set("S", "k", std::string(1 << 16, 'x'));
    ::_exit(SaveProfile(ini, profile) ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the save claimed success";
  EXPECT_EQ(ReadFile(ini), "[S]\nk=old\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
}

TEST(IniProfile, ALineBreakInAValueCannotAddLinesOfItsOwn) {
  TProfile profile;
  profile.Set("File", "Path", "/tmp/a\n[UDP]\r\nUDP_IP=6.6.6.6");
  EXPECT_EQ(profile.Format(), "[File]\nPath=/tmp/a [UDP]  UDP_IP=6.6.6.6\n");
  const TProfile reread = TProfile::Parse(profile.Format());
  EXPECT_EQ(reread.Find("UDP", "UDP_IP"), nullptr);
}

TEST(IniProfile, FormatsWhatItParsed) {
  const std::string text = "lead\n[A]\nk=v\n; note\n[B]\n";
  EXPECT_EQ(TProfile::Parse(text).Format(), text);
}

// Carriage returns at a line's end or beside a value are line-end noise: kept,
// one would be read as part of the line end the next time, and every rewrite
// would change the file again.
TEST(IniProfile, CarriageReturnsAroundAValueAreDropped) {
  for (const char* text : {"[A]\r\r\nk=v\r\r\n", "[A]\nk=v\r \n", "[A]\nk= \rv\n"}) {
    const TProfile once = TProfile::Parse(text);
    ASSERT_NE(once.Find("A", "k"), nullptr) << text;
    EXPECT_EQ(*once.Find("A", "k"), "v") << text;
    EXPECT_EQ(TProfile::Parse(once.Format()).Format(), once.Format()) << text;
  }
}

}  // namespace
