#pragma once
// The machine's folder for data common to all users (created if missing).

#include <cstdint>
#include <string>

namespace ETWLogging {
namespace internal {

// 0 with the folder, or the failure code (87 when the shell gives none).
std::uint32_t GetProgramDataFolder(std::wstring& folder);

} // namespace internal
} // namespace ETWLogging
