#include "win32/snapshot_source.h"

#include <cstddef>
#include <span>

#include "sampling/process_buffer.h"
#include "win32/process_query.h"

namespace tessivo {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 text is passed to the API as is");

bool SnapshotSource::resolve() {
  if (querySystemInformation != nullptr) return true;
  ntdllModule = GetModuleHandleW(L"ntdll.dll");
  if (ntdllModule == nullptr) return false;
  // GetProcAddress hands back a generic function pointer; the signature is the system's.
  querySystemInformation =
      reinterpret_cast<QueryFunction>(reinterpret_cast<void*>(GetProcAddress(ntdllModule, "NtQuerySystemInformation")));
  return querySystemInformation != nullptr;
}

void SnapshotSource::readSnapshot(std::vector<ProcessSample>& out) {
  if (!resolve()) {
    out.clear();
    return;
  }
  const QueryFunction query = querySystemInformation;
  std::vector<std::byte> buffer;
  const auto returned = queryProcessBuffer(
      [query](std::uint32_t informationClass, void* data, std::uint32_t length, std::uint32_t* returnedLength) {
        ULONG got = *returnedLength;
        const LONG status = query(informationClass, data, length, &got);
        *returnedLength = got;
        return static_cast<std::int32_t>(status);
      },
      buffer);
  if (!returned) {
    out.clear();
    return;
  }
  // Only the bytes the system says it wrote are walked; the name pointers in the records
  // are absolute, so the walk needs the buffer's address.
  parseProcessBuffer(std::span<const std::byte>(buffer.data(), buffer.size()), *returned,
                     reinterpret_cast<std::uintptr_t>(buffer.data()), out);
}

std::u16string SnapshotSource::imagePath(std::uint32_t pid) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (process == nullptr) return {};
  constexpr DWORD kPathUnits = 1040;
  std::u16string path(kPathUnits, u'\0');
  DWORD size = kPathUnits;
  const BOOL ok = QueryFullProcessImageNameW(process, 0, reinterpret_cast<wchar_t*>(path.data()), &size);
  CloseHandle(process);
  if (!ok || size > kPathUnits) return {};
  path.resize(size);
  return path;
}

std::uint64_t SnapshotSource::nowMs() { return GetTickCount64(); }

bool enableDebugPrivilege() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return false;
  TOKEN_PRIVILEGES privileges{};
  if (!LookupPrivilegeValueW(nullptr, L"SeDebugPrivilege", &privileges.Privileges[0].Luid)) {
    CloseHandle(token);
    return false;
  }
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  // AdjustTokenPrivileges succeeds even when it grants nothing; only the last error says so.
  SetLastError(ERROR_SUCCESS);
  AdjustTokenPrivileges(token, FALSE, &privileges, sizeof privileges, nullptr, nullptr);
  const DWORD error = GetLastError();
  CloseHandle(token);
  return error == ERROR_SUCCESS;
}

}  // namespace tessivo
