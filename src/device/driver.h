#pragma once

#include <string>

#include "device/d2xx.h"

/// File name of FTDI's D2XX driver library, found through the system library path.
inline constexpr const char* D2XX_LIBRARY_NAME = "libftd2xx.so";
/// What the programs say when no D2XX driver library can be loaded.
inline constexpr const char* DRIVER_MISSING_TEXT = "VOS-12/VOS-16がインストールできていません";

/// True when the library `name` (a file name or a path) can be loaded.
/// The library is unloaded again at once.
bool ProbeDriverLibrary(const char* name = D2XX_LIBRARY_NAME);

/// Loads a D2XX driver library and resolves the entry points the device link uses.
class DriverLibrary {
public:
    DriverLibrary() = default;
    DriverLibrary(const DriverLibrary&) = delete;
    DriverLibrary& operator=(const DriverLibrary&) = delete;
    ~DriverLibrary();

    /// Loads `name` (file name or path) and resolves all eleven functions.
    /// Fails, keeping nothing loaded, when the library or any function is
    /// missing; Error() then says why. A second Load replaces the first.
    bool Load(const char* name = D2XX_LIBRARY_NAME);

    /// The function table, or nullptr until a Load succeeded.
    const D2xxApi* Api() const;

    /// Why the last Load failed; empty after a success.
    const std::string& Error() const;

private:
    void Unload();

    void* m_module = nullptr;
    D2xxApi m_api{};
    bool m_loaded = false;
    std::string m_error;
};
