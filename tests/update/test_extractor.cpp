// The package extractor on its own, over the sample archives in tests/data (made by
// make-archives.py there).
#include <sys/stat.h>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>

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

  // The same over an archive built by the test.
  Result ExtractBytes(const std::string& zip) {
    archive_ = InstallDir() + "/built.zip";
    Sandbox::WriteFile(archive_, zip);
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
      out.push_back(fs::relative(e.path(), DataDir()).generic_string());
    }
    std::sort(out.begin(), out.end());
    return out;
  }

  std::string archive_;
  std::vector<std::string> calls_;
};

// n bytes of which about half deflate away (runs of one letter between noise), the same on
// every run: large enough to take several read, inflate and write blocks.
std::string HalfCompressible(size_t n) {
  std::string out(n, '\0');
  uint32_t x = 12345;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    out[i] = (i / 64) % 2 ? static_cast<char>('a' + (i / 4096) % 26) : static_cast<char>(x >> 16);
  }
  return out;
}

// Little-endian fields of an archive with one file entry after first.txt: the entry's CRC-32,
// compressed and uncompressed size are at +14/+18/+22 of its local header and +16/+20/+24 of its
// directory record; a change is made in both, as a consistent archive would carry it.
uint32_t Get32(const std::string& zip, size_t at) {
  uint32_t v = 0;
  std::memcpy(&v, zip.data() + at, 4);
  return v;
}
void Put32(std::string& zip, size_t at, uint32_t v) { std::memcpy(zip.data() + at, &v, 4); }
struct EntryFields {
  size_t local = 0;      // local header
  size_t directory = 0;  // directory record
  size_t data = 0;       // stored bytes
};
EntryFields LastEntry(const std::string& zip) {
  EntryFields f;
  f.local = zip.rfind(std::string("PK\3\4", 4));
  f.directory = zip.rfind(std::string("PK\1\2", 4));
  f.data = f.local + 30 + (Get32(zip, f.local + 26) & 0xFFFF) + (Get32(zip, f.local + 28) & 0xFFFF);
  return f;
}
void PatchBoth(std::string& zip, int localField, int change) {
  const EntryFields f = LastEntry(zip);
  Put32(zip, f.local + localField, Get32(zip, f.local + localField) + change);
  Put32(zip, f.directory + localField + 2, Get32(zip, f.directory + localField + 2) + change);
}

unsigned Mode(const std::string& path) {
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
  EXPECT_EQ(Mode(DataDir() + "/run.sh"), ModeAsKept(0755));
  EXPECT_EQ(Mode(DataDir() + "/data.bin") & 0111, 0u);
  EXPECT_EQ(Sandbox::ReadFile(DataDir() + "/run.sh"), "#!/bin/sh\necho hello\n");
}

// A file is created with its final bits, so one without the owner's write bit must still be
// written in full, and replaces a read-only file of the earlier version; no temporary stays.
TEST_F(ExtractorTest, ReadOnlyEntriesAreWrittenAndReplaceReadOnlyFiles) {
  const std::string body(100000, 'r');
  Sandbox::WriteFile(DataDir() + "/ro.dat", "the installed one\n");
  ASSERT_EQ(::chmod((DataDir() + "/ro.dat").c_str(), 0444), 0);
  ASSERT_EQ(ExtractBytes(BuildZip({{"ro.dat", body, 0444}, {"none.dat", "x", 0400, true}})), Result::Done);
  EXPECT_TRUE(Sandbox::ReadFile(DataDir() + "/ro.dat") == body);
  EXPECT_EQ(Mode(DataDir() + "/ro.dat"), ModeAsKept(0444));
  EXPECT_EQ(Mode(DataDir() + "/none.dat"), ModeAsKept(0400));
  EXPECT_EQ(Written(), (std::vector<std::string>{"none.dat", "ro.dat"}));
}

