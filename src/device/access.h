#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "device/d2xx.h"

// Result codes: 0 is success, non-zero driver statuses pass through unchanged,
// and the device link adds its own codes from 19 on.
inline constexpr std::uint32_t RESULT_OK = 0;
inline constexpr std::uint32_t RESULT_INVALID_PARAMETER = 19;
inline constexpr std::uint32_t RESULT_CALIBRATION_SIZE = 20;
inline constexpr std::uint32_t RESULT_COMMUNICATION = 21;
/// The calibration block names a resolution the frame decoder does not know;
/// shown with the generic error text.
inline constexpr std::uint32_t RESULT_CALIBRATION_FORMAT = 22;

inline constexpr std::size_t CALIBRATION_BLOCK_SIZE = 54;
inline constexpr std::size_t MAX_SERIALS = 127;
/// USB description of every logger of the family.
inline constexpr const char* LOGGER_DESCRIPTION = "VOS-XX";
/// Bytes of one serial-number slot of DeviceList: the driver reports serial
/// numbers of up to 16 characters, plus the terminating zero.
inline constexpr std::size_t SERIAL_SLOT_SIZE = 17;

inline constexpr ULONG LINK_BAUD_RATE = 3000000;
inline constexpr ULONG LINK_TIMEOUT_MS = 500;

/// Opens the logger with the decimal serial text `serial`, or the first
/// device described as LOGGER_DESCRIPTION when `serial` is null, then resets
/// it, sets 3000000 baud, purges both queues and sets 500 ms time-outs.
/// On a failed configuration the device is closed again and `*handle` is
/// set to nullptr. Returns 0 or the failing driver status; 19 when `handle` is null.
std::uint32_t DeviceOpen(const D2xxApi& api, const char* serial, FT_HANDLE* handle);

/// Closes the handle; returns the driver status.
std::uint32_t DeviceClose(const D2xxApi& api, FT_HANDLE handle);

/// Writes `writeLength` bytes, then reads exactly `readLength` bytes; a phase
/// with a null buffer or a zero length is left out. Returns 19 when both are
/// left out, the driver status of a failed call, or 21 when fewer bytes moved.
std::uint32_t DeviceExchange(const D2xxApi& api, FT_HANDLE handle, const void* write,
                             std::uint32_t writeLength, void* read, std::uint32_t readLength);

/// Reads the 54-byte calibration block from the EEPROM user area into `block`.
/// Returns the driver status, 20 when the driver delivered another byte
/// count, 19 when `block` is null.
std::uint32_t DeviceReadCalibration(const D2xxApi& api, FT_HANDLE handle, std::uint8_t* block);

/// Writes the serial text of each attached logger, in the driver's index
/// order, into successive slots of SERIAL_SLOT_SIZE bytes; `slots` ends with
/// a nullptr entry. Devices of another description are skipped, as are those
/// whose per-index queries fail. A serial text too long for a slot is stored
/// as the empty text, which no caller accepts as a serial number, rather than
/// cut into a different number. Returns 0 or the status of the device count
/// query; 19 when `slots` or `count` is null.
std::uint32_t DeviceList(const D2xxApi& api, char* const* slots, std::uint32_t* count);

/// DeviceList into MAX_SERIALS slots of its own; the serial texts of the
/// loggers in list order. Returns DeviceList's result.
std::uint32_t ListSerialTexts(const D2xxApi& api, std::vector<std::string>& serials);

/// The message shown to the user for a result code (UTF-8).
std::string ResultMessage(std::uint32_t code);

/// Decimal text to a 32-bit number as C's strtol does with a 32-bit long:
/// leading blanks and a sign allowed, stops at the first non-digit, 0 without
/// digits, saturates at 2147483647 and -2147483648. Null reads as 0.
std::int32_t SerialTextToLong(const char* text);

/// What a search for loggers found.
struct SearchOutcome {
    bool ok = false;                   ///< false: show `message`
    std::string message;               ///< failure text, empty on success
    std::uint32_t result = RESULT_OK;  ///< the result code `message` shows
    std::vector<std::int32_t> serials; ///< accepted serial numbers in list order
    bool selectLast = false;           ///< select the last list item
};

/// Lists the attached loggers by serial number. Fails with the driver's
/// message when the device count cannot be read (no serials), or with the
/// "device not found" text at the first serial text that does not read as a
/// usable number (0, 2147483647 or -2147483648), keeping those accepted before it.
SearchOutcome SearchLoggers(const D2xxApi& api);

/// The logger used when none is named: the one Search selects, the last one
/// found. Returns 0 with its serial number, the status of a failed list, or
/// FT_DEVICE_NOT_FOUND when Search selects none.
std::uint32_t DefaultLoggerSerial(const D2xxApi& api, std::int32_t& serial);
