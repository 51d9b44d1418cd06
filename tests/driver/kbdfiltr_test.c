/* A stand-in keyboard filter driver for tests. It is never shipped and filters
 * no keyboard: key transitions come from a test through its test device
 * (see kbdfiltr_test_protocol.h). Towards the program under test it keeps the
 * control-device contract: the device \Device\kbdfiltr_QX7TL4, held by its
 * first open until that is closed, the key table of 92 records with the events
 * to signal, the one-byte layer mode, the removal of the table.
 *
 * Event handles in the table belong to the process that sent it. The driver
 * opens that process and duplicates each handle into its own process, then
 * sets the copies; a kernel driver that resolves handles to objects
 * (ObReferenceObjectByHandle) would do the same job, but Wine's kernel does not
 * resolve another process's event handles that way.
 *
 * Everything runs at PASSIVE_LEVEL in dispatch routines, so one kernel mutex
 * guards all state.
 */
#include <ntddk.h>

#include "kbdfiltr_test_protocol.h"

NTSYSAPI NTSTATUS NTAPI ZwDuplicateObject(HANDLE SourceProcessHandle, HANDLE SourceHandle, HANDLE TargetProcessHandle,
                                          PHANDLE TargetHandle, ACCESS_MASK DesiredAccess, ULONG HandleAttributes,
                                          ULONG Options);
NTSYSAPI NTSTATUS NTAPI ZwSetEvent(HANDLE EventHandle, PLONG PreviousState);

#define KBDTEST_TAG 0x7442444Bu /* "KDBt" */
#define KBDTEST_DUPLICATE_SAME_ACCESS 0x00000002u
#define KBDTEST_PROCESS_DUP_HANDLE 0x0040u
#define KBDTEST_SELF ((HANDLE)(LONG_PTR)-1)

typedef struct KeyRecord {
  ULONG Action;
  USHORT MakeCode;
  USHORT Flags;
  ULONG64 Event; /* the handle value as sent */
  HANDLE Copy;   /* our duplicate, or NULL */
} KeyRecord;

static PDEVICE_OBJECT g_control;
static PDEVICE_OBJECT g_test;
static KMUTEX g_lock;

static int g_control_open;
static PFILE_OBJECT g_opener_file; /* the open that holds the control device */
static ULONG g_opener_pid;
static int g_table_installed;
static unsigned char g_layer_mode;
static ULONG g_owner_pid;
static ULONG g_events_held;
static ULONG g_events_failed;
static NTSTATUS g_last_dup_status;
static KeyRecord g_table[KBDFILTR_RECORD_COUNT];
static LONGLONG g_last_signal_time;
static HANDLE g_notify; /* our hold of the event set whenever the log grows, or NULL */

static unsigned char* g_log; /* KBDTEST_LOG_CAPACITY bytes, starts with a KbdTestLogHeader */

static const WCHAR kControlName[] = L"\\Device\\kbdfiltr_QX7TL4";
static const WCHAR kControlLink[] = L"\\DosDevices\\kbdfiltr_QX7TL4";
static const WCHAR kTestName[] = L"\\Device\\kbdfiltr_test_QX7TL4";
static const WCHAR kTestLink[] = L"\\DosDevices\\kbdfiltr_test_QX7TL4";

static void Lock(void) { KeWaitForSingleObject(&g_lock, Executive, KernelMode, FALSE, NULL); }

static void Unlock(void) { KeReleaseMutex(&g_lock, FALSE); }

static void CopyBytes(void* to, const void* from, SIZE_T n) {
  unsigned char* t = (unsigned char*)to;
  const unsigned char* f = (const unsigned char*)from;
  while (n--) *t++ = *f++;
}

static void ZeroBytes(void* to, SIZE_T n) {
  unsigned char* t = (unsigned char*)to;
  while (n--) *t++ = 0;
}

static ULONG ReadU32(const unsigned char* p) {
  return (ULONG)p[0] | ((ULONG)p[1] << 8) | ((ULONG)p[2] << 16) | ((ULONG)p[3] << 24);
}

static USHORT ReadU16(const unsigned char* p) { return (USHORT)(p[0] | (p[1] << 8)); }

