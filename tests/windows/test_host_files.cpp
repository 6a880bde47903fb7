// The Windows host files against the real system: files, digests and signatures, the ANSI code
// page, the log file and the atomic write.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <ctime>
#include <string>

#include "os/CodePage.h"
#include "os/Crypto.h"
#include "os/File.h"
#include "os/FileSystem.h"
#include "os/base/LocalTime.h"
#include "os/base/LogFile.h"

namespace {

// A fresh folder under the user's temporary folder, removed with its files afterwards.
class TempDir {
 public:
  TempDir() {
    wchar_t base[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, base);
    char name[64];
    std::snprintf(name, sizeof name, "vellmora-test-%lu-%lu", GetCurrentProcessId(), GetTickCount());
    path_ = os::JoinPath(Narrow(base), name);
    os::MakeDirectories(path_);
  }
  ~TempDir() {
    for (const std::string& f : files_) os::RemoveFile(f);
    RemoveDirectoryW(Wide(path_).c_str());
  }
  std::string File(const std::string& name) {
    files_.push_back(os::JoinPath(path_, name));
    return files_.back();
  }
  const std::string& Path() const { return path_; }

 private:
  static std::string Narrow(const wchar_t* w) {
    char out[MAX_PATH * 3] = {};
    WideCharToMultiByte(CP_UTF8, 0, w, -1, out, sizeof out, nullptr, nullptr);
    return out;
  }
  static std::wstring Wide(const std::string& s) {
    wchar_t out[MAX_PATH] = {};
    MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, out, MAX_PATH);
    return out;
  }
  std::string path_;
  std::vector<std::string> files_;
};

std::string Hex(const uint8_t* bytes, size_t size) {
  std::string out;
  char two[3];
  for (size_t i = 0; i < size; ++i) {
    std::snprintf(two, sizeof two, "%02x", bytes[i]);
    out += two;
  }
  return out;
}

template <size_t N>
std::array<uint8_t, N> FromHex(const char* hex) {
  std::array<uint8_t, N> out{};
  for (size_t i = 0; i < N; ++i) std::sscanf(hex + 2 * i, "%2hhx", &out[i]);
  return out;
}

}  // namespace

TEST(FileWindows, WritesReadsAtOffsetsAndTruncatesWithoutMovingTheWritePosition) {
  TempDir dir;
  // A name beyond the ANSI code page: the file APIs are the wide ones.
  const std::string path = dir.File("paquet-\xE6\x97\xA5.bin");
  int error = 0;
  os::File file = os::File::Open(path, os::File::Access::ReadWrite, &error);
  ASSERT_TRUE(file.IsOpen()) << error;
  ASSERT_EQ(file.Write("0123456789", 10), 0);
  char buffer[16] = {};
  EXPECT_EQ(file.ReadAt(buffer, 4, 3), 4);
  EXPECT_EQ(std::string(buffer, 4), "3456");
  // Reading at an offset left the write position at the end, as a positioned read does.
  ASSERT_EQ(file.Write("ab", 2), 0);
  EXPECT_EQ(file.Size(), 12);
  // A read past the end returns what there is.
  EXPECT_EQ(file.ReadAt(buffer, sizeof buffer, 8), 4);
  EXPECT_EQ(std::string(buffer, 4), "89ab");
  EXPECT_EQ(file.ReadAt(buffer, sizeof buffer, 100), 0);
  ASSERT_EQ(file.Truncate(5), 0);
  EXPECT_EQ(file.Size(), 5);
  EXPECT_EQ(file.Close(), 0);

  os::File reader = os::File::Open(path, os::File::Access::Read, &error);
  ASSERT_TRUE(reader.IsOpen());
  EXPECT_EQ(reader.ReadAt(buffer, sizeof buffer, 0), 5);
  EXPECT_EQ(std::string(buffer, 5), "01234");

  error = 0;
  EXPECT_FALSE(os::File::Open(dir.File("missing"), os::File::Access::Read, &error).IsOpen());
  EXPECT_EQ(error, ENOENT);
}

