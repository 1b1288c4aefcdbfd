// The device interface the bus driver enables on each device it has started, so that
// programs can find the started devices. Shared by the driver (C) and Windows programs.
#ifndef TSPVDBUS_INTERFACE_H
#define TSPVDBUS_INTERFACE_H

// {83e9c3e5-0135-473a-9d2f-cb040e85aa1a}
#define TSPVDBUS_INTERFACE_GUID_INIT {0x83e9c3e5, 0x0135, 0x473a, {0x9d, 0x2f, 0xcb, 0x04, 0x0e, 0x85, 0xaa, 0x1a}}

#endif
