#include <gtest/gtest.h>
#include <sys/utsname.h>

#include <filesystem>
#include <regex>

#include "net/MachineInfo.h"
#include "support/Sandbox.h"

namespace {

// Writes root/<relative> (directories included).
void Put(const std::string& root, const std::string& relative, const std::string& content) {
  std::filesystem::path path = root + "/" + relative;
  std::filesystem::create_directories(path.parent_path());
  Sandbox::WriteFile(path.string(), content);
}

const char kRouteHeader[] = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";

}  // namespace

TEST(Md5Hex, KnownDigests) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"The quick brown fox jumps over the lazy dog", "9e107d9d372bb6826bd81d3542a419d6"},
      {"创建", "d9ac9228e8564657bbe9ca5359f95806"},  // the UTF-8 bytes are hashed
  };
  for (const auto& [text, digest] : cases) EXPECT_EQ(Md5Hex(text), digest) << text;
}

TEST(MachineInfo, CollectsEveryFieldFromItsSource) {
  Sandbox box;
  const std::string root = box.Root() + "/sys-root";
  Put(root, "proc/cpuinfo",
      "processor\t: 0\nvendor_id\t: GenuineIntel\nmodel name\t: Intel(R) Core(TM) i5-8250U CPU @ 1.60GHz \n"
      "processor\t: 1\nmodel name\t: Other\n");
  // lo has no gateway; eth0 carries a network route only; wlan0 is the default route, then eth1 too.
  Put(root, "proc/net/route",
      std::string(kRouteHeader) +
          "lo\t00000000\t00000000\t0001\t0\t0\t0\t00000000\t0\t0\t0\n"
          "eth0\t0001A8C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n"
          "wlan0\t00000000\t0101A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
          "eth1\t00000000\t0102A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n");
  Put(root, "sys/class/net/wlan0/address", "a4:5e:60:0b:1c:ff\n");
  Put(root, "sys/class/net/eth1/address", "00:11:22:33:44:55\n");
  Put(root, "proc/meminfo", "MemTotal:        1048576 kB\nMemFree:  1000 kB\nSwapTotal:       2098176 kB\n");
  Put(root, "sys/class/dmi/id/board_serial", "BOARD-1\n");
  Put(root, "sys/class/dmi/id/product_serial", "BIOS-2\n");
  Put(root, "etc/machine-id", "0123456789abcdef0123456789abcdef\n");

  MachineInfo info = MachineInfo::Collect({root, "6.1.0-18-amd64", "x86_64"});
  EXPECT_EQ(info.cpuName, "Intel(R) Core(TM) i5-8250U CPU @ 1.60GHz ");
  EXPECT_EQ(info.macAddress, "A4-5E-60-0B-1C-FF");
  EXPECT_EQ(info.memoryText, "physical memory:1024 MB virtual memory:3073 MB");
  EXPECT_EQ(info.osText,
            "Version major:6 minor:1 build:0Intel(R) Core(TM) i5-8250U CPU @ 1.60GHz "
            "physical memory:1024 MB virtual memory:3073 MB");
  EXPECT_EQ(info.clientUid, Md5Hex("BOARD-1BIOS-20123456789abcdef0123456789abcdef"));
  EXPECT_EQ(info.clientUid, "fc95ae40f3d53ed118dcdcbf577738b6");
}

TEST(MachineInfo, FallbacksWhenSourcesFail) {
  Sandbox box;
  struct Case {
    const char* name;
    std::function<void(const std::string&)> setup;
    std::string release;
    std::string cpu, mac, uid, osPrefix;
  };
  const Case cases[] = {
      {"nothing readable", [](const std::string&) {}, "garbage", "", "unkown", "unkown",
       "Version major:0 minor:0 build:0physical memory:0 MB"},
      {"only gateway-less routes; only the system serial",
       [](const std::string& r) {
         Put(r, "proc/net/route",
             std::string(kRouteHeader) + "eth0\t00000000\t00000000\t0001\t0\t0\t0\t00000000\t0\t0\t0\n");
         Put(r, "sys/class/net/eth0/address", "00:11:22:33:44:55\n");
         Put(r, "etc/machine-id", "0123456789abcdef0123456789abcdef\n");
       },
       "5.15", "", "unkown", "8516ac99dc60603295de7bdb6a153530", "Version major:5 minor:15 build:0physical"},
      {"default route whose interface has no readable address; empty serials",
       [](const std::string& r) {
         Put(r, "proc/net/route",
             std::string(kRouteHeader) + "ppp0\t00000000\t0101A8C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n");
         Put(r, "sys/class/dmi/id/board_serial", "");
         Put(r, "sys/class/dmi/id/product_serial", "\n");
       },
       "6.8.12", "", "unkown", "d41d8cd98f00b204e9800998ecf8427e", "Version major:6 minor:8 build:12physical"},
  };
  int n = 0;
  for (const Case& c : cases) {
    std::string root = box.Root() + "/case" + std::to_string(n++);
    std::filesystem::create_directories(root);
    c.setup(root);
    MachineInfo info = MachineInfo::Collect({root, c.release, "x86_64"});
    EXPECT_EQ(info.cpuName, c.cpu) << c.name;
    EXPECT_EQ(info.macAddress, c.mac) << c.name;
    EXPECT_EQ(info.clientUid, c.uid) << c.name;
    EXPECT_EQ(info.osText.rfind(c.osPrefix, 0), 0u) << c.name << ": " << info.osText;
    EXPECT_EQ(info.osText, info.osText.substr(0, info.osText.size() - info.memoryText.size()) + info.memoryText);
  }
}

TEST(MachineInfo, LiveRecordIsCompleteAndStable) {
  const MachineInfo info = MachineInfo::Collect({});
  EXPECT_TRUE(std::regex_match(info.clientUid, std::regex("[0-9a-f]{32}|unkown"))) << info.clientUid;
  EXPECT_TRUE(std::regex_match(info.macAddress, std::regex("([0-9A-F]{2}-){5}[0-9A-F]{2}|unkown"))) << info.macAddress;
  EXPECT_TRUE(std::regex_match(info.memoryText, std::regex("physical memory:[1-9]\\d* MB virtual memory:\\d+ MB")))
      << info.memoryText;
  EXPECT_EQ(info.osText.rfind("Version major:", 0), 0u);
  EXPECT_EQ(MachineInfo::Collect({}).clientUid, info.clientUid) << "the identity is the same on every run";

  struct utsname u {};
  ASSERT_EQ(uname(&u), 0);
  EXPECT_EQ(info.Is64BitWindows(), std::string(u.machine).find("64") != std::string::npos);
  EXPECT_TRUE(MachineInfo::Collect({"", "", "x86_64"}).Is64BitWindows());
  EXPECT_FALSE(MachineInfo::Collect({"", "", "i686"}).Is64BitWindows());
}