static ULONG64 ReadU64(const unsigned char* p) { return (ULONG64)ReadU32(p) | ((ULONG64)ReadU32(p + 4) << 32); }

static void LogClearLocked(void) {
  KbdTestLogHeader* h = (KbdTestLogHeader*)g_log;
  ZeroBytes(g_log, KBDTEST_LOG_CAPACITY);
  h->Magic = KBDTEST_LOG_MAGIC;
  h->UsedBytes = sizeof(KbdTestLogHeader);
}

static LONGLONG Now(void) { return KeQueryPerformanceCounter(NULL).QuadPart; }

static void LogLocked(ULONG kind, ULONG code, const void* input, ULONG length, NTSTATUS status, ULONG pid, int holder,
                      LONGLONG time) {
  KbdTestLogHeader* h = (KbdTestLogHeader*)g_log;
  ULONG size = (ULONG)((sizeof(KbdTestLogEntry) + length + 7u) & ~7u);
  KbdTestLogEntry* e;
  /* Once one entry did not fit, none is kept: the log stays a prefix of what happened. */
  if (h->Dropped || length > KBDTEST_LOG_CAPACITY || size > KBDTEST_LOG_CAPACITY - h->UsedBytes) {
    h->Dropped++;
    return;
  }
  e = (KbdTestLogEntry*)(g_log + h->UsedBytes);
  e->Size = size;
  e->Kind = kind;
  e->Code = code;
  e->InputLength = length;
  e->Status = status;
  e->ProcessId = pid;
  e->Holder = holder ? 1u : 0u;
  e->Reserved = 0;
  e->Time = time;
  if (length) CopyBytes(e + 1, input, length);
  h->UsedBytes += size;
  h->EntryCount++;
  if (g_notify) ZwSetEvent(g_notify, NULL);
}

static void DropTableLocked(void) {
  ULONG i;
  for (i = 0; i < KBDFILTR_RECORD_COUNT; ++i) {
    if (g_table[i].Copy) ZwClose(g_table[i].Copy);
  }
  ZeroBytes(g_table, sizeof(g_table));
  g_table_installed = 0;
  g_owner_pid = 0;
  g_events_held = 0;
  g_events_failed = 0;
}

/* Only records whose Action byte 0 is 1 ask for a signal. */
static int WantsSignal(ULONG action) { return (action & 0xFFu) == 1u; }

/* Records with a non-zero Action byte 1 are character keys: signalled only
 * while the layer is on. The layer key's records (Action 0x00000001) always. */
static int NeedsLayer(ULONG action) { return ((action >> 8) & 0xFFu) != 0u; }

static NTSTATUS OpenProcessForDuplicates(ULONG pid, HANDLE* process) {
  OBJECT_ATTRIBUTES oa;
  CLIENT_ID cid;
  InitializeObjectAttributes(&oa, NULL, OBJ_KERNEL_HANDLE, NULL, NULL);
  cid.UniqueProcess = (HANDLE)(ULONG_PTR)pid;
  cid.UniqueThread = NULL;
  return ZwOpenProcess(process, KBDTEST_PROCESS_DUP_HANDLE, &oa, &cid);
}

static NTSTATUS InstallTableLocked(const unsigned char* bytes, ULONG pid) {
  HANDLE process = NULL;
  NTSTATUS status;
  ULONG i;

  DropTableLocked();
  g_last_dup_status = STATUS_SUCCESS;
  status = OpenProcessForDuplicates(pid, &process);
  if (!NT_SUCCESS(status)) {
    g_last_dup_status = status;
    return status;
  }
  for (i = 0; i < KBDFILTR_RECORD_COUNT; ++i) {
    const unsigned char* r = bytes + i * KBDFILTR_RECORD_SIZE;
    KeyRecord* k = &g_table[i];
    k->Action = ReadU32(r);
    k->MakeCode = ReadU16(r + 4);
    k->Flags = ReadU16(r + 6);
    k->Event = ReadU64(r + 16);
    k->Copy = NULL;
    if (!WantsSignal(k->Action) || k->Event == 0) continue;
    status = ZwDuplicateObject(process, (HANDLE)(ULONG_PTR)k->Event, KBDTEST_SELF, &k->Copy, 0, 0,
                               KBDTEST_DUPLICATE_SAME_ACCESS);
    if (NT_SUCCESS(status)) {
      g_events_held++;
    } else {
      k->Copy = NULL;
      g_events_failed++;
      g_last_dup_status = status;
    }
  }
  ZwClose(process);
  g_table_installed = 1;
  g_owner_pid = pid;
  return STATUS_SUCCESS;
}

