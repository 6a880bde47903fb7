// Packages made by the archivers players and build machines commonly use unpack into the same
// tree as Info-ZIP's unzip makes of them: with or without folder entries, streamed (sizes in data
// descriptors), stored, and with '\' as the separator. The archivers are test dependencies
// (scripts/install-deps).
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "UpdateTestSupport.h"
#include "update/PackageExtractor.h"

namespace {

namespace fs = std::filesystem;
using Result = PackageExtractor::Result;

const char kFunc[] = "CGameRemoteConfig::OnUnzipFile";

// Everything below root as sorted lines: "dir <name>", "file <name> <x or -> <SHA-256>" (x: the
// owner may execute it), or "other <name>" (links and the like, which neither side should make).
std::vector<std::string> Describe(const std::string& root) {
  std::vector<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    const std::string name = fs::relative(e.path(), root).string();
    const fs::file_status st = e.symlink_status();
    if (fs::is_directory(st)) {
      out.push_back("dir " + name);
    } else if (fs::is_regular_file(st)) {
      const bool x = (st.permissions() & fs::perms::owner_exec) != fs::perms::none;
      out.push_back("file " + name + " " + (x ? "x " : "- ") + Sha256Hex(Sandbox::ReadFile(e.path().string())));
    } else {
      out.push_back("other " + name);
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

bool Has(const std::vector<std::string>& tree, const std::string& prefix) {
  return std::any_of(tree.begin(), tree.end(), [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
}

class ArchiveToolsTest : public UpdateTest {
 protected:
  // A small client under <root>/tools/game: nested folders, an empty folder, an executable, an
  // empty file and a few KiB that do not compress.
  std::string MakeClientTree() {
    const std::string parent = sandbox_.Root() + "/tools";
    const std::string game = parent + "/game";
    EXPECT_EQ(RunShell("rm -rf '" + parent + "' && mkdir -p '" + game + "/bin' '" + game + "/data/nested/deep' '" +
                       game + "/data/empty'"),
              0);
    Sandbox::WriteFile(game + "/bin/run.sh", "#!/bin/sh\necho run\n");
    chmod((game + "/bin/run.sh").c_str(), 0755);
    Sandbox::WriteFile(game + "/data/nested/deep/level.txt", "deep down\n");
    Sandbox::WriteFile(game + "/data/zero.bin", "");
    Sandbox::WriteFile(game + "/data/noise.bin", RandomBytes(6 * 1024 + 13, 7));
    Sandbox::WriteFile(game + "/readme.txt", "read me\n");
    return parent;
  }
};

TEST_F(ArchiveToolsTest, PackagesFromCommonArchiversGiveTheTreeUnzipGives) {
  struct Case {
    const char* name;
    const char* tool;     // must be installed; empty for the hand-made archive
    const char* command;  // run in the tree's parent folder; %s is the archive
    std::vector<std::string> mustHave;
  };
  const std::vector<std::string> tree = {"dir game/data/nested/deep", "file game/bin/run.sh x ",
                                         "file game/data/nested/deep/level.txt", "file game/data/zero.bin",
                                         "file game/data/noise.bin"};
  const Case cases[] = {
      {"zip with folder entries", "zip", "zip -q -r %s game", tree},
      {"zip without folder entries", "zip", "zip -q -r -D %s game", tree},
      {"zip streamed to a pipe", "zip", "zip -q -r - game | cat > %s", tree},
      {"zip stored", "zip", "zip -q -r -0 %s game", tree},
      {"7-Zip", "7z", "7z a -tzip -bd %s game > /dev/null", tree},
      {"bsdtar", "bsdtar", "bsdtar -a -cf %s game", tree},
      {"'\\' as the separator",
       "",
       "",
       {"dir game/data/empty", "file game/data/nested/deep/level.txt", "file game/qvx"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    const std::string package = InstallDir() + "/qvx.zip";
    if (*c.tool == '\0') {
      // As an archiver on Windows writes it: no Unix attributes, '\' between the folders, and
      // no entry for a file's folder.
      Sandbox::WriteFile(package, BuildZip({{"game\\qvx", "one file, not a folder\n"},
                                            {"game\\data\\nested\\deep\\level.txt", "deep down\n"},
                                            {"game\\data\\empty\\", ""}}));
    } else {
      if (RunShell(std::string("command -v ") + c.tool + " > /dev/null") != 0) {
        ADD_FAILURE() << c.tool << " is not installed (scripts/install-deps installs it)";
        continue;
      }
      const std::string parent = MakeClientTree();
      std::string command = c.command;
      command.replace(command.find("%s"), 2, "'" + package + "'");
      ASSERT_EQ(RunShell("cd '" + parent + "' && " + command), 0);
    }
    const std::string unzipped = InstallDir() + "/unzipped";
    // 1: a warning only (unzip warns about '\' separators and turns them into folders).
    ASSERT_LE(RunShell("unzip -q -o '" + package + "' -d '" + unzipped + "' 2> /dev/null"), 1);

    EXPECT_EQ(PackageExtractor(DataDir()).Extract(package), Result::Done);

    const std::vector<std::string> extracted = Describe(DataDir());
    EXPECT_EQ(extracted, Describe(unzipped));
    for (const std::string& item : c.mustHave) EXPECT_TRUE(Has(extracted, item)) << item;
    if (*c.tool == '\0') {
      EXPECT_TRUE(LogHas(TakeLog(), "INFO", kFunc, 426, "game\\qvx"));  // the name as stored
    }
  }
}

}  // namespace
