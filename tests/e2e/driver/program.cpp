#include "driver/program.h"

#include <commctrl.h>
#include <shellapi.h>
#include <wincodec.h>

#include <cwchar>
#include <unordered_set>
#include <utility>

namespace tessivo::e2e {

namespace {

// Generous: a loaded two-core machine may take a while to start Wine and the program.
constexpr DWORD kStartTimeoutMs = 120'000;
constexpr DWORD kAnswerTimeoutMs = 10'000;
constexpr std::size_t kRemoteBytes = 64 * 1024;
constexpr std::size_t kRemoteTextOffset = 1024;  // past the record at the start
constexpr int kRemoteTextChars = 4096;

Paths& storedPaths() {
  static Paths p;
  return p;
}

struct Search {
  DWORD processId;
  const wchar_t* className;
  const wchar_t* caption;  // null: any
  HWND found;
};

BOOL CALLBACK findWindow(HWND window, LPARAM context) {
  auto* search = reinterpret_cast<Search*>(context);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != search->processId || classOf(window) != search->className) return TRUE;
  if (search->caption != nullptr && textOf(window) != search->caption) return TRUE;
  search->found = window;
  return FALSE;
}

HWND findTopLevel(DWORD processId, const wchar_t* className, const wchar_t* caption) {
  Search search{processId, className, caption, nullptr};
  EnumWindows(findWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

template <typename T>
struct ComRelease {
  T* p = nullptr;
  ~ComRelease() {
    if (p != nullptr) p->Release();
  }
  T** out() { return &p; }
  T* operator->() const { return p; }
};

bool writePng(const std::wstring& path, int width, int height, const void* pixels) {
  const bool initialised = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  bool ok = false;
  {
    ComRelease<IWICImagingFactory> factory;
    ComRelease<IWICStream> stream;
    ComRelease<IWICBitmapEncoder> encoder;
    ComRelease<IWICBitmapFrameEncode> frame;
    WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGR;
    const UINT stride = static_cast<UINT>(width) * 4;
    ok = SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                    reinterpret_cast<void**>(factory.out()))) &&
         SUCCEEDED(factory->CreateStream(stream.out())) &&
         SUCCEEDED(stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE)) &&
         SUCCEEDED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.out())) &&
         SUCCEEDED(encoder->Initialize(stream.p, WICBitmapEncoderNoCache)) &&
         SUCCEEDED(encoder->CreateNewFrame(frame.out(), nullptr)) && SUCCEEDED(frame->Initialize(nullptr)) &&
         SUCCEEDED(frame->SetSize(static_cast<UINT>(width), static_cast<UINT>(height))) &&
         SUCCEEDED(frame->SetPixelFormat(&format)) &&
         SUCCEEDED(frame->WritePixels(static_cast<UINT>(height), stride, stride * static_cast<UINT>(height),
                                      static_cast<BYTE*>(const_cast<void*>(pixels)))) &&
         SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
  }
  if (initialised) CoUninitialize();
  return ok;
}

}  // namespace

std::string utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), size, out.data(), bytes, nullptr, nullptr);
  return out;
}

std::wstring classOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

std::wstring textOf(HWND window) {
  wchar_t text[512] = {};
  GetWindowTextW(window, text, 512);
  return text;
}

const Paths& paths() { return storedPaths(); }
void setPaths(Paths p) { storedPaths() = std::move(p); }

Program::Program(const std::wstring& exe, int showCommand) {
  if (!start(exe, showCommand)) return;
  if (!waitForMain(showCommand == SW_SHOWMINIMIZED || showCommand == SW_MINIMIZE)) {
    main_ = nullptr;
    return;
  }
  remote_ = VirtualAllocEx(process_.hProcess, nullptr, kRemoteBytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  if (remote_ == nullptr) {
    failure_ = L"VirtualAllocEx in the program failed, error " + std::to_wstring(GetLastError());
    main_ = nullptr;
  }
}

Program::~Program() {
  if (control_ != nullptr) UnmapViewOfFile(control_);
  if (mapping_ != nullptr) CloseHandle(mapping_);
  if (process_.hProcess != nullptr) {
    if (WaitForSingleObject(process_.hProcess, 0) != WAIT_OBJECT_0) {
      TerminateProcess(process_.hProcess, 99);
      WaitForSingleObject(process_.hProcess, 10'000);
    }
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
  }
}

bool Program::start(const std::wstring& exe, int showCommand) {
  std::wstring commandLine = L"\"" + exe + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = static_cast<WORD>(showCommand);
  if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process_)) {
    failure_ = L"CreateProcessW(" + exe + L") failed, error " + std::to_wstring(GetLastError());
    process_ = {};
    return false;
  }
  return true;
}

