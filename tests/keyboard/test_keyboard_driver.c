/* The test keyboard: a HID minidriver for tests only, never shipped.
 *
 * Each device node it serves presents one HID top-level collection, the
 * Consumer-Control collection of the keyboard model (vendor 0x1C4F, product
 * 0x0002): usage page 0x0C, usage 0x01, report ID 1 and one 16-bit field,
 * so its input report is 3 bytes. The keyboard never produces input on its
 * own: a test pushes each report through the driver's control device
 * (TESTKBD_CONTROL_WIN32_PATH, IOCTL_TESTKBD_PUSH_REPORT), and every plugged
 * keyboard hands it to the HID class driver's next read.
 *
 * Built with mingw for x86_64 and linked against hidclass, ntoskrnl and hal.
 * mingw ships no hidport.h, so the minidriver interface is declared here. */
#include <ntddk.h>

#include "test_keyboard_protocol.h"

/* ---- HID minidriver interface ------------------------------------------ */

typedef struct {
  ULONG Revision;
  PDRIVER_OBJECT DriverObject;
  PUNICODE_STRING RegistryPath;
  ULONG DeviceExtensionSize;
  BOOLEAN DevicesArePolled;
  UCHAR Reserved[3];
} HID_MINIDRIVER_REGISTRATION;

#define HID_REVISION 0x00000001

typedef struct {
  PDEVICE_OBJECT PhysicalDeviceObject;
  PDEVICE_OBJECT NextDeviceObject;
  PVOID MiniDeviceExtension;
} HID_DEVICE_EXTENSION;

typedef struct {
  ULONG Size;
  USHORT VendorID;
  USHORT ProductID;
  USHORT VersionNumber;
  USHORT Reserved[11];
} HID_DEVICE_ATTRIBUTES;

#pragma pack(push, 1)
typedef struct {
  UCHAR bLength;
  UCHAR bDescriptorType;
  USHORT bcdHID;
  UCHAR bCountry;
  UCHAR bNumDescriptors;
  struct {
    UCHAR bReportType;
    USHORT wReportLength;
  } DescriptorList[1];
} HID_DESCRIPTOR;
#pragma pack(pop)

NTSTATUS NTAPI HidRegisterMinidriver(HID_MINIDRIVER_REGISTRATION* registration);

/* The real codes of the class driver's internal requests (mingw's
 * ddk/hidclass.h has other values). */
#define HID_INTERNAL_CTL(n) ((0x0000000BUL << 16) | ((n) << 2) | 3 /* METHOD_NEITHER */)
#define IOCTL_HID_GET_DEVICE_DESCRIPTOR HID_INTERNAL_CTL(0)
#define IOCTL_HID_GET_REPORT_DESCRIPTOR HID_INTERNAL_CTL(1)
#define IOCTL_HID_READ_REPORT HID_INTERNAL_CTL(2)
#define IOCTL_HID_GET_STRING HID_INTERNAL_CTL(4)
#define IOCTL_HID_GET_DEVICE_ATTRIBUTES HID_INTERNAL_CTL(9)

#define HID_HID_DESCRIPTOR_TYPE 0x21
#define HID_REPORT_DESCRIPTOR_TYPE 0x22
#define HID_STRING_ID_IMANUFACTURER 14
#define HID_STRING_ID_IPRODUCT 15
#define HID_STRING_ID_ISERIALNUMBER 16

/* ---- The keyboard ------------------------------------------------------- */

static const UCHAR kReportDescriptor[] = {
    0x05, 0x0C,       /* Usage Page (Consumer) */
    0x09, 0x01,       /* Usage (Consumer Control) */
    0xA1, 0x01,       /* Collection (Application) */
    0x85, 0x01,       /*   Report ID (1) */
    0x15, 0x00,       /*   Logical Minimum (0) */
    0x26, 0xFF, 0x03, /*   Logical Maximum (0x3FF) */
    0x19, 0x00,       /*   Usage Minimum (0) */
    0x2A, 0xFF, 0x03, /*   Usage Maximum (0x3FF) */
    0x75, 0x10,       /*   Report Size (16) */
    0x95, 0x01,       /*   Report Count (1) */
    0x81, 0x00,       /*   Input (Data, Array, Absolute) */
    0xC0,             /* End Collection */
};

