// The device interface the stub driver enables on each stub device it has started, so that
// programs can find the started devices. Shared by the driver (C) and Windows programs.
#ifndef TSPVD_INTERFACE_H
#define TSPVD_INTERFACE_H

// {91fb564c-156c-48dd-847e-e9d844660105}
#define TSPVD_INTERFACE_GUID_INIT {0x91fb564c, 0x156c, 0x48dd, {0x84, 0x7e, 0xe9, 0xd8, 0x44, 0x66, 0x01, 0x05}}

#endif
