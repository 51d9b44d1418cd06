/* The side channel of the test keyboard: shared by its kernel driver
 * (test_keyboard_driver.c) and the user-mode control library
 * (keyboard_control.cpp). Test-only; never shipped. */
#ifndef TAVLO_TESTS_KEYBOARD_TEST_KEYBOARD_PROTOCOL_H
#define TAVLO_TESTS_KEYBOARD_TEST_KEYBOARD_PROTOCOL_H

/* Identity the keyboard reports to the HID class driver. */
#define TESTKBD_VENDOR_ID 0x1C4F
#define TESTKBD_PRODUCT_ID 0x0002
#define TESTKBD_VERSION 0x0100

/* Kernel service, driver file and the control device that tests open. */
#define TESTKBD_SERVICE_NAME L"TavloTestKbd"
#define TESTKBD_DRIVER_FILE L"tavlo_testkbd.sys"
#define TESTKBD_CONTROL_NT_NAME L"\\Device\\TavloTestKbdControl"
#define TESTKBD_CONTROL_LINK_NAME L"\\??\\TavloTestKbdControl"
#define TESTKBD_CONTROL_WIN32_PATH L"\\\\.\\TavloTestKbdControl"

/* Largest input report the side channel accepts. */
#define TESTKBD_MAX_REPORT 64
/* Reports kept per keyboard while the HID class driver has no read waiting. */
#define TESTKBD_QUEUE_DEPTH 32

#define TESTKBD_CTL(n) (((0x00000022UL) << 16) | ((n) << 2) | 0 /* METHOD_BUFFERED */)

/* Input: the report bytes (1..TESTKBD_MAX_REPORT, byte 0 the report ID).
 * Output (optional, 4 bytes): the number of plugged keyboards that took the
 * report, each either completing a waiting read or queueing it. */
#define IOCTL_TESTKBD_PUSH_REPORT TESTKBD_CTL(0x801)

/* Input: TESTKBD_TARGETED_REPORT. Output as for IOCTL_TESTKBD_PUSH_REPORT,
 * counting only the keyboards whose device node has the given instance (the
 * part of its instance ID after the last backslash, e.g. "0001"; compared
 * without regard to case). */
#define IOCTL_TESTKBD_PUSH_REPORT_TO TESTKBD_CTL(0x803)

#define TESTKBD_MAX_INSTANCE 64
typedef struct {
  unsigned short Instance[TESTKBD_MAX_INSTANCE]; /* UTF-16, NUL-terminated */
  unsigned long Length;                          /* 1..TESTKBD_MAX_REPORT */
  unsigned char Report[TESTKBD_MAX_REPORT];
} TESTKBD_TARGETED_REPORT;

/* Output (4 bytes): the number of keyboards the driver currently serves. */
#define IOCTL_TESTKBD_COUNT_KEYBOARDS TESTKBD_CTL(0x802)

/* Input: the instance as in TESTKBD_TARGETED_REPORT.Instance. Output (4
 * bytes): 1 while the driver holds a keyboard of that instance (from the
 * moment it is added until its removal has finished), else 0. */
#define IOCTL_TESTKBD_HOLDS_KEYBOARD TESTKBD_CTL(0x804)

#endif
