// The smallest kernel driver the product's driver services can start: it loads, and it can
// be unloaded. It creates no device and serves no request.
#include <ntddk.h>

DRIVER_INITIALIZE DriverEntry;
static DRIVER_UNLOAD LegacyUnload;

static VOID LegacyUnload(PDRIVER_OBJECT driver) { UNREFERENCED_PARAMETER(driver); }

NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
    UNREFERENCED_PARAMETER(registryPath);
    // Without an unload routine the driver could never be stopped again.
    driver->DriverUnload = LegacyUnload;
    return STATUS_SUCCESS;
}