bool Program::waitForMain(bool minimised) {
  const ULONGLONG deadline = GetTickCount64() + kStartTimeoutMs;
  const std::wstring controlName = script::controlName(process_.dwProcessId);
  while (GetTickCount64() < deadline) {
    if (WaitForSingleObject(process_.hProcess, 0) == WAIT_OBJECT_0) {
      DWORD code = 0;
      GetExitCodeProcess(process_.hProcess, &code);
      failure_ = L"the program ended (exit code " + std::to_wstring(code) + L") before its window appeared";
      return false;
    }
    if (mapping_ == nullptr) {
      mapping_ = OpenFileMappingW(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, controlName.c_str());
      if (mapping_ != nullptr)
        control_ = static_cast<script::Control*>(
            MapViewOfFile(mapping_, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(script::Control)));
    }
    HWND window = findTopLevel(process_.dwProcessId, L"QuarnelWindow", L"Tessivo");
    // The window exists from the start of its creation; its panes and first refresh are
    // there once the program waits for input.
    if (window != nullptr && WaitForInputIdle(process_.hProcess, 100) == 0 &&
        (minimised || IsWindowVisible(window))) {
      main_ = window;
      list_ = GetDlgItem(window, 1001);
      chart_ = GetDlgItem(window, 1002);
      LRESULT header = 0;
      if (list_ != nullptr && send(list_, LVM_GETHEADER, 0, 0, &header)) header_ = reinterpret_cast<HWND>(header);
      return true;
    }
    Sleep(50);
  }
  failure_ = L"timed out waiting for the window QuarnelWindow \"Tessivo\"";
  return false;
}

bool Program::send(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  DWORD_PTR answer = 0;
  if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kAnswerTimeoutMs, &answer))
    return false;
  if (result != nullptr) *result = static_cast<LRESULT>(answer);
  return true;
}

void* Program::remote(std::size_t offset) { return static_cast<char*>(remote_) + offset; }

int Program::rowCount() {
  LRESULT count = -1;
  return send(list_, LVM_GETITEMCOUNT, 0, 0, &count) ? static_cast<int>(count) : -1;
}

std::wstring Program::cell(int row, int column) {
  LVITEMW item{};
  item.iSubItem = column;
  item.cchTextMax = kRemoteTextChars;
  item.pszText = static_cast<wchar_t*>(remote(kRemoteTextOffset));
  const wchar_t empty = 0;
  WriteProcessMemory(process_.hProcess, remote(0), &item, sizeof item, nullptr);
  WriteProcessMemory(process_.hProcess, remote(kRemoteTextOffset), &empty, sizeof empty, nullptr);
  LRESULT length = 0;
  if (!send(list_, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(remote(0)), &length))
    return L"<no answer>";
  std::wstring text(static_cast<std::size_t>(kRemoteTextChars), L'\0');
  if (!ReadProcessMemory(process_.hProcess, remote(kRemoteTextOffset), text.data(), text.size() * sizeof(wchar_t),
                         nullptr))
    return L"<unreadable>";
  text.resize(std::wcslen(text.c_str()));
  return text;
}

std::vector<std::vector<std::wstring>> Program::table() {
  std::vector<std::vector<std::wstring>> rows;
  const int count = rowCount();
  for (int r = 0; r < count; ++r) {
    std::vector<std::wstring>& row = rows.emplace_back();
    for (int c = 0; c < 9; ++c) row.push_back(cell(r, c));
  }
  return rows;
}

std::wstring Program::columnTitle(int column) {
  LVCOLUMNW col{};
  col.mask = LVCF_TEXT;
  col.cchTextMax = kRemoteTextChars;
  col.pszText = static_cast<wchar_t*>(remote(kRemoteTextOffset));
  WriteProcessMemory(process_.hProcess, remote(0), &col, sizeof col, nullptr);
  LRESULT ok = 0;
  if (!send(list_, LVM_GETCOLUMNW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(remote(0)), &ok) || !ok)
    return L"<no column>";
  wchar_t text[256] = {};
  ReadProcessMemory(process_.hProcess, remote(kRemoteTextOffset), text, sizeof text - sizeof(wchar_t), nullptr);
  return text;
}