typedef struct {
  UCHAR bytes[TESTKBD_MAX_REPORT];
  ULONG length;
} QUEUED_REPORT;

/* The minidriver's part of each device's extension. */
typedef struct {
  PDEVICE_OBJECT Device;                /* the functional device the class driver made */
  WCHAR Instance[TESTKBD_MAX_INSTANCE]; /* the device node's instance, e.g. 0001 */
  LIST_ENTRY Link;                      /* in g_keyboards from AddDevice to removal */
  BOOLEAN Listed;
  BOOLEAN Removed;         /* surprise-removed or removed: reads fail */
  LIST_ENTRY PendingReads; /* IRPs of IOCTL_HID_READ_REPORT */
  QUEUED_REPORT Queue[TESTKBD_QUEUE_DEPTH];
  ULONG QueueHead;
  ULONG QueueCount;
} KEYBOARD;

static KSPIN_LOCK g_lock; /* guards g_keyboards and every KEYBOARD */
static LIST_ENTRY g_keyboards;
static PDEVICE_OBJECT g_control; /* the side channel */
static BOOLEAN g_link_created;

/* The class driver's entries, saved after registration; the control device
 * is served in front of them. */
static PDRIVER_DISPATCH g_class_create;
static PDRIVER_DISPATCH g_class_close;
static PDRIVER_DISPATCH g_class_cleanup;
static PDRIVER_DISPATCH g_class_device_control;
static PDRIVER_DISPATCH g_class_read;
static PDRIVER_DISPATCH g_class_write;

/* The class driver creates its own devices on this driver object too, and
 * the control device is ours: only a device found in g_keyboards has a
 * minidriver extension. */
static KEYBOARD* FindKeyboard(PDEVICE_OBJECT device) {
  PLIST_ENTRY entry;
  KEYBOARD* found = NULL;
  KIRQL irql;
  KeAcquireSpinLock(&g_lock, &irql);
  for (entry = g_keyboards.Flink; entry != &g_keyboards; entry = entry->Flink) {
    KEYBOARD* keyboard = CONTAINING_RECORD(entry, KEYBOARD, Link);
    if (keyboard->Device == device) {
      found = keyboard;
      break;
    }
  }
  KeReleaseSpinLock(&g_lock, irql);
  return found;
}

static NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

static void CopyBytes(UCHAR* to, const UCHAR* from, ULONG length) {
  ULONG i;
  for (i = 0; i < length; ++i) to[i] = from[i];
}

/* Fills a read request with a report and completes it. Called without the
 * lock held. */
static void CompleteRead(PIRP irp, const UCHAR* report, ULONG length) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  ULONG room = stack->Parameters.DeviceIoControl.OutputBufferLength;
  if (irp->UserBuffer == NULL || room < length) {
    Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
    return;
  }
  CopyBytes((UCHAR*)irp->UserBuffer, report, length);
  Complete(irp, STATUS_SUCCESS, length);
}

/* Takes the oldest waiting read whose cancellation has not begun. Lock held. */
static PIRP PopReadLocked(KEYBOARD* keyboard) {
  while (!IsListEmpty(&keyboard->PendingReads)) {
    PLIST_ENTRY entry = RemoveHeadList(&keyboard->PendingReads);
    PIRP irp = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
    InitializeListHead(entry); /* a running cancel routine unlinks harmlessly */
    if (IoSetCancelRoutine(irp, NULL) != NULL) return irp;
  }
  return NULL;
}

static VOID NTAPI CancelRead(PDEVICE_OBJECT device, PIRP irp) {
  KIRQL irql;
  (void)device;
  IoReleaseCancelSpinLock(irp->CancelIrql);
  KeAcquireSpinLock(&g_lock, &irql);
  RemoveEntryList(&irp->Tail.Overlay.ListEntry);
  InitializeListHead(&irp->Tail.Overlay.ListEntry);
  KeReleaseSpinLock(&g_lock, irql);
  Complete(irp, STATUS_CANCELLED, 0);
}