/* One key transition. Writes the indices of the records it signalled to out
 * (at most *room of them) and returns how many it wrote. */
static ULONG TransitionLocked(USHORT make, USHORT flags, ULONG* out, ULONG room) {
  ULONG i, n = 0;
  if (!g_table_installed) return 0;
  for (i = 0; i < KBDFILTR_RECORD_COUNT; ++i) {
    const KeyRecord* k = &g_table[i];
    if (k->MakeCode != make || k->Flags != flags || !WantsSignal(k->Action)) continue;
    if (NeedsLayer(k->Action) && g_layer_mode != 1) continue;
    if (!k->Copy) continue;
    g_last_signal_time = Now();
    if (NT_SUCCESS(ZwSetEvent(k->Copy, NULL)) && n < room) out[n++] = i;
  }
  return n;
}

/* The process that sent a create or control request: dispatch routines of
 * this device run in the context of the sending thread (Wine stands the
 * sender's thread in for the current one; it has no IoGetRequestorProcessId).
 * Asked only for creates and control calls, never for a close, which may come
 * from a process that already ended and so from no thread at all. (Wine does
 * not make an open wait for the driver either: a process that ended right
 * after opening would leave none to ask. Tests do not do that.) */
static ULONG RequestorPid(void) { return (ULONG)(ULONG_PTR)PsGetCurrentProcessId(); }

static NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

static PFILE_OBJECT FileOf(PIRP irp, PIO_STACK_LOCATION sp) {
  return sp->FileObject ? sp->FileObject : irp->Tail.Overlay.OriginalFileObject;
}

static NTSTATUS ControlDevice(PIRP irp, PIO_STACK_LOCATION sp) {
  NTSTATUS status = STATUS_SUCCESS;
  PFILE_OBJECT file = FileOf(irp, sp);
  const LONGLONG arrived = Now();
  ULONG pid = 0;
  int holder;
  if (sp->MajorFunction == IRP_MJ_CREATE || sp->MajorFunction == IRP_MJ_DEVICE_CONTROL) pid = RequestorPid();
  Lock();
  holder = g_control_open && file == g_opener_file;
  switch (sp->MajorFunction) {
    case IRP_MJ_CREATE:
      if (g_control_open) {
        status = STATUS_SHARING_VIOLATION;
      } else {
        g_control_open = 1;
        g_opener_file = file;
        g_opener_pid = pid;
        g_layer_mode = 0;
        DropTableLocked();
        holder = 1;
      }
      LogLocked(KBDTEST_LOG_CREATE, 0, NULL, 0, status, pid, holder, arrived);
      break;
    case IRP_MJ_CLEANUP:
      LogLocked(KBDTEST_LOG_CLEANUP, 0, NULL, 0, status, holder ? g_opener_pid : 0, holder, arrived);
      break;
    case IRP_MJ_CLOSE:
      LogLocked(KBDTEST_LOG_CLOSE, 0, NULL, 0, status, holder ? g_opener_pid : 0, holder, arrived);
      if (holder) {
        /* The opener is gone: its events are no longer anyone's to signal. */
        DropTableLocked();
        g_layer_mode = 0;
        g_control_open = 0;
        g_opener_file = NULL;
        g_opener_pid = 0;
      }
      break;
    case IRP_MJ_DEVICE_CONTROL: {
      ULONG code = sp->Parameters.DeviceIoControl.IoControlCode;
      ULONG length = sp->Parameters.DeviceIoControl.InputBufferLength;
      const unsigned char* in = (const unsigned char*)irp->AssociatedIrp.SystemBuffer;
      if (length && !in) {
        status = STATUS_INVALID_PARAMETER;
        length = 0;
      } else if (!holder) {
        status = STATUS_SHARING_VIOLATION;
      } else if (code == KBDFILTR_IOCTL_SET_KEY_TABLE) {
        if (length == 0) {
          DropTableLocked();
        } else if (length == KBDFILTR_TABLE_SIZE) {
          status = InstallTableLocked(in, pid);
        } else {
          status = STATUS_INVALID_PARAMETER;
        }
      } else if (code == KBDFILTR_IOCTL_SET_LAYER_MODE) {
        if (length == 1) {
          g_layer_mode = in[0];
        } else {
          status = STATUS_INVALID_PARAMETER;
        }
      } else {
        status = STATUS_INVALID_DEVICE_REQUEST;
      }
      LogLocked(KBDTEST_LOG_DEVICE_CONTROL, code, in, length, status, pid, holder, arrived);
      break;
    }
    default:
      status = STATUS_INVALID_DEVICE_REQUEST;
      break;
  }
  Unlock();
  return Complete(irp, status, 0);
}

