// The package extractor on its own, over the sample archives in tests/data (made by
// make-archives.py there).
#include <sys/stat.h>
#include <algorithm>
#include <filesystem>

#include "UpdateTestSupport.h"
#include "os/FileSystem.h"
#include "update/PackageExtractor.h"

namespace {

namespace fs = std::filesystem;
using Result = PackageExtractor::Result;

const char kFunc[] = "CGameRemoteConfig::OnUnzipFile";

class ExtractorTest : public UpdateTest {
 protected:
  // Extracts a copy of the named sample into DataDir (the sample itself must never be touched),
  // recording the callbacks as "started" and "i/n".
  Result Extract(const std::string& sample) {
    archive_ = InstallDir() + "/" + sample;
    fs::copy_file(std::string(VELLMORA_TEST_DATA_DIR) + "/" + sample, archive_, fs::copy_options::overwrite_existing);
    PackageExtractor::Callbacks callbacks;
    callbacks.started = [this] { calls_.push_back("started"); };
    callbacks.progress = [this](uint64_t i, uint64_t n) {
      calls_.push_back(std::to_string(i) + "/" + std::to_string(n));
    };
    return PackageExtractor(DataDir(), std::move(callbacks)).Extract(archive_);
  }

  // Everything below DataDir, relative to it, sorted.
  std::vector<std::string> Written() const {
    std::vector<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(DataDir())) {
      out.push_back(fs::relative(e.path(), DataDir()).string());
    }
    std::sort(out.begin(), out.end());
    return out;
  }

  std::string archive_;
  std::vector<std::string> calls_;
};

mode_t Mode(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_mode & 0777 : 0;
}

TEST_F(ExtractorTest, WritesEntriesInOrderWithProgressAndTouchesNothingElse) {
  ASSERT_EQ(Extract("directory.zip"), Result::Done);

  EXPECT_EQ(Written(), (std::vector<std::string>{"data", "data/a.txt", "readme.txt"}));
  EXPECT_TRUE(fs::is_directory(DataDir() + "/data"));
  EXPECT_EQ(Sandbox::ReadFile(DataDir() + "/data/a.txt"), "inside the data directory\n");
  EXPECT_EQ(Sandbox::ReadFile(DataDir() + "/readme.txt"), "read me\n");
  EXPECT_EQ(calls_, (std::vector<std::string>{"started", "1/3", "2/3", "3/3"}));

  // Extraction only: the archive stays, nothing is reported, registered or recorded.
  EXPECT_TRUE(os::PathExists(archive_));
  EXPECT_TRUE(Telemetry().Messages().empty());
  EXPECT_TRUE(Telemetry().Events().empty());

  std::string log = TakeLog();
  EXPECT_TRUE(LogHas(log, "INFO", kFunc, 393, "unzip file:" + archive_ + " begin"));
  EXPECT_TRUE(LogHas(log, "INFO", kFunc, 426, "data/"));
  EXPECT_TRUE(LogHas(log, "INFO", kFunc, 426, "data/a.txt"));
  EXPECT_TRUE(LogHas(log, "INFO", kFunc, 489, "unzip is finish!"));
}

TEST_F(ExtractorTest, StoredPermissionBitsAreKept) {
  ASSERT_EQ(Extract("executable.zip"), Result::Done);
  EXPECT_EQ(Mode(DataDir() + "/run.sh"), 0755u);
  EXPECT_EQ(Mode(DataDir() + "/data.bin") & 0111, 0u);
  EXPECT_EQ(Sandbox::ReadFile(DataDir() + "/run.sh"), "#!/bin/sh\necho hello\n");
}

TEST_F(ExtractorTest, ArchiveWithAnEntryOutsideTheDestinationIsRefusedBeforeAnythingIsWritten) {
  struct Case {
    const char* sample;
    const char* entry;
    std::string escapedTo;  // where a careless extraction would have put the entry
  };
  const Case cases[] = {
      {"unsafe-parent.zip", "../evil", InstallDir() + "/evil"},
      {"unsafe-absolute.zip", "/tmp/vellmora-evil", "/tmp/vellmora-evil"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sample);
    SetUp();
    calls_.clear();
    fs::remove(c.escapedTo);

    EXPECT_EQ(Extract(c.sample), Result::UnsafeEntry);
    EXPECT_TRUE(Written().empty());  // not even the harmless entry before it
    EXPECT_FALSE(os::PathExists(c.escapedTo));
    EXPECT_EQ(calls_, std::vector<std::string>{"started"});
    std::string log = TakeLog();
    EXPECT_TRUE(LogHas(log, "ERROR", kFunc, 427, std::string("refused entry outside the client directory:") + c.entry));
    EXPECT_EQ(log.find("unzip is finish!"), std::string::npos);
  }
}

TEST_F(ExtractorTest, ArchiveCutShortFailsAndSaysSo) {
  EXPECT_EQ(Extract("truncated.zip"), Result::CannotOpen);
  EXPECT_TRUE(Written().empty());  // its complete first entry included
  EXPECT_EQ(calls_, std::vector<std::string>{"started"});
  std::string log = TakeLog();
  EXPECT_TRUE(LogHas(log, "ERROR", kFunc, 401, "zipfile is NULL!"));
  EXPECT_EQ(log.find("unzip is finish!"), std::string::npos);
}

}  // namespace