static NTSTATUS ReadReport(KEYBOARD* keyboard, PIRP irp) {
  KIRQL irql;
  QUEUED_REPORT report;
  KeAcquireSpinLock(&g_lock, &irql);
  if (keyboard->Removed) {
    KeReleaseSpinLock(&g_lock, irql);
    return Complete(irp, STATUS_DELETE_PENDING, 0);
  }
  if (keyboard->QueueCount != 0) {
    report = keyboard->Queue[keyboard->QueueHead];
    keyboard->QueueHead = (keyboard->QueueHead + 1) % TESTKBD_QUEUE_DEPTH;
    keyboard->QueueCount--;
    KeReleaseSpinLock(&g_lock, irql);
    CompleteRead(irp, report.bytes, report.length);
    return STATUS_SUCCESS;
  }
  IoSetCancelRoutine(irp, CancelRead);
  if (irp->Cancel && IoSetCancelRoutine(irp, NULL) != NULL) {
    KeReleaseSpinLock(&g_lock, irql);
    return Complete(irp, STATUS_CANCELLED, 0);
  }
  IoMarkIrpPending(irp);
  InsertTailList(&keyboard->PendingReads, &irp->Tail.Overlay.ListEntry);
  KeReleaseSpinLock(&g_lock, irql);
  return STATUS_PENDING;
}

/* Fails every waiting read; with `removed` later reads fail at once, and with
 * `unlist` the keyboard no longer takes pushed reports. */
static void EndReads(KEYBOARD* keyboard, BOOLEAN removed, BOOLEAN unlist) {
  LIST_ENTRY done;
  PIRP irp;
  KIRQL irql;
  InitializeListHead(&done);
  KeAcquireSpinLock(&g_lock, &irql);
  if (removed) {
    keyboard->Removed = TRUE;
    keyboard->QueueCount = 0;
  }
  if (unlist && keyboard->Listed) {
    RemoveEntryList(&keyboard->Link);
    keyboard->Listed = FALSE;
  }
  while ((irp = PopReadLocked(keyboard)) != NULL) InsertTailList(&done, &irp->Tail.Overlay.ListEntry);
  KeReleaseSpinLock(&g_lock, irql);
  while (!IsListEmpty(&done)) {
    PLIST_ENTRY entry = RemoveHeadList(&done);
    Complete(CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry), STATUS_DELETE_PENDING, 0);
  }
}

static ULONG StringFor(ULONG id, const WCHAR** text) {
  switch (id & 0xFFFF) {
    case HID_STRING_ID_IMANUFACTURER:
      *text = L"Tavlo tests";
      break;
    case HID_STRING_ID_IPRODUCT:
      *text = L"Tavlo test keyboard";
      break;
    case HID_STRING_ID_ISERIALNUMBER:
      *text = L"TESTKBD0001";
      break;
    default:
      return 0;
  }
  {
    ULONG n = 0;
    while ((*text)[n] != 0) ++n;
    return (n + 1) * sizeof(WCHAR);
  }
}

