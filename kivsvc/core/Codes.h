// The few Win32 numbers the service logic works with, under names that do not
// collide with the macros of the Windows headers.
#pragma once

#include <cstdint>

namespace kiv::svc {

using HResult = std::int32_t;
inline constexpr HResult kSOk = 0;
inline constexpr HResult kSFalse = 1;
inline constexpr HResult kEPointer = static_cast<HResult>(0x80004003u);

// Win32 error codes (registry and service results).
inline constexpr long kErrorSuccess = 0;
inline constexpr long kErrorInvalidFunction = 1;
inline constexpr long kErrorFileNotFound = 2;
inline constexpr long kErrorAccessDenied = 5;
inline constexpr long kErrorMoreData = 234;

// Service states (SERVICE_STATUS.dwCurrentState).
enum class ServiceState : std::uint32_t {
    Stopped = 1,
    StartPending = 2,
    StopPending = 3,
    Running = 4,
};

// Service control codes the handler knows.
inline constexpr std::uint32_t kControlStop = 1;
inline constexpr std::uint32_t kControlPause = 2;
inline constexpr std::uint32_t kControlContinue = 3;
inline constexpr std::uint32_t kControlInterrogate = 4;
inline constexpr std::uint32_t kControlShutdown = 5;

inline constexpr std::uint32_t kServiceWin32OwnProcess = 0x10;
inline constexpr std::uint32_t kServiceAcceptStop = 0x1;

}  // namespace kiv::svc
