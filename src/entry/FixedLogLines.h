#pragma once
// The source lines the entry table's and module creation's log records carry.
// They are part of what those records say and stay the same whatever line
// the code moves to, so they live here by name rather than as the current line.

namespace Orvik {
namespace logline {

// Entry table (ModuleFunctions).
constexpr int kNewModuleNoHandleAddress = 38;
constexpr int kDestroyModuleNoHandle = 68;
constexpr int kInitializeModuleNoHandle = 86;
constexpr int kInitializeModuleBaseFailed = 112;
constexpr int kStartModuleNoHandle = 127;
constexpr int kStopModuleNoHandle = 141;
constexpr int kUninitializeModuleNoHandle = 155;
constexpr int kDirectMessageNoHandle = 170;
constexpr int kInitializeModuleV2NoHandle = 192;
constexpr int kInitializeModuleV2BaseFailed = 218;

// Module creation and destruction (UpdateModule).
constexpr int kCreateModuleInvalidInput = 66;
constexpr int kCreateModuleFailed = 82;
constexpr int kCreateModuleSucceeded = 86;
constexpr int kDestroyModuleSucceeded = 92;

} // namespace logline
} // namespace Orvik