static NTSTATUS NTAPI InternalDeviceControl(PDEVICE_OBJECT device, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  ULONG room = stack->Parameters.DeviceIoControl.OutputBufferLength;
  UCHAR* out = (UCHAR*)irp->UserBuffer;
  /* The class driver stops its reads before it removes the device, so the
   * keyboard outlives every request handled here. */
  KEYBOARD* keyboard = FindKeyboard(device);

  if (keyboard == NULL) return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);

  switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_HID_GET_DEVICE_DESCRIPTOR: {
      HID_DESCRIPTOR descriptor;
      descriptor.bLength = sizeof(descriptor);
      descriptor.bDescriptorType = HID_HID_DESCRIPTOR_TYPE;
      descriptor.bcdHID = 0x0111;
      descriptor.bCountry = 0;
      descriptor.bNumDescriptors = 1;
      descriptor.DescriptorList[0].bReportType = HID_REPORT_DESCRIPTOR_TYPE;
      descriptor.DescriptorList[0].wReportLength = sizeof(kReportDescriptor);
      if (out == NULL || room < sizeof(descriptor)) return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
      CopyBytes(out, (const UCHAR*)&descriptor, sizeof(descriptor));
      return Complete(irp, STATUS_SUCCESS, sizeof(descriptor));
    }
    case IOCTL_HID_GET_REPORT_DESCRIPTOR:
      if (out == NULL || room < sizeof(kReportDescriptor)) return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
      CopyBytes(out, kReportDescriptor, sizeof(kReportDescriptor));
      return Complete(irp, STATUS_SUCCESS, sizeof(kReportDescriptor));
    case IOCTL_HID_GET_DEVICE_ATTRIBUTES: {
      HID_DEVICE_ATTRIBUTES attributes;
      ULONG i;
      if (out == NULL || room < sizeof(attributes)) return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
      attributes.Size = sizeof(attributes);
      attributes.VendorID = TESTKBD_VENDOR_ID;
      attributes.ProductID = TESTKBD_PRODUCT_ID;
      attributes.VersionNumber = TESTKBD_VERSION;
      for (i = 0; i < 11; ++i) attributes.Reserved[i] = 0;
      CopyBytes(out, (const UCHAR*)&attributes, sizeof(attributes));
      return Complete(irp, STATUS_SUCCESS, sizeof(attributes));
    }
    case IOCTL_HID_GET_STRING: {
      /* The string's identifier is passed as the value of the input pointer. */
      const WCHAR* text = NULL;
      ULONG size = StringFor((ULONG)(ULONG_PTR)stack->Parameters.DeviceIoControl.Type3InputBuffer, &text);
      if (size == 0) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
      if (out == NULL || room < size) return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
      CopyBytes(out, (const UCHAR*)text, size);
      return Complete(irp, STATUS_SUCCESS, size);
    }
    case IOCTL_HID_READ_REPORT:
      return ReadReport(keyboard, irp);
    default:
      return Complete(irp, STATUS_NOT_SUPPORTED, 0);
  }
}

static NTSTATUS NTAPI Pnp(PDEVICE_OBJECT device, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  HID_DEVICE_EXTENSION* ext = (HID_DEVICE_EXTENSION*)device->DeviceExtension;
  KEYBOARD* keyboard = (KEYBOARD*)ext->MiniDeviceExtension;
  switch (stack->MinorFunction) {
    case IRP_MN_STOP_DEVICE:
      EndReads(keyboard, FALSE, FALSE);
      irp->IoStatus.Status = STATUS_SUCCESS;
      break;
    case IRP_MN_SURPRISE_REMOVAL:
      EndReads(keyboard, TRUE, FALSE);
      irp->IoStatus.Status = STATUS_SUCCESS;
      break;
    case IRP_MN_REMOVE_DEVICE:
      /* The class driver deletes the device when this returns. */
      EndReads(keyboard, TRUE, TRUE);
      irp->IoStatus.Status = STATUS_SUCCESS;
      break;
    case IRP_MN_START_DEVICE:
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
      irp->IoStatus.Status = STATUS_SUCCESS;
      break;
    default:
      break;
  }
  IoSkipCurrentIrpStackLocation(irp);
  return IoCallDriver(ext->NextDeviceObject, irp);
}

/* Power requests reach this entry for the class driver's devices as well:
 * only ours are passed down, the others are completed as they stand. */
static NTSTATUS NTAPI Power(PDEVICE_OBJECT device, PIRP irp) {
  NTSTATUS status;
  PoStartNextPowerIrp(irp);
  if (FindKeyboard(device) != NULL) {
    IoSkipCurrentIrpStackLocation(irp);
    return PoCallDriver(((HID_DEVICE_EXTENSION*)device->DeviceExtension)->NextDeviceObject, irp);
  }
  status = irp->IoStatus.Status;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

/* Asks the bus for the device node's instance (the part of its instance ID
 * that names this node among its siblings). Empty when the bus does not say. */
static void QueryInstance(PDEVICE_OBJECT pdo, WCHAR* out) {
  KEVENT event;
  IO_STATUS_BLOCK io;
  PIO_STACK_LOCATION stack;
  PIRP irp;
  NTSTATUS status;
  out[0] = 0;
  KeInitializeEvent(&event, NotificationEvent, FALSE);
  io.Status = STATUS_NOT_SUPPORTED;
  io.Information = 0;
  irp = IoBuildSynchronousFsdRequest(IRP_MJ_PNP, pdo, NULL, 0, NULL, &event, &io);
  if (irp == NULL) return;
  irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
  stack = IoGetNextIrpStackLocation(irp);
  stack->MinorFunction = IRP_MN_QUERY_ID;
  stack->Parameters.QueryId.IdType = BusQueryInstanceID;
  status = IoCallDriver(pdo, irp);
  if (status == STATUS_PENDING) {
    KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, NULL);
    status = io.Status;
  }
  if (NT_SUCCESS(status) && io.Information != 0) {
    const WCHAR* id = (const WCHAR*)io.Information;
    ULONG i;
    for (i = 0; i + 1 < TESTKBD_MAX_INSTANCE && id[i] != 0; ++i) out[i] = id[i];
    out[i] = 0;
    ExFreePool((PVOID)io.Information);
  }
}

