// The Windows process source: the native process query for snapshots, OpenProcess +
// QueryFullProcessImageNameW for image paths, GetTickCount64 for the clock.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sampling/process_system.h"

namespace tessivo {

class SnapshotSource final : public ProcessSystem {
 public:
  // NtQuerySystemInformation's shape; the pointer is looked up at run time.
  using QueryFunction = LONG(NTAPI*)(ULONG informationClass, PVOID buffer, ULONG length,
                                     PULONG returnedLength);

  // Looks the system call up once; true when it is available.
  bool resolve();

  void readSnapshot(std::vector<ProcessSample>& out) override;
  std::u16string imagePath(std::uint32_t pid) override;
  std::uint64_t nowMs() override;

  HMODULE ntdllModule = nullptr;  // already loaded; never loaded or freed here
  QueryFunction querySystemInformation = nullptr;
};

// Enables SeDebugPrivilege in the process token, so more processes can be opened for their
// image path. True only when the privilege really was granted.
bool enableDebugPrivilege();

}  // namespace tessivo