// The archive is read through a cache of a few blocks: a directory several blocks long (long names,
// so that block edges fall inside them), local headers spread over the file, stored and deflated
// entries between, all come out right.
TEST_F(ExtractorTest, ManyEntriesComeOutAcrossTheArchivesBlocks) {
  std::vector<ZipEntry> entries;
  const int n = 1500;
  auto body = [](int i) { return std::string(static_cast<size_t>(i % 300), static_cast<char>('a' + i % 26)) + "\n"; };
  for (int i = 0; i < n; ++i)
    entries.push_back(
        {std::string(200, static_cast<char>('a' + i % 26)) + "-" + std::to_string(i), body(i), 0, i % 3 == 0});
  ASSERT_EQ(ExtractBytes(BuildZip(entries)), Result::Done);
  EXPECT_EQ(Written().size(), static_cast<size_t>(n));
  for (int i = 0; i < n; i += 97)
    EXPECT_EQ(Sandbox::ReadFile(DataDir() + "/" + entries[static_cast<size_t>(i)].name), body(i)) << i;
  EXPECT_EQ(calls_.back(), std::to_string(n) + "/" + std::to_string(n));
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

// Entry sizes on either side of where the extractor stops writing through the page cache and
// reads and writes on threads beside the inflater.
const size_t kEntrySizes[] = {3 * 1024 * 1024 + 77, 9 * 1024 * 1024 + 77};

TEST_F(ExtractorTest, LargeEntriesComeOutByteForByte) {
  for (size_t size : kEntrySizes) {
    const std::string big = HalfCompressible(size);
    for (bool stored : {false, true}) {
      SCOPED_TRACE(std::string(stored ? "stored " : "deflated ") + std::to_string(size));
      SetUp();
      calls_.clear();
      ASSERT_EQ(ExtractBytes(BuildZip({{"first.txt", "first\n", 0644}, {"big.bin", big, 0600, stored}, {"empty", ""}})),
                Result::Done);
      EXPECT_EQ(Sandbox::ReadFile(DataDir() + "/first.txt"), "first\n");
      EXPECT_TRUE(Sandbox::ReadFile(DataDir() + "/big.bin") == big);
      EXPECT_EQ(Mode(DataDir() + "/big.bin"), ModeAsKept(0600));
      EXPECT_TRUE(os::PathExists(DataDir() + "/empty"));
      EXPECT_EQ(calls_, (std::vector<std::string>{"started", "1/3", "2/3", "3/3"}));
    }
  }
}

// A damaged entry fails the extraction where it stands: the entries before it stay written, the
// damaged one stays as far as it got, nothing after it is touched, no success is logged.
TEST_F(ExtractorTest, DamagedEntryFailsAfterTheEntriesBeforeIt) {
  struct Case {
    const char* name;
    bool stored;
    std::function<void(std::string&)> damage;
  };
  const Case cases[] = {
      {"wrong CRC-32", false, [](std::string& z) { PatchBoth(z, 14, 1); }},
      {"stored bytes changed", true, [](std::string& z) { z[LastEntry(z).data + 1000000] ^= 0x40; }},
      {"deflate stream changed", false, [](std::string& z) { z[LastEntry(z).data + 300000] ^= 0x5A; }},
      {"announced size too large", false, [](std::string& z) { PatchBoth(z, 22, 1); }},
      {"announced size too small", false, [](std::string& z) { PatchBoth(z, 22, -1); }},
      {"stored size too small", true, [](std::string& z) { PatchBoth(z, 22, -1); }},
      {"deflate stream cut short", false, [](std::string& z) { PatchBoth(z, 18, -100); }},
  };
  for (size_t size : kEntrySizes) {
    const std::string big = HalfCompressible(size);
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + " " + std::to_string(size));
      SetUp();
      calls_.clear();
      std::string zip = BuildZip({{"first.txt", "first\n"}, {"big.bin", big, 0, c.stored}});
      c.damage(zip);
      Sandbox::WriteFile(DataDir() + "/big.bin", "the installed one\n");

      EXPECT_EQ(ExtractBytes(zip), Result::EntryFailed);
      EXPECT_EQ(Sandbox::ReadFile(DataDir() + "/first.txt"), "first\n");
      // The damaged entry never replaced the file it was to replace, and left no temporary file.
      EXPECT_EQ(Sandbox::ReadFile(DataDir() + "/big.bin"), "the installed one\n");
      EXPECT_EQ(Written(), (std::vector<std::string>{"big.bin", "first.txt"}));
      EXPECT_EQ(calls_, (std::vector<std::string>{"started", "1/2"}));
      std::string log = TakeLog();
      EXPECT_TRUE(LogHas(log, "INFO", kFunc, 426, "big.bin"));
      EXPECT_EQ(log.find("unzip is finish!"), std::string::npos);
    }
  }
}

// A stop asked for inside an entry (once its temporary file is there) ends the extraction,
// whatever the entry's size and whether it is copied on the calling thread or beside it: the entry
// it was in is not written, nothing after it is touched, no success is logged.
TEST_F(ExtractorTest, StopInsideAnEntryEndsTheExtraction) {
  for (unsigned threads : {1u, 4u}) {
    for (size_t size : kEntrySizes) {
      SCOPED_TRACE(std::to_string(threads) + " threads, " + std::to_string(size));
      SetUp();
      archive_ = InstallDir() + "/built.zip";
      Sandbox::WriteFile(archive_, BuildZip({{"big.bin", HalfCompressible(size)}, {"after.txt", "after\n"}}));
      bool copying = false;
      PackageExtractor::Callbacks callbacks;
      callbacks.stop = [this, &copying] { return copying = copying || !fs::is_empty(DataDir()); };
      EXPECT_EQ(PackageExtractor(DataDir(), std::move(callbacks), threads).Extract(archive_), Result::Stopped);
      EXPECT_TRUE(copying);
      EXPECT_TRUE(Written().empty());  // no half-written file under any name
      EXPECT_EQ(TakeLog().find("unzip is finish!"), std::string::npos);
    }
  }
}