static NTSTATUS NTAPI AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT device) {
  KEYBOARD* keyboard = (KEYBOARD*)((HID_DEVICE_EXTENSION*)device->DeviceExtension)->MiniDeviceExtension;
  KIRQL irql;
  (void)driver;
  keyboard->Device = device;
  QueryInstance(((HID_DEVICE_EXTENSION*)device->DeviceExtension)->PhysicalDeviceObject, keyboard->Instance);
  InitializeListHead(&keyboard->PendingReads);
  keyboard->Removed = FALSE;
  keyboard->QueueHead = 0;
  keyboard->QueueCount = 0;
  KeAcquireSpinLock(&g_lock, &irql);
  InsertTailList(&g_keyboards, &keyboard->Link);
  keyboard->Listed = TRUE;
  KeReleaseSpinLock(&g_lock, irql);
  device->Flags &= ~DO_DEVICE_INITIALIZING;
  return STATUS_SUCCESS;
}

/* ---- The side channel --------------------------------------------------- */

/* Hands the report to every listed keyboard: to its oldest waiting read, or
 * into its queue. Returns how many keyboards took it. */
static WCHAR Upper(WCHAR c) { return (c >= L'a' && c <= L'z') ? (WCHAR)(c - L'a' + L'A') : c; }

static BOOLEAN SameInstance(const WCHAR* a, const WCHAR* b) {
  ULONG i;
  for (i = 0; i < TESTKBD_MAX_INSTANCE; ++i) {
    if (Upper(a[i]) != Upper(b[i])) return FALSE;
    if (a[i] == 0) return TRUE;
  }
  return FALSE;
}

/* target: NULL for every keyboard. */
static ULONG PushReport(const UCHAR* report, ULONG length, const WCHAR* target) {
  LIST_ENTRY done;
  PLIST_ENTRY entry;
  ULONG taken = 0;
  KIRQL irql;
  InitializeListHead(&done);
  KeAcquireSpinLock(&g_lock, &irql);
  for (entry = g_keyboards.Flink; entry != &g_keyboards; entry = entry->Flink) {
    KEYBOARD* keyboard = CONTAINING_RECORD(entry, KEYBOARD, Link);
    PIRP irp;
    if (keyboard->Removed) continue;
    if (target != NULL && !SameInstance(keyboard->Instance, target)) continue;
    /* Queued reports go first, so a waiting read can only exist when the
     * queue is empty. */
    if (keyboard->QueueCount == 0 && (irp = PopReadLocked(keyboard)) != NULL) {
      InsertTailList(&done, &irp->Tail.Overlay.ListEntry);
      ++taken;
    } else if (keyboard->QueueCount < TESTKBD_QUEUE_DEPTH) {
      QUEUED_REPORT* slot = &keyboard->Queue[(keyboard->QueueHead + keyboard->QueueCount) % TESTKBD_QUEUE_DEPTH];
      CopyBytes(slot->bytes, report, length);
      slot->length = length;
      keyboard->QueueCount++;
      ++taken;
    }
  }
  KeReleaseSpinLock(&g_lock, irql);
  while (!IsListEmpty(&done)) {
    entry = RemoveHeadList(&done);
    CompleteRead(CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry), report, length);
  }
  return taken;
}

static ULONG HoldsKeyboard(const WCHAR* instance) {
  PLIST_ENTRY entry;
  ULONG held = 0;
  KIRQL irql;
  KeAcquireSpinLock(&g_lock, &irql);
  for (entry = g_keyboards.Flink; entry != &g_keyboards; entry = entry->Flink) {
    if (SameInstance(CONTAINING_RECORD(entry, KEYBOARD, Link)->Instance, instance)) held = 1;
  }
  KeReleaseSpinLock(&g_lock, irql);
  return held;
}

