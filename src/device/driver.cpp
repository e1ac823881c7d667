#include "device/driver.h"

#include <dlfcn.h>

bool ProbeDriverLibrary(const char* name) {
    void* module = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) return false;
    dlclose(module);
    return true;
}

DriverLibrary::~DriverLibrary() { Unload(); }

void DriverLibrary::Unload() {
    if (m_module != nullptr) dlclose(m_module);
    m_module = nullptr;
    m_loaded = false;
    m_api = D2xxApi{};
}

namespace {

template <typename Fn>
bool Resolve(void* module, const char* symbol, Fn& slot, std::string& error) {
    void* address = dlsym(module, symbol);
    if (address == nullptr) {
        error = std::string("missing function ") + symbol;
        return false;
    }
    slot = reinterpret_cast<Fn>(address);
    return true;
}

}  // namespace

bool DriverLibrary::Load(const char* name) {
    Unload();
    m_error.clear();
    if (name == nullptr) {
        m_error = "no library name";
        return false;
    }
    m_module = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (m_module == nullptr) {
        const char* why = dlerror();
        m_error = why != nullptr ? why : "cannot load library";
        return false;
    }
    D2xxApi api{};
    const bool all = Resolve(m_module, "FT_ListDevices", api.FT_ListDevices, m_error) &&
                     Resolve(m_module, "FT_OpenEx", api.FT_OpenEx, m_error) &&
                     Resolve(m_module, "FT_ResetDevice", api.FT_ResetDevice, m_error) &&
                     Resolve(m_module, "FT_SetBaudRate", api.FT_SetBaudRate, m_error) &&
                     Resolve(m_module, "FT_Purge", api.FT_Purge, m_error) &&
                     Resolve(m_module, "FT_SetTimeouts", api.FT_SetTimeouts, m_error) &&
                     Resolve(m_module, "FT_EE_UARead", api.FT_EE_UARead, m_error) &&
                     Resolve(m_module, "FT_Write", api.FT_Write, m_error) &&
                     Resolve(m_module, "FT_Read", api.FT_Read, m_error) &&
                     Resolve(m_module, "FT_GetQueueStatus", api.FT_GetQueueStatus, m_error) &&
                     Resolve(m_module, "FT_Close", api.FT_Close, m_error);
    if (!all) {
        std::string why = m_error;
        Unload();
        m_error = why;
        return false;
    }
    m_api = api;
    m_loaded = true;
    return true;
}

const D2xxApi* DriverLibrary::Api() const { return m_loaded ? &m_api : nullptr; }

const std::string& DriverLibrary::Error() const { return m_error; }
