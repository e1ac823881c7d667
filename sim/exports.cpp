// The D2XX entry points of the simulated driver library. Each forwards to the
// simulator core, whose bus is built from VOS_SIM_CONFIG on the first call.
#include <mutex>

#include "sim/sim.h"

#define VOS_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

const D2xxApi& Bus() {
    static std::once_flag once;
    std::call_once(once, [] { vossim::Install(vossim::ConfigFromEnvironment()); });
    return vossim::Api();
}

}  // namespace

VOS_EXPORT FT_STATUS FT_ListDevices(void* arg1, void* arg2, DWORD flags) {
    return Bus().FT_ListDevices(arg1, arg2, flags);
}
VOS_EXPORT FT_STATUS FT_OpenEx(void* arg1, DWORD flags, FT_HANDLE* handle) {
    return Bus().FT_OpenEx(arg1, flags, handle);
}
VOS_EXPORT FT_STATUS FT_ResetDevice(FT_HANDLE handle) { return Bus().FT_ResetDevice(handle); }
VOS_EXPORT FT_STATUS FT_SetBaudRate(FT_HANDLE handle, ULONG baud) { return Bus().FT_SetBaudRate(handle, baud); }
VOS_EXPORT FT_STATUS FT_Purge(FT_HANDLE handle, ULONG mask) { return Bus().FT_Purge(handle, mask); }
VOS_EXPORT FT_STATUS FT_SetTimeouts(FT_HANDLE handle, ULONG readMs, ULONG writeMs) {
    return Bus().FT_SetTimeouts(handle, readMs, writeMs);
}
VOS_EXPORT FT_STATUS FT_EE_UARead(FT_HANDLE handle, unsigned char* data, DWORD length, DWORD* bytesRead) {
    return Bus().FT_EE_UARead(handle, data, length, bytesRead);
}
VOS_EXPORT FT_STATUS FT_Write(FT_HANDLE handle, void* buffer, DWORD length, DWORD* written) {
    return Bus().FT_Write(handle, buffer, length, written);
}
VOS_EXPORT FT_STATUS FT_Read(FT_HANDLE handle, void* buffer, DWORD length, DWORD* received) {
    return Bus().FT_Read(handle, buffer, length, received);
}
VOS_EXPORT FT_STATUS FT_GetQueueStatus(FT_HANDLE handle, DWORD* rxBytes) {
    return Bus().FT_GetQueueStatus(handle, rxBytes);
}
VOS_EXPORT FT_STATUS FT_Close(FT_HANDLE handle) { return Bus().FT_Close(handle); }

/// Frames the simulated logger `device` lost at a full receive queue.
VOS_EXPORT std::uint64_t VosSim_OverrunCount(unsigned device) {
    Bus();
    return vossim::OverrunCount(device);
}