static ULONG CountKeyboards(void) {
  PLIST_ENTRY entry;
  ULONG count = 0;
  KIRQL irql;
  KeAcquireSpinLock(&g_lock, &irql);
  for (entry = g_keyboards.Flink; entry != &g_keyboards; entry = entry->Flink) {
    if (!CONTAINING_RECORD(entry, KEYBOARD, Link)->Removed) ++count;
  }
  KeReleaseSpinLock(&g_lock, irql);
  return count;
}

static NTSTATUS ControlDeviceControl(PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  ULONG in_length = stack->Parameters.DeviceIoControl.InputBufferLength;
  ULONG out_length = stack->Parameters.DeviceIoControl.OutputBufferLength;
  UCHAR* buffer = (UCHAR*)irp->AssociatedIrp.SystemBuffer;
  UCHAR report[TESTKBD_MAX_REPORT];
  ULONG result;

  switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_TESTKBD_PUSH_REPORT:
      if (buffer == NULL || in_length == 0 || in_length > TESTKBD_MAX_REPORT)
        return Complete(irp, STATUS_INVALID_PARAMETER, 0);
      if (out_length != 0 && out_length < sizeof(ULONG)) return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
      /* The system buffer holds input and output: copy the report first. */
      CopyBytes(report, buffer, in_length);
      result = PushReport(report, in_length, NULL);
      if (out_length == 0) return Complete(irp, STATUS_SUCCESS, 0);
      CopyBytes(buffer, (const UCHAR*)&result, sizeof(result));
      return Complete(irp, STATUS_SUCCESS, sizeof(result));
    case IOCTL_TESTKBD_PUSH_REPORT_TO: {
      TESTKBD_TARGETED_REPORT targeted;
      if (buffer == NULL || in_length != sizeof(targeted)) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
      if (out_length != 0 && out_length < sizeof(ULONG)) return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
      CopyBytes((UCHAR*)&targeted, buffer, sizeof(targeted));
      targeted.Instance[TESTKBD_MAX_INSTANCE - 1] = 0;
      if (targeted.Length == 0 || targeted.Length > TESTKBD_MAX_REPORT)
        return Complete(irp, STATUS_INVALID_PARAMETER, 0);
      result = PushReport(targeted.Report, targeted.Length, (const WCHAR*)targeted.Instance);
      if (out_length == 0) return Complete(irp, STATUS_SUCCESS, 0);
      CopyBytes(buffer, (const UCHAR*)&result, sizeof(result));
      return Complete(irp, STATUS_SUCCESS, sizeof(result));
    }
    case IOCTL_TESTKBD_HOLDS_KEYBOARD: {
      WCHAR instance[TESTKBD_MAX_INSTANCE];
      if (buffer == NULL || in_length != sizeof(instance) || out_length < sizeof(ULONG))
        return Complete(irp, STATUS_INVALID_PARAMETER, 0);
      CopyBytes((UCHAR*)instance, buffer, sizeof(instance));
      instance[TESTKBD_MAX_INSTANCE - 1] = 0;
      result = HoldsKeyboard(instance);
      CopyBytes(buffer, (const UCHAR*)&result, sizeof(result));
      return Complete(irp, STATUS_SUCCESS, sizeof(result));
    }
    case IOCTL_TESTKBD_COUNT_KEYBOARDS:
      if (buffer == NULL || out_length < sizeof(ULONG)) return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
      result = CountKeyboards();
      CopyBytes(buffer, (const UCHAR*)&result, sizeof(result));
      return Complete(irp, STATUS_SUCCESS, sizeof(result));
    default:
      return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  }
}

static NTSTATUS NTAPI DispatchCreate(PDEVICE_OBJECT device, PIRP irp) {
  if (device == g_control) return Complete(irp, STATUS_SUCCESS, 0);
  return g_class_create(device, irp);
}

static NTSTATUS NTAPI DispatchClose(PDEVICE_OBJECT device, PIRP irp) {
  if (device == g_control) return Complete(irp, STATUS_SUCCESS, 0);
  return g_class_close(device, irp);
}

