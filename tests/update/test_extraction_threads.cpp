// Extraction on several threads against extraction on the calling thread alone, over a package of
// many small files and a few large ones: the same files with the same bytes and modes, the same
// log lines, the same progress and the same result, whether it runs through, fails on the way or
// is stopped.
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
#include <thread>

#include "UpdateTestSupport.h"
#include "support/Sandbox.h"
#include "update/ArchiveInput.h"
#include "update/EntryPipeline.h"
#include "update/PackageExtractor.h"

namespace {

namespace fs = std::filesystem;
using Result = PackageExtractor::Result;

// What one extraction left and said.
struct Outcome {
  Result result = Result::Done;
  std::vector<std::string> progress;                       // "i/n"
  std::vector<std::string> log;                            // the extraction's lines after its first
  std::map<std::string, std::pair<std::string, unsigned>>  // file -> bytes, mode
      files;
  std::vector<std::string> folders;
};

// n bytes of which about half deflate away, the same for the same seed.
std::string Filler(size_t n, uint32_t seed) {
  std::string out = RandomBytes(n, seed);
  for (size_t i = 0; i < n; ++i)
    if ((i / 64) % 2) out[i] = static_cast<char>('a' + (i / 4096) % 26);
  return out;
}

// Small files in nested folders (some listed as folder entries, some not; some stored, some with
// modes), with three large entries among them, one of them stored.
std::vector<ZipEntry> ClientLikeEntries() {
  std::vector<ZipEntry> entries;
  const unsigned modes[] = {0, 0644, 0755, 0600};
  for (int i = 0; i < 240; ++i) {
    const std::string folder = "d" + std::to_string(i % 7) + "/s" + std::to_string(i % 3) + "/";
    if (i < 21 && i % 2 == 0) entries.push_back({folder, ""});
    entries.push_back({folder + "f" + std::to_string(i) + ".txt", Filler(static_cast<size_t>(i * 37 % 6000), i + 1),
                       modes[i % 4], i % 5 == 0});
    if (i == 60) entries.push_back({"big/one.bin", Filler(9 * 1024 * 1024 + 77, 7), 0600});
    if (i == 120) entries.push_back({"big/two.bin", Filler(9 * 1024 * 1024 + 11, 8), 0644, true});
    if (i == 180) entries.push_back({"big/three.bin", Filler(3 * 1024 * 1024 + 5, 9)});
  }
  return entries;
}

// Where the named entry's stored bytes start in zip.
size_t DataOf(const std::string& zip, const std::string& name) {
  for (size_t at = zip.find("PK\3\4"); at != std::string::npos; at = zip.find("PK\3\4", at + 4)) {
    const size_t nameLength = static_cast<uint8_t>(zip[at + 26]) | static_cast<uint8_t>(zip[at + 27]) << 8;
    const size_t extraLength = static_cast<uint8_t>(zip[at + 28]) | static_cast<uint8_t>(zip[at + 29]) << 8;
    if (zip.compare(at + 30, nameLength, name) == 0 && nameLength == name.size())
      return at + 30 + nameLength + extraLength;
  }
  ADD_FAILURE() << "no entry " << name;
  return 0;
}

class ExtractionThreadsTest : public UpdateTest {
 protected:
  struct Case {
    const char* name;
    std::function<void(std::vector<ZipEntry>&)> entries;  // changes to the package's entries
    std::function<void(std::string&)> damage;             // changes to the built archive
    std::function<void(const std::string& destination)> prepare;
    uint64_t stopAfter;  // entries reported before the stop is asked for; 0: never
    Result result;
  };

