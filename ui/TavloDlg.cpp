#include "ui/TavloDlg.h"

#include <dbt.h>

#include <cstddef>
#include <cstdint>

#include "app/device_notice.h"
#include "app/instance.h"
#include "app/system.h"
#include "devices/keyboard_list.h"
#include "platform/hid.h"

static_assert(offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) == kInterfaceBroadcastNameOffset,
              "the name follows the fixed part");
static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) == 32, "the notification filter is 32 bytes");
static_assert(sizeof(DEV_BROADCAST_HDR) == kBroadcastHeaderSize, "broadcast header");
static_assert(DBT_DEVICEARRIVAL == kDeviceArrival && DBT_DEVICEREMOVECOMPLETE == kDeviceRemoveComplete &&
                  DBT_DEVTYP_DEVICEINTERFACE == kDeviceTypeInterface,
              "notice values");
static_assert(sizeof(GUID) == 16, "class GUID");

// The HID device-interface class, for the notices.
GUID HidClassGuid;

namespace {

// User32.dll, loaded when the first private message is let through the
// message filter and kept until the process ends.
struct User32Holder {
  HMODULE module = nullptr;
  ~User32Holder() {
    if (module) ::FreeLibrary(module);
  }
};
User32Holder User32Module;

// The modal loop's flags from the window's own style: the window shows on
// idle only if its template makes it visible.
DWORD HiddenRunFlags(DWORD style) {
  DWORD flags = 0;
  if (style & WS_VISIBLE) flags |= MLF_SHOWONIDLE;
  if (style & DS_NOIDLEMSG) flags |= MLF_NOIDLEMSG;
  return flags;
}

}  // namespace

CTavloDlg::CTavloDlg() : CDialogEx(IDD_TAVLO_DIALOG, nullptr) {
  m_hIcon = ::LoadIconW(AfxGetResourceHandle(), MAKEINTRESOURCEW(IDR_MAINFRAME));
  m_bModal = FALSE;
  m_bAllowClose = FALSE;
  // The key events live as long as the window: they exist before the
  // dispatcher starts and are closed only after it has ended.
  CreateSystemEvents();
}

CTavloDlg::~CTavloDlg() { CloseSystemEvents(); }

void CTavloDlg::DoDataExchange(CDataExchange* pDX) {
  CDialogEx::DoDataExchange(pDX);
  DDX_Control(pDX, IDC_TEST, m_btnTest);
}

BEGIN_MESSAGE_MAP(CTavloDlg, CDialogEx)
  ON_WM_PAINT()
  ON_WM_QUERYDRAGICON()
  ON_WM_CLOSE()
  ON_WM_DESTROY()
  ON_MESSAGE(WM_DEVICECHANGE, &CTavloDlg::OnDeviceChange)
  ON_MESSAGE(WM_INSTANCE_OPEN, &CTavloDlg::OnInstanceOpen)
  ON_MESSAGE(WM_INSTANCE_KILL, &CTavloDlg::OnInstanceKill)
  ON_BN_CLICKED(IDC_TEST, &CTavloDlg::OnTestButton)
END_MESSAGE_MAP()

INT_PTR CTavloDlg::DoModal() {
  m_bModal = TRUE;
  return DoModalWithFlags(&HiddenRunFlags);
}

void CTavloDlg::AllowMessageThroughFilter(UINT message) {
  // Newer than Windows XP (Windows 7): looked up at run time.
  using ChangeWindowMessageFilterExFn = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
  if (!User32Module.module) User32Module.module = ::LoadLibraryW(L"User32.dll");
  if (!User32Module.module) return;
  auto change = reinterpret_cast<ChangeWindowMessageFilterExFn>(
      reinterpret_cast<void*>(::GetProcAddress(User32Module.module, "ChangeWindowMessageFilterEx")));
  if (change) change(m_hWnd, message, 1 /* MSGFLT_ALLOW */, nullptr);
}

