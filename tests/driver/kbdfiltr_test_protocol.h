/* What the test keyboard filter driver and the programs that drive it share:
 * device names, control codes and the layouts of the records that cross the
 * user/kernel boundary. C, so the driver (plain C, no runtime) includes it too.
 *
 * The driver serves two devices:
 *   \Device\kbdfiltr_QX7TL4       (\\.\kbdfiltr_QX7TL4)       the control device
 *       that the program under test opens: exclusive, IOCTL_SET_KEY_TABLE and
 *       IOCTL_SET_LAYER_MODE. The first open holds it until it is closed; the
 *       driver refuses every other open. Wine's kernel does not pass a refused
 *       open on to the opener (its CreateFileW succeeds), so the driver also
 *       fails every control call made through such an open with
 *       STATUS_SHARING_VIOLATION, leaving table and mode alone, and the log
 *       shows the refusal.
 *   \Device\kbdfiltr_test_QX7TL4  (\\.\kbdfiltr_test_QX7TL4)  the test device:
 *       any number of openers; injects key transitions, reads and clears the log
 *       of everything that reached the control device, reports the state, and
 *       sets an event of the caller's whenever the log grows.
 *
 * Times (KbdTestLogEntry.Time, KbdTestState.LastSignalTime) are
 * KeQueryPerformanceCounter ticks: the clock that NtQueryPerformanceCounter
 * reads in user mode, so a program can set them beside its own.
 */
#ifndef TAVLO_TESTS_DRIVER_KBDFILTR_TEST_PROTOCOL_H
#define TAVLO_TESTS_DRIVER_KBDFILTR_TEST_PROTOCOL_H

#define KBDTEST_DEVICE_TYPE 0x22u /* FILE_DEVICE_UNKNOWN */
/* CTL_CODE(type, function, METHOD_BUFFERED, FILE_ANY_ACCESS) */
#define KBDTEST_CTL_CODE(function) ((KBDTEST_DEVICE_TYPE << 16) | ((function) << 2))

/* Control device: the codes the program under test sends. */
#define KBDFILTR_IOCTL_SET_KEY_TABLE 0x0022210Cu  /* function 0x843 */
#define KBDFILTR_IOCTL_SET_LAYER_MODE 0x00222138u /* function 0x84E */
#define KBDFILTR_RECORD_SIZE 24u
#define KBDFILTR_RECORD_COUNT 92u
#define KBDFILTR_TABLE_SIZE (KBDFILTR_RECORD_SIZE * KBDFILTR_RECORD_COUNT) /* 2208 */

/* Keyboard-input flags of a transition (KEYBOARD_INPUT_DATA.Flags). */
#define KBDTEST_KEY_MAKE 0u
#define KBDTEST_KEY_BREAK 1u
#define KBDTEST_KEY_E0 2u
#define KBDTEST_KEY_E1 4u

/* Test device codes. */
#define KBDTEST_IOCTL_INJECT KBDTEST_CTL_CODE(0x900u)
#define KBDTEST_IOCTL_READ_LOG KBDTEST_CTL_CODE(0x901u)
#define KBDTEST_IOCTL_CLEAR_LOG KBDTEST_CTL_CODE(0x902u)
#define KBDTEST_IOCTL_QUERY_STATE KBDTEST_CTL_CODE(0x903u)
/* Input: 8 bytes, the handle value of an event of the calling process, or 0.
 * The driver takes its own hold of that event (replacing an earlier one) and
 * sets it each time it adds an entry to the log, after the entry is in; 0
 * drops the hold. STATUS_INVALID_HANDLE when the value is no handle of the
 * caller. */
#define KBDTEST_IOCTL_SET_NOTIFY KBDTEST_CTL_CODE(0x904u)

/* KBDTEST_IOCTL_INJECT input: 1 to KBDTEST_MAX_TRANSITIONS of these, handled in
 * order as the keyboard would deliver them. Output (optional): one 32-bit
 * record index per event the driver signalled, in order, as many as fit. */
typedef struct KbdTestTransition {
  unsigned short MakeCode;
  unsigned short Flags; /* KBDTEST_KEY_MAKE/BREAK, | KBDTEST_KEY_E0 after an E0 prefix */
} KbdTestTransition;
#define KBDTEST_MAX_TRANSITIONS 256u

/* KBDTEST_IOCTL_READ_LOG output: a KbdTestLogHeader, then EntryCount entries,
 * each a KbdTestLogEntry followed by its input bytes, padded so the next entry
 * starts at a multiple of 8. The output buffer must hold KBDTEST_LOG_CAPACITY
 * bytes. The log holds everything that reached the control device since the
 * driver started or the log was last cleared; from the first entry that does
 * not fit on, entries are counted in Dropped and not kept. */
#define KBDTEST_LOG_CAPACITY 65536u
#define KBDTEST_LOG_MAGIC 0x474F4C4Bu /* "KLOG" */

typedef struct KbdTestLogHeader {
  unsigned int Magic;
  unsigned int EntryCount;
  unsigned int Dropped;
  unsigned int UsedBytes; /* header included */
} KbdTestLogHeader;

enum KbdTestLogKind {
  KBDTEST_LOG_CREATE = 1,         /* an open of the control device; Status 0xC0000043
                                     (STATUS_SHARING_VIOLATION) when another open holds it */
  KBDTEST_LOG_DEVICE_CONTROL = 2, /* a control call: Code, InputLength and the input bytes */
  KBDTEST_LOG_CLEANUP = 3,        /* the last handle of an open was closed */
  KBDTEST_LOG_CLOSE = 4           /* the open's file object went away */
};

typedef struct KbdTestLogEntry {
  unsigned int Size;        /* this entry with its padded input bytes */
  unsigned int Kind;        /* KbdTestLogKind */
  unsigned int Code;        /* the control code (KBDTEST_LOG_DEVICE_CONTROL), else 0 */
  unsigned int InputLength; /* bytes of input that follow */
  int Status;               /* the NTSTATUS the request was completed with */
  unsigned int ProcessId;   /* the process that sent the request (for a close: the
                               process that opened the device), 0 if not known */
  unsigned int Holder;      /* 1 if the request came through the open that holds
                               the control device, 0 through any other open */
  unsigned int Reserved;
  long long Time; /* when the request reached the driver */
} KbdTestLogEntry;

/* KBDTEST_IOCTL_QUERY_STATE output. */
typedef struct KbdTestState {
  unsigned int ControlOpen;    /* 1 while the control device is open */
  unsigned int TableInstalled; /* 1 while a key table is installed */
  unsigned int LayerMode;      /* the last byte of IOCTL_SET_LAYER_MODE (0 at open) */
  unsigned int EventsHeld;     /* the table's events the driver could take hold of */
  unsigned int EventsFailed;   /* the table's events it could not (bad handle values) */
  int LastDuplicateStatus;     /* NTSTATUS of the last failed attempt, 0 if none */
  unsigned int OwnerProcessId; /* the process whose events the table names */
  unsigned int Reserved;
  long long LastSignalTime; /* when an injection last set one of the table's
                               events (just before it set it), 0 if never */
} KbdTestState;

#endif