int Program::columnWidth(int column) {
  LRESULT width = -1;
  return send(list_, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column), 0, &width) ? static_cast<int>(width) : -1;
}

int Program::columnCount() {
  LRESULT count = -1;
  return header_ != nullptr && send(header_, HDM_GETITEMCOUNT, 0, 0, &count) ? static_cast<int>(count) : -1;
}

bool Program::clickHeader(int column) {
  LRESULT ok = 0;
  if (header_ == nullptr ||
      !send(header_, HDM_GETITEMRECT, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(remote(0)), &ok) || !ok)
    return false;
  RECT r{};
  if (!ReadProcessMemory(process_.hProcess, remote(0), &r, sizeof r, nullptr)) return false;
  const LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  return send(header_, WM_LBUTTONDOWN, MK_LBUTTON, at) && send(header_, WM_LBUTTONUP, 0, at);
}

RECT Program::childRect(HWND child) {
  RECT r{};
  GetWindowRect(child, &r);
  MapWindowPoints(HWND_DESKTOP, main_, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

RECT Program::clientRect() {
  RECT r{};
  GetClientRect(main_, &r);
  return r;
}

bool Program::trayIconPresent() {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof data;
  data.hWnd = main_;
  data.uID = 1;
  return Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
}

long Program::waitForExit(DWORD timeoutMs) {
  if (WaitForSingleObject(process_.hProcess, timeoutMs) != WAIT_OBJECT_0) return -1;
  DWORD code = 0;
  GetExitCodeProcess(process_.hProcess, &code);
  return static_cast<long>(code);
}

bool Program::waitForReads(std::int64_t count, DWORD timeoutMs) {
  return control_ != nullptr && eventually([&] { return control_->reads >= count; }, timeoutMs);
}

std::vector<MenuEntry> Program::menu() {
  std::vector<MenuEntry> entries;
  if (control_ == nullptr) return entries;
  const LONG before = control_->menuVersion;
  if (!send(main_, script::describeMenuMessage()) || control_->menuVersion == before) return entries;
  std::wstring text(const_cast<const wchar_t*>(control_->menuText));
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) end = text.size();
    const std::wstring line = text.substr(start, end - start);
    start = end + 1;
    MenuEntry entry;
    std::size_t p1 = line.find(L'|'), p2 = line.find(L'|', p1 + 1), p3 = line.find(L'|', p2 + 1),
                p4 = line.find(L'|', p3 + 1);
    if (p4 == std::wstring::npos) continue;
    entry.depth = std::stoi(line.substr(0, p1));
    entry.kind = line[p1 + 1];
    entry.id = std::stoi(line.substr(p2 + 1, p3 - p2 - 1));
    entry.checked = line[p3 + 1] == L'1';
    entry.text = line.substr(p4 + 1);
    entries.push_back(std::move(entry));
  }
  return entries;
}

HWND Program::waitForWindow(const wchar_t* className, const wchar_t* caption, DWORD timeoutMs) {
  HWND found = nullptr;
  eventually([&] { return (found = findTopLevel(process_.dwProcessId, className, caption)) != nullptr; }, timeoutMs);
  return found;
}

bool Program::screenshot(HWND window, const std::wstring& fileName, int* colours) {
  RECT r{};
  if (!GetWindowRect(window, &r)) return false;
  const int width = r.right - r.left;
  const int height = r.bottom - r.top;
  if (width <= 0 || height <= 0) return false;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool ok = false;
  if (bitmap != nullptr) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    ok = BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY) != FALSE;
    GdiFlush();
    if (ok && colours != nullptr) {
      std::unordered_set<std::uint32_t> seen;
      const auto* pixel = static_cast<const std::uint32_t*>(bits);
      for (int i = 0; i < width * height; ++i) seen.insert(pixel[i] & 0xFFFFFFu);
      *colours = static_cast<int>(seen.size());
    }
    if (ok) ok = writePng(paths().shots + L"\\" + fileName, width, height, bits);
    SelectObject(memory, old);
    DeleteObject(bitmap);
  }
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return ok;
}

}  // namespace tessivo::e2e