  // A fresh installation, the case's archive extracted on threads.
  Outcome Extract(const Case& c, unsigned threads) {
    SetUp();
    std::vector<ZipEntry> entries = ClientLikeEntries();
    if (c.entries) c.entries(entries);
    std::string zip = BuildZip(entries);
    if (c.damage) c.damage(zip);
    const std::string archive = InstallDir() + "/built.zip";
    Sandbox::WriteFile(archive, zip);
    if (c.prepare) c.prepare(DataDir());

    Outcome out;
    PackageExtractor::Callbacks callbacks;
    callbacks.progress = [&out](uint64_t i, uint64_t n) {
      out.progress.push_back(std::to_string(i) + "/" + std::to_string(n));
    };
    callbacks.stop = [&out, &c] { return c.stopAfter != 0 && out.progress.size() >= c.stopAfter; };
    out.result = PackageExtractor(DataDir(), std::move(callbacks), threads).Extract(archive);

    std::istringstream log(TakeLog());
    bool begun = false;
    for (std::string line; std::getline(log, line);) {
      const size_t level = line.find("][CGameRemoteConfig::OnUnzipFile::");
      if (level == std::string::npos) continue;
      if (begun) out.log.push_back(line.substr(line.rfind('[', level)));
      begun = true;  // the first names the archive's path, which is the sandbox's
    }
    for (const auto& e : fs::recursive_directory_iterator(DataDir())) {
      const std::string relative = fs::relative(e.path(), DataDir()).string();
      if (e.is_directory()) {
        out.folders.push_back(relative);
        continue;
      }
      struct stat st;
      EXPECT_EQ(::stat(e.path().c_str(), &st), 0);
      out.files[relative] = {Sandbox::ReadFile(e.path().string()), static_cast<unsigned>(st.st_mode & 0777)};
    }
    std::sort(out.folders.begin(), out.folders.end());
    return out;
  }
};

TEST_F(ExtractionThreadsTest, SeveralThreadsGiveWhatOneGives) {
  const Case cases[] = {
      {"intact", nullptr, nullptr, nullptr, 0, Result::Done},
      {"a damaged small entry in the middle", nullptr,
       [](std::string& zip) { zip[DataOf(zip, "d0/s0/f105.txt") + 100] ^= 0x40; }, nullptr, 0, Result::EntryFailed},
      {"a damaged large entry in the middle", nullptr,
       [](std::string& zip) { zip[DataOf(zip, "big/one.bin") + 2000000] ^= 0x5A; }, nullptr, 0, Result::EntryFailed},
      {"a folder where a file in the middle goes", nullptr, nullptr,
       [](const std::string& destination) { fs::create_directories(destination + "/d4/s1/f130.txt"); }, 0,
       Result::LocalFailure},
      {"a file where a later entry needs a folder",
       [](std::vector<ZipEntry>& entries) {
         entries.insert(entries.begin() + 100, {"clash", "a file\n"});
         entries.insert(entries.begin() + 102, {"clash/inside.txt", "needs a folder\n"});
       },
       nullptr, nullptr, 0, Result::EntryFailed},
      {"a stop half way", nullptr, nullptr, nullptr, 130, Result::Stopped},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome serial = Extract(c, 1);
    EXPECT_EQ(serial.result, c.result);
    for (unsigned threads : {2u, 4u}) {
      SCOPED_TRACE(std::to_string(threads) + " threads");
      const Outcome parallel = Extract(c, threads);
      EXPECT_EQ(parallel.result, serial.result);
      EXPECT_EQ(parallel.progress, serial.progress);
      EXPECT_EQ(parallel.log, serial.log);
      EXPECT_EQ(parallel.files.size(), serial.files.size());
      EXPECT_TRUE(parallel.files == serial.files);  // bytes and modes; no temporary file left
      // Folders are made as entries are read, which runs ahead of a failure or a stop.
      if (c.result == Result::Done) {
        EXPECT_EQ(parallel.folders, serial.folders);
      }
    }
  }
}

// Files copied ahead of their turn wait closed: with every entry copied before any is taken, the
// pipeline holds no more handles than its workers use, so a low limit on open files is no failure.
TEST(EntryPipelineTest, FilesWaitingForTheirTurnHoldNoHandle) {
  Sandbox sandbox;
  std::vector<ZipEntry> entries;
  for (int i = 0; i < 100; ++i) entries.push_back({"f" + std::to_string(i), Filler(2000 + i, i + 1), 0, i % 2 == 0});
  const std::string archive = sandbox.Root() + "/p.zip";
  Sandbox::WriteFile(archive, BuildZip(entries));
  const std::string destination = sandbox.Root() + "/client";
  ASSERT_EQ(mkdir(destination.c_str(), 0755), 0);

  // Room for the handles open now, the workers' archives and the files being written, and no more.
  const auto open = std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator());
  rlimit before{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &before), 0);
  rlimit low = before;
  low.rlim_cur = static_cast<rlim_t>(open + 16);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
  std::vector<std::string> failures;
  {
    CachedArchive zip(archive);
    EntryPipeline pipeline(archive, 2);
    int status = unzGoToFirstFile(zip.Get());
    for (const ZipEntry& entry : entries) {
      unz_file_info64 info{};
      EntryPipeline::Entry e;
      if (status != UNZ_OK || unzGetCurrentFileInfo64(zip.Get(), &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK ||
          !EntryCopier::Locate(zip.Get(), info, e.location)) {
        failures.push_back(entry.name + ": not located");
        break;
      }
      e.target = destination + "/" + entry.name;
      pipeline.Add(std::move(e));
      status = unzGoToNextFile(zip.Get());
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));  // every entry is copied before the first is taken
    for (const ZipEntry& entry : entries) {
      EntryPipeline::Outcome outcome;
      if (!pipeline.Take(outcome, std::chrono::seconds(30))) {
        failures.push_back(entry.name + ": never copied");
        break;
      }
      if (outcome.status != EntryPipeline::Outcome::Status::Copied) {
        failures.push_back(entry.name + ": " + std::strerror(outcome.error));
      } else if (const int error = outcome.file->Commit(); error != 0) {
        failures.push_back(entry.name + ": commit " + std::strerror(error));
      }
    }
  }
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &before), 0);
  EXPECT_TRUE(failures.empty()) << failures.front() << " (" << failures.size() << " in all)";
  for (const ZipEntry& entry : entries) EXPECT_EQ(Sandbox::ReadFile(destination + "/" + entry.name), entry.data);
}

}  // namespace
