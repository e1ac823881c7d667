#pragma once

#include <string>
#include <vector>

namespace vosdoctor {

/// USB vendor ID of FTDI, as udev spells it.
inline constexpr const char* FTDI_VENDOR_ID = "0403";
/// USB product descriptions of the logger family (a shell pattern); the udev
/// rules match the same pattern.
inline constexpr const char* LOGGER_PRODUCT_PATTERN = "VOS-*";
/// The kernel's serial driver for FTDI chips.
inline constexpr const char* FTDI_SERIAL_DRIVER = "ftdi_sio";

/// One interface of a USB device and the kernel driver bound to it.
struct UsbInterface {
    std::string name;    ///< kernel name, e.g. "1-1:1.0"
    std::string driver;  ///< empty when no driver is bound
};

/// One FTDI USB device as udev sees it.
struct UsbDevice {
    std::string name;     ///< kernel name, e.g. "1-1"
    std::string product;  ///< USB product description
    std::string serial;   ///< USB serial number text
    std::string devnode;  ///< e.g. "/dev/bus/usb/001/005"; empty if none
    std::vector<UsbInterface> interfaces;

    /// True when the product description names a logger of the family.
    bool IsLogger() const;
};

/// The attached FTDI USB devices, in udev's order, through libudev.
/// Returns false with `error` set when udev cannot be asked.
bool ListFtdiDevices(std::vector<UsbDevice>& devices, std::string& error);

}  // namespace vosdoctor
