// Start-up: the main window, its panes and the first refresh, in the scripted build and in
// the shipped program; the menu bar as the program holds it.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cwctype>

#include <string>
#include <vector>

#include "driver/expected.h"
#include "driver/program.h"

namespace tessivo::e2e {
namespace {

// Everything the first look at the window shows, the same for both builds.
void expectStartUpWindow(Program& program) {
  ASSERT_TRUE(program.started()) << utf8(program.failure());
  RECT frame{};
  GetWindowRect(program.main(), &frame);
  EXPECT_EQ(frame.right - frame.left, 1280);
  EXPECT_EQ(frame.bottom - frame.top, 720);
  EXPECT_TRUE(IsWindowVisible(program.main()));

  ASSERT_NE(program.list(), nullptr);
  EXPECT_EQ(classOf(program.list()), L"SysListView32");
  // The control adds its own scroll bars when the columns or rows do not fit.
  const auto style = static_cast<DWORD>(GetWindowLongPtrW(program.list(), GWL_STYLE));
  EXPECT_EQ(style & ~static_cast<DWORD>(WS_HSCROLL | WS_VSCROLL), 0x50001005u);
  EXPECT_TRUE(GetWindowLongPtrW(program.list(), GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
  LRESULT listStyles = 0;
  ASSERT_TRUE(program.send(program.list(), LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0, &listStyles));
  EXPECT_EQ(listStyles, 0x10021);
  EXPECT_EQ(program.columnCount(), 9);
  EXPECT_GT(program.rowCount(), 0);

  ASSERT_NE(program.chart(), nullptr);
  EXPECT_EQ(classOf(program.chart()), L"QuarnelSpeedChart");
  EXPECT_TRUE(IsWindowVisible(program.chart()));
  const RECT client = program.clientRect();
  const RECT chart = program.childRect(program.chart());
  const RECT list = program.childRect(program.list());
  EXPECT_EQ(chart.left, 0);
  EXPECT_EQ(chart.top, 0);
  EXPECT_EQ(chart.right, client.right);
  EXPECT_EQ(chart.bottom, 380);
  EXPECT_EQ(list.left, 0);
  EXPECT_EQ(list.top, 380);
  EXPECT_EQ(list.right, client.right);
  EXPECT_EQ(list.bottom, client.bottom);
}

TEST(StartUp, ScriptedBuildShowsBothPanesAndAFilledList) {
  Program program(paths().scripted);
  expectStartUpWindow(program);
  ASSERT_NE(program.control(), nullptr);
  // The first refresh runs inside the window's creation, before it is first shown.
  EXPECT_EQ(program.control()->readsAtFirstShow, 1);
  EXPECT_EQ(program.control()->rowsAtFirstShow, 4);  // the four applications of the script

  // Another process cannot read the program's menu bar under Wine (the handle is valid only
  // in its owner); the scripted build describes it from inside instead. Say which applies.
  HMENU bar = GetMenu(program.main());
  std::printf("e2e: GetMenu from outside gives %p, %d items\n", static_cast<void*>(bar),
              bar ? GetMenuItemCount(bar) : -1);

  ASSERT_TRUE(program.waitForReads(15));
  int colours = 0;
  EXPECT_TRUE(program.screenshot(program.main(), L"startup.png", &colours));
  EXPECT_GT(colours, 16) << "the window looks blank";
}

std::wstring lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(towlower(c));
  return text;
}

bool endsWith(const std::wstring& text, const std::wstring& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

TEST(StartUp, ShippedProgramListsItselfAndClosesWithExitCodeZero) {
  Program program(paths().real);
  expectStartUpWindow(program);
  // The real snapshot and image-path lookup see the program itself: an application row
  // named after its executable with the full path, and, per process, its own id.
  const auto findRow = [&](auto matches) {
    for (const auto& row : program.table())
      if (matches(row)) return row;
    return std::vector<std::wstring>{};
  };
  const auto own = findRow([](const auto& row) { return lower(row[0]) == L"tessivo.exe"; });
  ASSERT_FALSE(own.empty()) << "no row for tessivo.exe";
  EXPECT_EQ(own[1], L"-");
  EXPECT_TRUE(endsWith(lower(own[8]), L"\\src\\win32\\tessivo.exe")) << utf8(own[8]);
  ASSERT_TRUE(program.command(40003));
  const std::wstring pid = grouped(program.processId());
  const auto mine = findRow([&](const auto& row) { return row[1] == pid; });
  ASSERT_FALSE(mine.empty()) << "no row with pid " << utf8(pid);
  EXPECT_EQ(lower(mine[0]), L"tessivo.exe");

  PostMessageW(program.main(), WM_CLOSE, 0, 0);
  EXPECT_EQ(program.waitForExit(60'000), 0);
}

TEST(StartUp, TwoCopiesRunSideBySideAndShareNothing) {
  Program first(paths().scripted);
  Program second(paths().scripted);
  ASSERT_TRUE(first.started()) << utf8(first.failure());
  ASSERT_TRUE(second.started()) << utf8(second.failure());
  EXPECT_NE(first.main(), second.main());
  EXPECT_TRUE(first.waitForReads(first.reads() + 2));
  EXPECT_TRUE(second.waitForReads(second.reads() + 2));
  ASSERT_TRUE(first.command(40003));  // one copy's setting is not the other's
  EXPECT_EQ(first.rowCount(), 6);
  EXPECT_EQ(second.rowCount(), 4);
  PostMessageW(first.main(), WM_CLOSE, 0, 0);
  EXPECT_EQ(first.waitForExit(30'000), 0);
  EXPECT_TRUE(second.waitForReads(second.reads() + 2)) << "the second copy stopped with the first";
  PostMessageW(second.main(), WM_CLOSE, 0, 0);
  EXPECT_EQ(second.waitForExit(30'000), 0);
}

// The executable as built: a 64-bit GUI program whose only resource is its manifest, and
// which needs no MinGW runtime DLL beside it.
TEST(StartUp, ShippedExecutableCarriesItsManifestAndNothingElse) {
  HMODULE image = LoadLibraryExW(paths().real.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(image, nullptr) << GetLastError();
  std::vector<ULONG_PTR> types;
  EnumResourceTypesW(
      image,
      [](HMODULE, LPWSTR type, LONG_PTR context) -> BOOL {
        reinterpret_cast<std::vector<ULONG_PTR>*>(context)->push_back(reinterpret_cast<ULONG_PTR>(type));
        return TRUE;
      },
      reinterpret_cast<LONG_PTR>(&types));
  EXPECT_EQ(types, std::vector<ULONG_PTR>{24}) << "resource types other than the manifest";
  HRSRC found = FindResourceExW(image, MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(1), 1033);
  ASSERT_NE(found, nullptr);
  const char* bytes = static_cast<const char*>(LockResource(LoadResource(image, found)));
  const std::string manifest(bytes, SizeofResource(image, found));
  for (const char* part : {"name=\"Quarnel\"", "version=\"1.0.0.0\"", "Microsoft.Windows.Common-Controls",
                           "version=\"6.0.0.0\"", "6595b64144ccf1df", "level=\"requireAdministrator\"",
                           "uiAccess=\"false\"", ">true<", "PerMonitorV2, PerMonitor, System",
                           "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}"})
    EXPECT_NE(manifest.find(part), std::string::npos) << "manifest lacks " << part;
  FreeLibrary(image);

  HANDLE file = CreateFileW(paths().real.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  std::string content(static_cast<std::size_t>(GetFileSize(file, nullptr)), '\0');
  DWORD read = 0;
  ReadFile(file, content.data(), static_cast<DWORD>(content.size()), &read, nullptr);
  CloseHandle(file);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(content.data());
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(content.data() + dos->e_lfanew);
  EXPECT_EQ(nt->FileHeader.Machine, IMAGE_FILE_MACHINE_AMD64);
  EXPECT_EQ(nt->OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
  for (const char* runtime : {"libstdc++-6.dll", "libgcc_s_seh-1.dll", "libwinpthread-1.dll"})
    EXPECT_EQ(content.find(runtime), std::string::npos) << "imports " << runtime;
}

}  // namespace
}  // namespace tessivo::e2e
