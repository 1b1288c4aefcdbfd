// A function driver for root-enumerated devices: it attaches one device object to each
// device the PnP manager gives it, passes every request down the stack, and lets go of the
// device when it is removed. It owns no hardware; starting a device only enables the
// device's interface, which is how programs find the started devices. Built once per
// driver, each with its own interface (TSP_DEVICE_INTERFACE_INIT).
#include <ntddk.h>

#include "tspvd_interface.h"
#include "tspvdbus_interface.h"

#ifndef TSP_DEVICE_INTERFACE_INIT
#error "TSP_DEVICE_INTERFACE_INIT names the interface the driver enables"
#endif

static const GUID DEVICE_INTERFACE = TSP_DEVICE_INTERFACE_INIT;

typedef struct _FDO_EXTENSION {
    PDEVICE_OBJECT lower;          // the next device object down the stack
    UNICODE_STRING interfaceName;  // allocated by the system, freed on removal
} FDO_EXTENSION, *PFDO_EXTENSION;

DRIVER_INITIALIZE DriverEntry;
static DRIVER_UNLOAD PnpUnload;
static DRIVER_ADD_DEVICE PnpAddDevice;
static DRIVER_DISPATCH PnpDispatchPnp;
static DRIVER_DISPATCH PnpDispatchPower;
static DRIVER_DISPATCH PnpDispatchPassDown;
static IO_COMPLETION_ROUTINE PnpSignalCompletion;

static VOID PnpUnload(PDRIVER_OBJECT driver) { UNREFERENCED_PARAMETER(driver); }

static NTSTATUS PnpAddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo) {
    PDEVICE_OBJECT fdo = NULL;
    NTSTATUS status =
        IoCreateDevice(driver, sizeof(FDO_EXTENSION), NULL, FILE_DEVICE_UNKNOWN, FILE_DEVICE_SECURE_OPEN, FALSE, &fdo);
    if (!NT_SUCCESS(status)) return status;

    PFDO_EXTENSION extension = (PFDO_EXTENSION)fdo->DeviceExtension;
    RtlZeroMemory(extension, sizeof *extension);
    status = IoRegisterDeviceInterface(pdo, &DEVICE_INTERFACE, NULL, &extension->interfaceName);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(fdo);
        return status;
    }
    extension->lower = IoAttachDeviceToDeviceStack(fdo, pdo);
    if (extension->lower == NULL) {
        RtlFreeUnicodeString(&extension->interfaceName);
        IoDeleteDevice(fdo);
        return STATUS_NO_SUCH_DEVICE;
    }
    fdo->Flags |= DO_POWER_PAGABLE;
    fdo->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

static NTSTATUS PnpSignalCompletion(PDEVICE_OBJECT device, PIRP irp, PVOID context) {
    UNREFERENCED_PARAMETER(device);
    UNREFERENCED_PARAMETER(irp);
    KeSetEvent((PKEVENT)context, IO_NO_INCREMENT, FALSE);
    // The request is finished in the dispatch routine, after the lower drivers are done.
    return STATUS_MORE_PROCESSING_REQUIRED;
}

static NTSTATUS PnpPassDown(PFDO_EXTENSION extension, PIRP irp) {
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(extension->lower, irp);
}

// A function driver starts only after the bus driver below has started the device.
static NTSTATUS PnpStartDevice(PFDO_EXTENSION extension, PIRP irp) {
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(irp, PnpSignalCompletion, &done, TRUE, TRUE, TRUE);
    NTSTATUS status = IoCallDriver(extension->lower, irp);
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, NULL);
        status = irp->IoStatus.Status;
    }
    if (NT_SUCCESS(status)) IoSetDeviceInterfaceState(&extension->interfaceName, TRUE);
    irp->IoStatus.Status = status;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static NTSTATUS PnpDispatchPnp(PDEVICE_OBJECT fdo, PIRP irp) {
    PFDO_EXTENSION extension = (PFDO_EXTENSION)fdo->DeviceExtension;
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);

    switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE:
        return PnpStartDevice(extension, irp);
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
    case IRP_MN_STOP_DEVICE:
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
        // Nothing held that could refuse these.
        irp->IoStatus.Status = STATUS_SUCCESS;
        return PnpPassDown(extension, irp);
    case IRP_MN_SURPRISE_REMOVAL:
        IoSetDeviceInterfaceState(&extension->interfaceName, FALSE);
        irp->IoStatus.Status = STATUS_SUCCESS;
        return PnpPassDown(extension, irp);
    case IRP_MN_REMOVE_DEVICE: {
        // Disabling twice (after a surprise removal) only fails quietly.
        IoSetDeviceInterfaceState(&extension->interfaceName, FALSE);
        irp->IoStatus.Status = STATUS_SUCCESS;
        const NTSTATUS status = PnpPassDown(extension, irp);
        IoDetachDevice(extension->lower);
        RtlFreeUnicodeString(&extension->interfaceName);
        IoDeleteDevice(fdo);
        return status;
    }
    default:
        return PnpPassDown(extension, irp);
    }
}

static NTSTATUS PnpDispatchPower(PDEVICE_OBJECT fdo, PIRP irp) {
    PFDO_EXTENSION extension = (PFDO_EXTENSION)fdo->DeviceExtension;
    PoStartNextPowerIrp(irp);
    IoSkipCurrentIrpStackLocation(irp);
    return PoCallDriver(extension->lower, irp);
}

static NTSTATUS PnpDispatchPassDown(PDEVICE_OBJECT fdo, PIRP irp) {
    return PnpPassDown((PFDO_EXTENSION)fdo->DeviceExtension, irp);
}

NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
    UNREFERENCED_PARAMETER(registryPath);
    for (ULONG major = 0; major <= IRP_MJ_MAXIMUM_FUNCTION; ++major) driver->MajorFunction[major] = PnpDispatchPassDown;
    driver->MajorFunction[IRP_MJ_PNP] = PnpDispatchPnp;
    driver->MajorFunction[IRP_MJ_POWER] = PnpDispatchPower;
    driver->DriverExtension->AddDevice = PnpAddDevice;
    driver->DriverUnload = PnpUnload;
    return STATUS_SUCCESS;
}
