// The HID minidriver interface of the HID class driver: the registration, the class driver's
// device extension, the descriptor and attribute records and the internal request codes.
// Declared from their documented names and layouts over the kernel's types, so the same header
// serves our host kernel and the Windows kernel headers of the cross builds.
#pragma once

extern "C" {

typedef struct _HID_MINIDRIVER_REGISTRATION {
  ULONG Revision;
  PDRIVER_OBJECT DriverObject;
  PUNICODE_STRING RegistryPath;
  ULONG DeviceExtensionSize;
  BOOLEAN DevicesArePolled;
  UCHAR Reserved[3];
} HID_MINIDRIVER_REGISTRATION, *PHID_MINIDRIVER_REGISTRATION;

typedef struct _HID_DEVICE_EXTENSION {
  PDEVICE_OBJECT PhysicalDeviceObject;
  PDEVICE_OBJECT NextDeviceObject;
  PVOID MiniDeviceExtension;
} HID_DEVICE_EXTENSION, *PHID_DEVICE_EXTENSION;

#pragma pack(push, 1)
typedef struct _HID_DESCRIPTOR {
  UCHAR bLength;
  UCHAR bDescriptorType;
  USHORT bcdHID;
  UCHAR bCountry;
  UCHAR bNumDescriptors;
  struct _HID_DESCRIPTOR_DESC_LIST {
    UCHAR bReportType;
    USHORT wReportLength;
  } DescriptorList[1];
} HID_DESCRIPTOR, *PHID_DESCRIPTOR;
#pragma pack(pop)

typedef struct _HID_DEVICE_ATTRIBUTES {
  ULONG Size;
  USHORT VendorID;
  USHORT ProductID;
  USHORT VersionNumber;
  USHORT Reserved[11];
} HID_DEVICE_ATTRIBUTES, *PHID_DEVICE_ATTRIBUTES;

typedef struct _HID_XFER_PACKET {
  PUCHAR reportBuffer;
  ULONG reportBufferLen;
  UCHAR reportId;
} HID_XFER_PACKET, *PHID_XFER_PACKET;

NTSTATUS NTAPI HidRegisterMinidriver(PHID_MINIDRIVER_REGISTRATION MinidriverRegistration);

}  // extern "C"

// Internal device-control codes of the minidriver interface (device type 0x0B). Any earlier
// definitions of these names (some headers carry placeholder values) are replaced.
#define KORVEX_HID_CODE(function, method) ((0x0BUL << 16) | ((function) << 2) | (method))
#undef IOCTL_HID_GET_DEVICE_DESCRIPTOR
#undef IOCTL_HID_GET_REPORT_DESCRIPTOR
#undef IOCTL_HID_READ_REPORT
#undef IOCTL_HID_WRITE_REPORT
#undef IOCTL_HID_GET_STRING
#undef IOCTL_HID_ACTIVATE_DEVICE
#undef IOCTL_HID_DEACTIVATE_DEVICE
#undef IOCTL_HID_GET_DEVICE_ATTRIBUTES
#undef IOCTL_HID_GET_FEATURE
#undef IOCTL_HID_SET_FEATURE
#define IOCTL_HID_GET_DEVICE_DESCRIPTOR  KORVEX_HID_CODE(0, 3)   // 0x000B0003
#define IOCTL_HID_GET_REPORT_DESCRIPTOR  KORVEX_HID_CODE(1, 3)   // 0x000B0007
#define IOCTL_HID_READ_REPORT            KORVEX_HID_CODE(2, 3)   // 0x000B000B
#define IOCTL_HID_WRITE_REPORT           KORVEX_HID_CODE(3, 3)   // 0x000B000F
#define IOCTL_HID_GET_STRING             KORVEX_HID_CODE(4, 3)   // 0x000B0013
#define IOCTL_HID_ACTIVATE_DEVICE        KORVEX_HID_CODE(7, 3)   // 0x000B001F
#define IOCTL_HID_DEACTIVATE_DEVICE      KORVEX_HID_CODE(8, 3)   // 0x000B0023
#define IOCTL_HID_GET_DEVICE_ATTRIBUTES  KORVEX_HID_CODE(9, 3)   // 0x000B0027
#define IOCTL_HID_SET_FEATURE            KORVEX_HID_CODE(100, 1) // 0x000B0191
#define IOCTL_HID_GET_FEATURE            KORVEX_HID_CODE(100, 2) // 0x000B0192