// Archives often leave out the entries of the folders their files are in: the folders are made,
// at any depth, and a folder entry makes its missing parents too.
TEST_F(ExtractorTest, FoldersWithoutEntriesAreMade) {
  ASSERT_EQ(ExtractBytes(BuildZip({{"top.txt", "top\n"},
                                   {"data/nested/a.bin", "a\n"},
                                   {"data/nested/b.bin", "b\n"},
                                   {"data/other/", ""},
                                   {"x/y/z/", ""}})),
            Result::Done);
  EXPECT_EQ(Written(), (std::vector<std::string>{"data", "data/nested", "data/nested/a.bin", "data/nested/b.bin",
                                                 "data/other", "top.txt", "x", "x/y", "x/y/z"}));
  EXPECT_EQ(Sandbox::ReadFile(DataDir() + "/data/nested/b.bin"), "b\n");
  EXPECT_EQ(calls_, (std::vector<std::string>{"started", "1/5", "2/5", "3/5", "4/5", "5/5"}));
}

// What stands in the client folder decides nothing about where the package goes: a link to a
// folder elsewhere is not followed (not even to make a folder there), nor is anything written
// through a file; a link between two folders of the client is, and so is a client folder that is
// itself a link.
TEST_F(ExtractorTest, FoldersAreMadeAndUsedInsideTheDestinationOnly) {
  struct Case {
    const char* name;
    std::function<void(const std::string& outside)> prepare;  // run in an empty DataDir
    std::vector<ZipEntry> entries;
    Result result;
    const char* written;  // a file the extraction must have written, relative to DataDir
    const char* refused;  // the folder the refusal names
  };
  const Case cases[] = {
      {"a link out, folder entries listed",
       [this](const std::string& outside) { fs::create_directory_symlink(outside, DataDir() + "/data"); },
       {{"data/", ""}, {"data/sub/", ""}, {"data/sub/a.txt", "escaped\n"}},
       Result::LocalFailure,
       nullptr,
       "data/sub"},
      {"a link out, no folder entries",
       [this](const std::string& outside) { fs::create_directory_symlink(outside, DataDir() + "/data"); },
       {{"data/a.txt", "escaped\n"}},
       Result::LocalFailure,
       nullptr,
       "data"},
      {"a link out, deeper",
       [this](const std::string& outside) {
         fs::create_directories(DataDir() + "/data");
         fs::create_directory_symlink(outside, DataDir() + "/data/link");
       },
       {{"data/link/sub/a.txt", "escaped\n"}},
       Result::LocalFailure,
       nullptr,
       "data/link/sub"},
      {"a file where a folder goes",
       [this](const std::string&) { Sandbox::WriteFile(DataDir() + "/data", "old\n"); },
       {{"data/a.txt", "new\n"}},
       Result::EntryFailed,
       nullptr,
       nullptr},
      {"a link to a folder of the client",
       [this](const std::string&) {
         fs::create_directories(DataDir() + "/real");
         fs::create_directory_symlink("real", DataDir() + "/alias");
       },
       {{"alias/sub/a.txt", "inside\n"}},
       Result::Done,
       "real/sub/a.txt",
       nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    const std::string outside = sandbox_.Root() + "/outside";
    fs::remove_all(outside);
    fs::create_directories(outside);
    c.prepare(outside);

    EXPECT_EQ(ExtractBytes(BuildZip(c.entries)), c.result);
    EXPECT_TRUE(fs::is_empty(outside));
    if (c.written) {
      EXPECT_TRUE(os::PathExists(DataDir() + "/" + c.written));
    }
    std::string log = TakeLog();
    if (c.refused) {
      EXPECT_TRUE(LogHas(log, "ERROR", kFunc, 428,
                         std::string("refused folder leading outside the client directory:") + c.refused));
    }
    if (c.result == Result::EntryFailed) {
      EXPECT_EQ(Sandbox::ReadFile(DataDir() + "/data"), "old\n");
    }
  }
}

TEST_F(ExtractorTest, AClientFolderThatIsALinkIsUsed) {
  const std::string link = InstallDir() + "/client-link";
  fs::create_directory_symlink(DataDir(), link);
  archive_ = InstallDir() + "/built.zip";
  Sandbox::WriteFile(archive_, BuildZip({{"data/a.txt", "a\n"}}));
  EXPECT_EQ(PackageExtractor(link).Extract(archive_), Result::Done);
  EXPECT_EQ(Sandbox::ReadFile(DataDir() + "/data/a.txt"), "a\n");
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