/* Replaces the log's notify event by the caller's event `value` (0: none). */
static NTSTATUS SetNotifyLocked(ULONG64 value, ULONG pid) {
  HANDLE process = NULL, copy = NULL;
  NTSTATUS status = STATUS_SUCCESS;
  if (value) {
    status = OpenProcessForDuplicates(pid, &process);
    if (!NT_SUCCESS(status)) return status;
    status =
        ZwDuplicateObject(process, (HANDLE)(ULONG_PTR)value, KBDTEST_SELF, &copy, 0, 0, KBDTEST_DUPLICATE_SAME_ACCESS);
    ZwClose(process);
    if (!NT_SUCCESS(status)) return STATUS_INVALID_HANDLE;
  }
  if (g_notify) ZwClose(g_notify);
  g_notify = copy;
  return status;
}

static NTSTATUS TestDevice(PIRP irp, PIO_STACK_LOCATION sp) {
  ULONG code, in_len, out_len, pid = 0;
  unsigned char* buf;
  ULONG_PTR info = 0;
  NTSTATUS status = STATUS_SUCCESS;

  if (sp->MajorFunction != IRP_MJ_DEVICE_CONTROL) {
    if (sp->MajorFunction == IRP_MJ_CREATE || sp->MajorFunction == IRP_MJ_CLEANUP || sp->MajorFunction == IRP_MJ_CLOSE)
      return Complete(irp, STATUS_SUCCESS, 0);
    return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  }
  code = sp->Parameters.DeviceIoControl.IoControlCode;
  in_len = sp->Parameters.DeviceIoControl.InputBufferLength;
  out_len = sp->Parameters.DeviceIoControl.OutputBufferLength;
  buf = (unsigned char*)irp->AssociatedIrp.SystemBuffer;
  if ((in_len || out_len) && !buf) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
  if (code == KBDTEST_IOCTL_SET_NOTIFY) pid = RequestorPid();

  Lock();
  switch (code) {
    case KBDTEST_IOCTL_INJECT: {
      KbdTestTransition moves[KBDTEST_MAX_TRANSITIONS];
      ULONG count = in_len / sizeof(KbdTestTransition), i, written = 0;
      if (in_len == 0 || in_len % sizeof(KbdTestTransition) || count > KBDTEST_MAX_TRANSITIONS) {
        status = STATUS_INVALID_PARAMETER;
        break;
      }
      /* Input and output share the buffer: take the input first. */
      CopyBytes(moves, buf, in_len);
      for (i = 0; i < count; ++i) {
        written += TransitionLocked(moves[i].MakeCode, moves[i].Flags, (ULONG*)buf + written,
                                    out_len / sizeof(ULONG) - written);
      }
      info = written * sizeof(ULONG);
      break;
    }
    case KBDTEST_IOCTL_READ_LOG: {
      ULONG used = ((KbdTestLogHeader*)g_log)->UsedBytes;
      if (out_len < KBDTEST_LOG_CAPACITY) {
        status = STATUS_BUFFER_TOO_SMALL;
        break;
      }
      CopyBytes(buf, g_log, used);
      info = used;
      break;
    }
    case KBDTEST_IOCTL_CLEAR_LOG:
      LogClearLocked();
      break;
    case KBDTEST_IOCTL_SET_NOTIFY:
      if (in_len != 8) {
        status = STATUS_INVALID_PARAMETER;
        break;
      }
      status = SetNotifyLocked(ReadU64(buf), pid);
      break;
    case KBDTEST_IOCTL_QUERY_STATE: {
      KbdTestState s;
      if (out_len < sizeof(s)) {
        status = STATUS_BUFFER_TOO_SMALL;
        break;
      }
      ZeroBytes(&s, sizeof(s));
      s.ControlOpen = (unsigned int)g_control_open;
      s.TableInstalled = (unsigned int)g_table_installed;
      s.LayerMode = g_layer_mode;
      s.EventsHeld = g_events_held;
      s.EventsFailed = g_events_failed;
      s.LastDuplicateStatus = g_last_dup_status;
      s.OwnerProcessId = g_owner_pid;
      s.LastSignalTime = g_last_signal_time;
      CopyBytes(buf, &s, sizeof(s));
      info = sizeof(s);
      break;
    }
    default:
      status = STATUS_INVALID_DEVICE_REQUEST;
      break;
  }
  Unlock();
  return Complete(irp, status, info);
}