static NTSTATUS NTAPI DispatchCleanup(PDEVICE_OBJECT device, PIRP irp) {
  if (device == g_control || g_class_cleanup == NULL) return Complete(irp, STATUS_SUCCESS, 0);
  return g_class_cleanup(device, irp);
}

static NTSTATUS NTAPI DispatchRead(PDEVICE_OBJECT device, PIRP irp) {
  if (device == g_control) return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  return g_class_read(device, irp);
}

static NTSTATUS NTAPI DispatchWrite(PDEVICE_OBJECT device, PIRP irp) {
  if (device == g_control) return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  return g_class_write(device, irp);
}

static NTSTATUS NTAPI DispatchDeviceControl(PDEVICE_OBJECT device, PIRP irp) {
  if (device == g_control) return ControlDeviceControl(irp);
  return g_class_device_control(device, irp);
}

static void DeleteControlDevice(void) {
  if (g_link_created) {
    UNICODE_STRING link;
    RtlInitUnicodeString(&link, TESTKBD_CONTROL_LINK_NAME);
    IoDeleteSymbolicLink(&link);
    g_link_created = FALSE;
  }
  if (g_control != NULL) {
    IoDeleteDevice(g_control);
    g_control = NULL;
  }
}

static VOID NTAPI Unload(PDRIVER_OBJECT driver) {
  (void)driver;
  DeleteControlDevice();
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registry_path) {
  HID_MINIDRIVER_REGISTRATION registration;
  UNICODE_STRING name, link;
  NTSTATUS status;
  ULONG i;

  KeInitializeSpinLock(&g_lock);
  InitializeListHead(&g_keyboards);

  driver->DriverExtension->AddDevice = AddDevice;
  driver->DriverUnload = Unload;
  driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = InternalDeviceControl;
  driver->MajorFunction[IRP_MJ_PNP] = Pnp;
  driver->MajorFunction[IRP_MJ_POWER] = Power;

  for (i = 0; i < sizeof(registration); ++i) ((UCHAR*)&registration)[i] = 0;
  registration.Revision = HID_REVISION;
  registration.DriverObject = driver;
  registration.RegistryPath = registry_path;
  registration.DeviceExtensionSize = sizeof(KEYBOARD);
  registration.DevicesArePolled = FALSE;
  status = HidRegisterMinidriver(&registration);
  if (!NT_SUCCESS(status)) return status;

  /* The class driver now owns these entries; the control device is served in
   * front of it. */
  g_class_create = driver->MajorFunction[IRP_MJ_CREATE];
  g_class_close = driver->MajorFunction[IRP_MJ_CLOSE];
  g_class_cleanup = driver->MajorFunction[IRP_MJ_CLEANUP];
  g_class_device_control = driver->MajorFunction[IRP_MJ_DEVICE_CONTROL];
  driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreate;
  driver->MajorFunction[IRP_MJ_CLOSE] = DispatchClose;
  driver->MajorFunction[IRP_MJ_CLEANUP] = DispatchCleanup;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchDeviceControl;
  if ((g_class_read = driver->MajorFunction[IRP_MJ_READ]) != NULL) driver->MajorFunction[IRP_MJ_READ] = DispatchRead;
  if ((g_class_write = driver->MajorFunction[IRP_MJ_WRITE]) != NULL)
    driver->MajorFunction[IRP_MJ_WRITE] = DispatchWrite;

  RtlInitUnicodeString(&name, TESTKBD_CONTROL_NT_NAME);
  status = IoCreateDevice(driver, 0, &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &g_control);
  if (!NT_SUCCESS(status)) {
    g_control = NULL;
    return status;
  }
  RtlInitUnicodeString(&link, TESTKBD_CONTROL_LINK_NAME);
  status = IoCreateSymbolicLink(&link, &name);
  if (!NT_SUCCESS(status)) {
    DeleteControlDevice();
    return status;
  }
  g_link_created = TRUE;
  g_control->Flags |= DO_BUFFERED_IO;
  g_control->Flags &= ~DO_DEVICE_INITIALIZING;
  return STATUS_SUCCESS;
}