TEST(CryptoWindows, DigestsMatchKnownValuesAndRunningDigestsContinue) {
  os::Sha256 sha;
  os::Sha256Value value{};
  ASSERT_TRUE(sha.Update("ab", 2));
  ASSERT_TRUE(sha.Current(value));
  EXPECT_EQ(Hex(value.data(), value.size()), "fb8e20fc2e4c3f248c60c39bd652f3c1347298bb977b8b4d5903b85055620603");
  ASSERT_TRUE(sha.Update("c", 1));  // the digest goes on after Current
  ASSERT_TRUE(sha.Current(value));
  EXPECT_EQ(Hex(value.data(), value.size()), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  ASSERT_TRUE(sha.Reset());
  ASSERT_TRUE(sha.Current(value));
  EXPECT_EQ(Hex(value.data(), value.size()), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");

  std::array<uint8_t, 16> md5{};
  ASSERT_TRUE(os::Md5("abc", 3, md5));
  EXPECT_EQ(Hex(md5.data(), md5.size()), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(CryptoWindows, Ed25519AcceptsTheSignerAndRefusesAnyChange) {
  // The first test vector of the Ed25519 definition (empty message), and one with a message.
  const auto key1 = FromHex<32>("d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a");
  const auto sig1 = FromHex<64>(
      "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33bacc61e39701cf9b46bd25bf5f0595bbe24"
      "655141438e7a100b");
  const auto key2 = FromHex<32>("3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c");
  const auto sig2 = FromHex<64>(
      "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da085ac1e43e15996e458f3613d0f11d8c387b2eaeb4302aee"
      "b00d291612bb0c00");
  const std::string message2("\x72", 1);
  EXPECT_TRUE(os::VerifyEd25519(key1, sig1, ""));
  EXPECT_TRUE(os::VerifyEd25519(key2, sig2, message2));
  EXPECT_FALSE(os::VerifyEd25519(key1, sig1, "x"));  // another message
  EXPECT_FALSE(os::VerifyEd25519(key2, sig1, ""));   // another key
  auto bent = sig2;
  bent[63] ^= 0x01;
  EXPECT_FALSE(os::VerifyEd25519(key2, bent, message2));  // a changed signature
}

TEST(CodePageWindows, TheSystemAnsiCodePageRoundTripsAndMarksWhatItLacks) {
  EXPECT_EQ(os::Utf8ToAnsi("plain text"), "plain text");
  EXPECT_EQ(os::AnsiToUtf8("plain text"), "plain text");
  EXPECT_EQ(os::Utf8ToAnsi(""), "");
  if (GetACP() == 1252) {
    EXPECT_EQ(os::Utf8ToAnsi("caf\xC3\xA9"), "caf\xE9");
    EXPECT_EQ(os::AnsiToUtf8("caf\xE9"), "caf\xC3\xA9");
    EXPECT_EQ(os::Utf8ToAnsi("\xE6\x97\xA5"), "?");  // no CJK in the Western code page
  }
}

TEST(LogFileWindows, CreatesAppendsRestartsAndTellsAMissingFile) {
  TempDir dir;
  const std::string path = dir.File("vellmora.log");
  os::LogFile log;
  EXPECT_EQ(log.Open(path, false), os::LogFile::Opened::Missing);
  EXPECT_FALSE(os::PathExists(path));
  ASSERT_EQ(log.Open(path, true), os::LogFile::Opened::Yes);
  ASSERT_TRUE(log.Append("one\r\n", 5));
  log.Close();
  ASSERT_EQ(log.Open(path, false), os::LogFile::Opened::Yes);
  ASSERT_TRUE(log.Append("two\r\n", 5));
  std::string content;
  ASSERT_TRUE(os::ReadFile(path, content));
  EXPECT_EQ(content, "one\r\ntwo\r\n");
  log.Restart();
  ASSERT_TRUE(log.Append("three\r\n", 7));
  log.Close();
  ASSERT_TRUE(os::ReadFile(path, content));
  EXPECT_EQ(content, "three\r\n");
  EXPECT_TRUE(os::LogFile::DirectoryExists(path));
  EXPECT_FALSE(os::LogFile::DirectoryExists(os::JoinPath(dir.Path(), "no\\such.log")));
  EXPECT_EQ(log.Open(os::JoinPath(dir.Path(), "no\\such.log"), true), os::LogFile::Opened::Missing);
}

TEST(LocalTimeWindows, StampsLikeTheCLibrary) {
  const std::time_t when = 1700000000;
  std::tm parts{};
  ASSERT_EQ(localtime_s(&parts, &when), 0);
  char expected[64];
  // The C runtime's strftime has no %e: the day is padded with a blank by hand, as ctime pads it.
  std::strftime(expected, sizeof expected, "%a %b %d %H:%M:%S %Y", &parts);
  if (expected[8] == '0') expected[8] = ' ';
  EXPECT_EQ(os::LocalTimeText(when), expected);
}

TEST(FileSystemWindows, AtomicWritesReplaceAndReadsTellMissingFromFolders) {
  TempDir dir;
  const std::string path = dir.File("state.txt");
  std::string content;
  EXPECT_EQ(os::ReadRegularFile(path, content), os::ReadOutcome::Missing);
  ASSERT_EQ(os::WriteFileAtomically(path, "first"), 0);
  ASSERT_EQ(os::WriteFileAtomically(path, "second"), 0);
  EXPECT_EQ(os::ReadRegularFile(path, content), os::ReadOutcome::Read);
  EXPECT_EQ(content, "second");
  EXPECT_EQ(os::RegularFileSize(path), 6);
  EXPECT_EQ(os::ReadRegularFile(dir.Path(), content), os::ReadOutcome::NotRegular);
  EXPECT_EQ(os::RegularFileSize(dir.Path()), -1);
  EXPECT_EQ(os::JoinPath("C:", "qvx-harlu7"), "C:\\qvx-harlu7");
  EXPECT_EQ(os::DirName("C:\\a\\b"), "C:\\a");
  EXPECT_EQ(os::BaseName("C:\\a\\b"), "b");
  EXPECT_GT(os::FreeBytes(dir.Path()), 0);
}
