#pragma once

#include <cstdint>

// The few D2XX driver types and values the device link uses, declared for the
// driver's 64-bit Linux ABI (DWORD and ULONG are 32 bits wide there).

using DWORD = std::uint32_t;
using ULONG = std::uint32_t;
using FT_HANDLE = void*;
using FT_STATUS = std::uint32_t;

inline constexpr FT_STATUS FT_OK = 0;
inline constexpr FT_STATUS FT_INVALID_HANDLE = 1;
inline constexpr FT_STATUS FT_DEVICE_NOT_FOUND = 2;
inline constexpr FT_STATUS FT_DEVICE_NOT_OPENED = 3;
inline constexpr FT_STATUS FT_IO_ERROR = 4;
inline constexpr FT_STATUS FT_INSUFFICIENT_RESOURCES = 5;
inline constexpr FT_STATUS FT_INVALID_PARAMETER = 6;
inline constexpr FT_STATUS FT_INVALID_BAUD_RATE = 7;
inline constexpr FT_STATUS FT_EEPROM_READ_FAILED = 11;
inline constexpr FT_STATUS FT_INVALID_ARGS = 16;
inline constexpr FT_STATUS FT_NOT_SUPPORTED = 17;
inline constexpr FT_STATUS FT_OTHER_ERROR = 18;
inline constexpr FT_STATUS FT_DEVICE_LIST_NOT_READY = 19;

inline constexpr DWORD FT_LIST_NUMBER_ONLY = 0x80000000u;
inline constexpr DWORD FT_LIST_BY_INDEX = 0x40000000u;
inline constexpr DWORD FT_OPEN_BY_SERIAL_NUMBER = 1;
inline constexpr DWORD FT_OPEN_BY_DESCRIPTION = 2;

inline constexpr ULONG FT_PURGE_RX = 1;
inline constexpr ULONG FT_PURGE_TX = 2;

/// The driver's receive queue: the bytes it holds for the host, at most what
/// FT_GetQueueStatus reports. What the chip sends while it is full is lost.
inline constexpr DWORD D2XX_RECEIVE_QUEUE_BYTES = 64 * 1024;

/// The driver entry points the device link calls. Filled from the loaded
/// driver library (DriverLibrary) or by the in-process logger simulator.
struct D2xxApi {
    FT_STATUS (*FT_ListDevices)(void* arg1, void* arg2, DWORD flags);
    FT_STATUS (*FT_OpenEx)(void* arg1, DWORD flags, FT_HANDLE* handle);
    FT_STATUS (*FT_ResetDevice)(FT_HANDLE handle);
    FT_STATUS (*FT_SetBaudRate)(FT_HANDLE handle, ULONG baudRate);
    FT_STATUS (*FT_Purge)(FT_HANDLE handle, ULONG mask);
    FT_STATUS (*FT_SetTimeouts)(FT_HANDLE handle, ULONG readTimeoutMs, ULONG writeTimeoutMs);
    FT_STATUS (*FT_EE_UARead)(FT_HANDLE handle, unsigned char* data, DWORD length, DWORD* bytesRead);
    FT_STATUS (*FT_Write)(FT_HANDLE handle, void* buffer, DWORD length, DWORD* bytesWritten);
    FT_STATUS (*FT_Read)(FT_HANDLE handle, void* buffer, DWORD length, DWORD* bytesReceived);
    FT_STATUS (*FT_GetQueueStatus)(FT_HANDLE handle, DWORD* rxBytes);
    FT_STATUS (*FT_Close)(FT_HANDLE handle);
};