BOOL CTavloDlg::OnInitDialog() {
  CDialogEx::OnInitDialog();

  SetIcon(m_hIcon, TRUE);
  SetIcon(m_hIcon, FALSE);
  m_bAllowClose = FALSE;

  // Later launches find this window by the marker.
  ::SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, static_cast<LONG_PTR>(InstanceMarker));

  AllowMessageThroughFilter(WM_INSTANCE_OPEN);
  AllowMessageThroughFilter(WM_INSTANCE_KILL);

  platform::HidGetHidGuid(reinterpret_cast<platform::Guid*>(&HidClassGuid));
  DEV_BROADCAST_DEVICEINTERFACE_W filter = {};
  filter.dbcc_size = sizeof filter;
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  filter.dbcc_classguid = HidClassGuid;
  ::RegisterDeviceNotificationW(m_hWnd, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);

  // The driver link, then the keyboards already attached.
  StartSystem(m_hWnd);
  return TRUE;
}

void CTavloDlg::OnOK() {
  if (!m_bAllowClose) return;
  if (m_bModal) {
    CDialogEx::OnOK();
  } else {
    DestroyWindow();
  }
}

void CTavloDlg::OnCancel() {
  if (!m_bAllowClose) return;
  if (m_bModal) {
    EndDialog(IDCANCEL);
  } else {
    DestroyWindow();
  }
}

void CTavloDlg::OnPaint() {
  if (!IsIconic()) {
    CDialogEx::OnPaint();
    return;
  }
  PAINTSTRUCT paint;
  HDC dc = ::BeginPaint(m_hWnd, &paint);
  SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT rect;
  GetClientRect(&rect);
  const int x = (rect.right - rect.left - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
  const int y = (rect.bottom - rect.top - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
  ::DrawIcon(dc, x, y, m_hIcon);
  ::EndPaint(m_hWnd, &paint);
}

HCURSOR CTavloDlg::OnQueryDragIcon() { return static_cast<HCURSOR>(m_hIcon); }

void CTavloDlg::OnClose() {
  m_bAllowClose = TRUE;
  // The dialog's default processing issues IDCANCEL, which now ends the run.
  CDialogEx::OnClose();
}

void CTavloDlg::OnDestroy() {
  CDialogEx::OnDestroy();
  m_bModal = FALSE;
  StopSystem();
}

LRESULT CTavloDlg::OnDeviceChange(WPARAM wParam, LPARAM lParam) {
  // Only arrivals and removals carry a broadcast; for other events lParam
  // is not read at all.
  if ((wParam != DBT_DEVICEARRIVAL && wParam != DBT_DEVICEREMOVECOMPLETE) || lParam == 0) return TRUE;
  const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
  char16_t path[260];
  const DeviceNotice notice = ReadDeviceNotice(static_cast<uint32_t>(wParam), header, header->dbch_size,
                                               reinterpret_cast<const uint8_t*>(&HidClassGuid), path);
  if (notice == DeviceNotice::Arrival) {
    tavlo::AddKeyboardInterface(path, m_hWnd);
  } else if (notice == DeviceNotice::Removal) {
    tavlo::RemoveKeyboardInterface(path);
  }
  return TRUE;
}

LRESULT CTavloDlg::OnInstanceOpen(WPARAM, LPARAM) { return 0; }

LRESULT CTavloDlg::OnInstanceKill(WPARAM, LPARAM) {
  m_bAllowClose = TRUE;
  // The system command's default processing sends WM_CLOSE, but it drops the
  // command while the window is disabled, as it is under the driver-missing
  // box during start-up: the kill would be lost and the instance would run
  // on once the box is closed. A disabled window gets WM_CLOSE itself.
  if (::IsWindowEnabled(m_hWnd)) {
    PostMessage(WM_SYSCOMMAND, SC_CLOSE, 0);
  } else {
    PostMessage(WM_CLOSE, 0, 0);
  }
  return 0;
}

void CTavloDlg::OnTestButton() {}