static NTSTATUS Dispatch(PDEVICE_OBJECT device, PIRP irp) {
  PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
  if (device == g_control) return ControlDevice(irp, sp);
  if (device == g_test) return TestDevice(irp, sp);
  return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
}

static void DeleteDevices(void) {
  UNICODE_STRING s;
  if (g_test) {
    RtlInitUnicodeString(&s, kTestLink);
    IoDeleteSymbolicLink(&s);
    IoDeleteDevice(g_test);
    g_test = NULL;
  }
  if (g_control) {
    RtlInitUnicodeString(&s, kControlLink);
    IoDeleteSymbolicLink(&s);
    IoDeleteDevice(g_control);
    g_control = NULL;
  }
}

static void Unload(PDRIVER_OBJECT driver) {
  (void)driver;
  DeleteDevices();
  Lock();
  DropTableLocked();
  SetNotifyLocked(0, 0);
  Unlock();
  if (g_log) {
    ExFreePoolWithTag(g_log, KBDTEST_TAG);
    g_log = NULL;
  }
}

static NTSTATUS MakeDevice(PDRIVER_OBJECT driver, const WCHAR* name, const WCHAR* link, PDEVICE_OBJECT* out) {
  UNICODE_STRING n, l;
  NTSTATUS status;
  RtlInitUnicodeString(&n, name);
  RtlInitUnicodeString(&l, link);
  status = IoCreateDevice(driver, 0, &n, FILE_DEVICE_UNKNOWN, 0, FALSE, out);
  if (!NT_SUCCESS(status)) {
    *out = NULL;
    return status;
  }
  status = IoCreateSymbolicLink(&l, &n);
  if (status == STATUS_OBJECT_NAME_COLLISION) {
    /* Left behind by an instance that died without unloading. */
    IoDeleteSymbolicLink(&l);
    status = IoCreateSymbolicLink(&l, &n);
  }
  if (!NT_SUCCESS(status)) {
    IoDeleteDevice(*out);
    *out = NULL;
    return status;
  }
  (*out)->Flags |= DO_BUFFERED_IO;
  (*out)->Flags &= ~DO_DEVICE_INITIALIZING;
  return STATUS_SUCCESS;
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registry) {
  NTSTATUS status;
  (void)registry;
  KeInitializeMutex(&g_lock, 0);
  g_log = (unsigned char*)ExAllocatePoolWithTag(NonPagedPool, KBDTEST_LOG_CAPACITY, KBDTEST_TAG);
  if (!g_log) return STATUS_INSUFFICIENT_RESOURCES;
  LogClearLocked();

  driver->MajorFunction[IRP_MJ_CREATE] = Dispatch;
  driver->MajorFunction[IRP_MJ_CLEANUP] = Dispatch;
  driver->MajorFunction[IRP_MJ_CLOSE] = Dispatch;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = Dispatch;
  driver->DriverUnload = Unload;

  status = MakeDevice(driver, kControlName, kControlLink, &g_control);
  if (NT_SUCCESS(status)) status = MakeDevice(driver, kTestName, kTestLink, &g_test);
  if (!NT_SUCCESS(status)) {
    DeleteDevices();
    ExFreePoolWithTag(g_log, KBDTEST_TAG);
    g_log = NULL;
  }
  return status;
}
