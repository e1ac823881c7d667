#include "doctor/usb.h"

#include <fnmatch.h>
#include <libudev.h>

#include <memory>
#include <utility>

namespace vosdoctor {
namespace {

struct UdevFree {
    void operator()(udev* p) const { udev_unref(p); }
    void operator()(udev_enumerate* p) const { udev_enumerate_unref(p); }
    void operator()(udev_device* p) const { udev_device_unref(p); }
};
template <typename T>
using UdevPtr = std::unique_ptr<T, UdevFree>;

std::string Text(const char* value) { return value != nullptr ? value : ""; }

// Enumerates the usb subsystem with one property match; under `parent` when given.
UdevPtr<udev_enumerate> Enumerate(udev* context, const char* devtype, udev_device* parent) {
    UdevPtr<udev_enumerate> scan(udev_enumerate_new(context));
    if (!scan) return scan;
    udev_enumerate_add_match_subsystem(scan.get(), "usb");
    udev_enumerate_add_match_property(scan.get(), "DEVTYPE", devtype);
    if (parent != nullptr) udev_enumerate_add_match_parent(scan.get(), parent);
    if (udev_enumerate_scan_devices(scan.get()) < 0) scan.reset();
    return scan;
}

std::vector<UsbInterface> InterfacesOf(udev* context, udev_device* device) {
    std::vector<UsbInterface> interfaces;
    UdevPtr<udev_enumerate> scan = Enumerate(context, "usb_interface", device);
    if (!scan) return interfaces;
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(scan.get())) {
        UdevPtr<udev_device> child(udev_device_new_from_syspath(context, udev_list_entry_get_name(entry)));
        if (!child) continue;
        interfaces.push_back({Text(udev_device_get_sysname(child.get())), Text(udev_device_get_driver(child.get()))});
    }
    return interfaces;
}

}  // namespace

bool UsbDevice::IsLogger() const { return fnmatch(LOGGER_PRODUCT_PATTERN, product.c_str(), 0) == 0; }

bool ListFtdiDevices(std::vector<UsbDevice>& devices, std::string& error) {
    devices.clear();
    UdevPtr<udev> context(udev_new());
    if (!context) {
        error = "cannot connect to udev";
        return false;
    }
    UdevPtr<udev_enumerate> scan = Enumerate(context.get(), "usb_device", nullptr);
    if (!scan) {
        error = "cannot enumerate USB devices through udev";
        return false;
    }
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(scan.get())) {
        UdevPtr<udev_device> device(udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
        if (!device || Text(udev_device_get_sysattr_value(device.get(), "idVendor")) != FTDI_VENDOR_ID) continue;
        UsbDevice found;
        found.name = Text(udev_device_get_sysname(device.get()));
        found.product = Text(udev_device_get_sysattr_value(device.get(), "product"));
        found.serial = Text(udev_device_get_sysattr_value(device.get(), "serial"));
        found.devnode = Text(udev_device_get_devnode(device.get()));
        found.interfaces = InterfacesOf(context.get(), device.get());
        devices.push_back(std::move(found));
    }
    return true;
}

}  // namespace vosdoctor
