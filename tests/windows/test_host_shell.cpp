// Shell links and the show-window message on Windows: a link saved and read back through the
// shell's own link object, and WM_COPYDATA received by a message-only window.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which they need.
#include <objbase.h>
#include <shobjidl.h>

#include <thread>
#include <vector>

#include "WinTestFolder.h"
#include "os/ShellFolders.h"
#include "os/WindowMessage.h"
#include "os/base/ComRef.h"
#include "support/CopyDataReceiver.h"

namespace {

struct LinkRead {
  std::wstring path;
  std::wstring arguments;
};

// Loads a .lnk file through IShellLinkW + IPersistFile::Load, as the shell reads it.
bool ReadLink(const std::string& linkPath, LinkRead& out) {
  os::win32::ComRef<IShellLinkW> link;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.OutVoid())))
    return false;
  os::win32::ComRef<IPersistFile> file;
  bool ok = SUCCEEDED(link->QueryInterface(IID_IPersistFile, file.OutVoid())) &&
            SUCCEEDED(file->Load(os::win32::Wide(linkPath).c_str(), STGM_READ));
  wchar_t text[1024] = {};
  ok = ok && SUCCEEDED(link->GetPath(text, 1024, nullptr, SLGP_RAWPATH));
  out.path = text;
  text[0] = 0;
  ok = ok && SUCCEEDED(link->GetArguments(text, 1024));
  out.arguments = text;
  return ok;
}

}  // namespace

TEST(ShellLinkWindows, ALinkIsSavedAndReadBackThroughTheShellAndReplacedOnTheNextSave) {
  WinTestFolder dir;
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
  const std::string target = dir / "qvx.exe";
  const std::string link = dir / "qvx-uninstall.lnk";
  ASSERT_EQ(os::CreateLinkFile(target, link, "/uninstall"), 0);
  LinkRead read;
  ASSERT_TRUE(ReadLink(link, read));
  EXPECT_EQ(read.path, os::win32::Wide(target));
  EXPECT_EQ(read.arguments, L"/uninstall");
  // The next run saves over it.
  const std::string other = dir / "qvx_fc.exe";
  ASSERT_EQ(os::CreateLinkFile(other, link, ""), 0);
  ASSERT_TRUE(ReadLink(link, read));
  EXPECT_EQ(read.path, os::win32::Wide(other));
  EXPECT_EQ(read.arguments, L"");
  // A folder that does not exist: the save fails and says so.
  EXPECT_NE(os::CreateLinkFile(target, dir / "missing\\Vellmora.lnk", ""), 0);
  CoUninitialize();
  EXPECT_STREQ(os::LinkExtension(), ".lnk");
  EXPECT_FALSE(os::StartMenuDir().empty());
  EXPECT_FALSE(os::DesktopDir().empty());
}

TEST(ShellLinkWindows, AThreadWithoutComGetsItForTheCall) {
  WinTestFolder dir;
  int result = -1;
  std::thread worker([&] { result = os::CreateLinkFile(dir / "qvx.exe", dir / "Vellmora.lnk", ""); });
  worker.join();
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(os::PathExists(dir / "Vellmora.lnk"));
}

TEST(WindowMessageWindows, TheShowWindowPayloadArrivesAsCopyDataWithItsKindAndSender) {
  CopyDataReceiver receiver;
  ASSERT_NE(receiver.Window(), nullptr);
  std::vector<uint8_t> payload(2056, 0);
  payload[0] = 1;
  payload[4] = 0x31;
  payload[2052] = 1;
  const unsigned long target = static_cast<unsigned long>(reinterpret_cast<uintptr_t>(receiver.Window()));
  EXPECT_EQ(os::SendWindowPayload(target, 0x1234, 1, payload), 1);
  std::vector<CopyDataReceiver::Received> messages = receiver.Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].kind, 1u);
  EXPECT_EQ(messages[0].sender, 0x1234u);
  EXPECT_EQ(messages[0].payload, payload);
  // No window, or a handle that names none: nothing is sent and the answer is 0.
  EXPECT_EQ(os::SendWindowPayload(0, 0x1234, 1, payload), 0);
  EXPECT_EQ(os::SendWindowPayload(0x7FFFFFF0ul, 0x1234, 1, payload), 0);
  EXPECT_EQ(receiver.Messages().size(), 1u);
}

TEST(WindowMessageWindows, NoWindowOfAProcessWithoutWindowsIsMaximised) {
  EXPECT_FALSE(os::MaximiseWindowOfProcess(0));
  // A process id no process has (ids are multiples of four).
  EXPECT_FALSE(os::MaximiseWindowOfProcess(0x7FFFFFF3));
}
