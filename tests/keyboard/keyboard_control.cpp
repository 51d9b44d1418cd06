// Plugs, unplugs and drives the test keyboard. Test-only.
#include "tests/keyboard/keyboard_control.h"

#include <setupapi.h>
#include <devguid.h>
#include <winsvc.h>

#include <cstring>
#include <cwctype>

extern "C" {
#include "tests/keyboard/test_keyboard_protocol.h"
}

namespace testkbd {
namespace {

// The hardware ID that the INF binds to the driver; no real device has it.
const wchar_t kHardwareId[] = L"TAVLO\\TestKeyboard";
// The device name: it becomes the device ID of the node and, through the
// HID class driver, the start of the interface path.
const wchar_t kDeviceName[] = L"VID_1C4F&PID_0002";
const wchar_t kInfName[] = L"tavlo_testkbd.inf";
const wchar_t kInterfaceTag[] = L"vid_1c4f&pid_0002";
const DWORD kMaxDeviceId = 200;

const char kInfText[] =
    "; The test keyboard of Tavlo's tests. Never shipped.\r\n"
    "[Version]\r\n"
    "Signature=\"$CHICAGO$\"\r\n"
    "Class=HIDClass\r\n"
    "ClassGuid={745a17a0-74d3-11d0-b6fe-00a0c90f57da}\r\n"
    "Provider=%Maker%\r\n"
    "DriverVer=01/01/2026,1.0.0.0\r\n"
    "\r\n"
    "[Manufacturer]\r\n"
    "%Maker%=Models,NTamd64\r\n"
    "\r\n"
    "[Models]\r\n"
    "%DeviceName%=TestKeyboard_Install,TAVLO\\TestKeyboard\r\n"
    "\r\n"
    "[Models.NTamd64]\r\n"
    "%DeviceName%=TestKeyboard_Install,TAVLO\\TestKeyboard\r\n"
    "\r\n"
    "[TestKeyboard_Install]\r\n"
    "\r\n"
    "[TestKeyboard_Install.Services]\r\n"
    "AddService=TavloTestKbd,0x00000002,TestKeyboard_Service\r\n"
    "\r\n"
    "[TestKeyboard_Service]\r\n"
    "DisplayName=%DeviceName%\r\n"
    "ServiceType=1\r\n"
    "StartType=3\r\n"
    "ErrorControl=1\r\n"
    "LoadOrderGroup=WinePlugPlay\r\n"
    "ServiceBinary=%12%\\tavlo_testkbd.sys\r\n"
    "\r\n"
    "[Strings]\r\n"
    "Maker=\"Tavlo tests\"\r\n"
    "DeviceName=\"Tavlo test keyboard\"\r\n";

std::wstring LastErrorText(const wchar_t* what) {
  DWORD code = GetLastError();
  return std::wstring(what) + L" failed, error " + std::to_wstring(code);
}

bool Fail(std::wstring* error, const std::wstring& text) {
  if (error != nullptr) *error = text;
  return false;
}

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

bool FileExists(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::wstring SystemDriverPath() {
  wchar_t system[MAX_PATH] = {};
  UINT n = GetSystemDirectoryW(system, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return std::wstring();
  return std::wstring(system) + L"\\drivers\\" + TESTKBD_DRIVER_FILE;
}

std::wstring TempFolder() {
  wchar_t temp[MAX_PATH] = {};
  DWORD n = GetTempPathW(MAX_PATH, temp);
  if (n == 0 || n >= MAX_PATH) return std::wstring();
  return std::wstring(temp) + L"tavlo_testkbd";
}

std::wstring InfPath() { return TempFolder() + L"\\" + kInfName; }

std::wstring FindDriverImage() {
  wchar_t buffer[MAX_PATH] = {};
  DWORD n = GetEnvironmentVariableW(L"TAVLO_TESTKBD_SYS", buffer, MAX_PATH);
  if (n > 0 && n < MAX_PATH && FileExists(buffer)) return buffer;
  n = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  if (n > 0 && n < MAX_PATH) {
    std::wstring beside(buffer);
    size_t slash = beside.find_last_of(L"\\/");
    if (slash != std::wstring::npos) {
      beside = beside.substr(0, slash + 1) + TESTKBD_DRIVER_FILE;
      if (FileExists(beside)) return beside;
    }
  }
#ifdef TAVLO_TESTKBD_BUILD_SYS
  if (FileExists(TAVLO_TESTKBD_BUILD_SYS)) return TAVLO_TESTKBD_BUILD_SYS;
#endif
  return std::wstring();
}

bool WriteInf(std::wstring* error) {
  std::wstring folder = TempFolder();
  if (folder.empty()) return Fail(error, LastErrorText(L"GetTempPathW"));
  if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
    return Fail(error, LastErrorText(L"CreateDirectoryW"));
  HANDLE file =
      CreateFileW(InfPath().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Fail(error, LastErrorText(L"CreateFileW(inf)"));
  DWORD written = 0;
  BOOL ok = WriteFile(file, kInfText, sizeof(kInfText) - 1, &written, nullptr);
  CloseHandle(file);
  if (!ok || written != sizeof(kInfText) - 1) return Fail(error, LastErrorText(L"WriteFile(inf)"));
  return true;
}

// Reads a REG_MULTI_SZ device property; empty when absent.
std::vector<std::wstring> MultiSzProperty(HDEVINFO set, SP_DEVINFO_DATA* data, DWORD property) {
  std::vector<std::wstring> out;
  BYTE buffer[2048] = {};
  DWORD type = 0;
  if (!SetupDiGetDeviceRegistryPropertyW(set, data, property, &type, buffer, sizeof(buffer) - 4, nullptr)) return out;
  const wchar_t* p = reinterpret_cast<const wchar_t*>(buffer);
  const wchar_t* end = p + (sizeof(buffer) - 4) / sizeof(wchar_t);
  while (p < end && *p != 0) {
    std::wstring item(p);
    out.push_back(item);
    p += item.size() + 1;
  }
  return out;
}

// The nodes a plug makes: the root node with our hardware ID, and the HID
// class driver's child of it, HID\\VID_1C4F&PID_0002\\<n> (the model's real
// interfaces carry &MI_ or &COL tags after the product ID).
bool IsRootNode(HDEVINFO set, SP_DEVINFO_DATA* data) {
  for (const std::wstring& id : MultiSzProperty(set, data, SPDRP_HARDWAREID)) {
    if (Lower(id) == Lower(kHardwareId)) return true;
  }
  return false;
}

bool IsChildNode(HDEVINFO set, SP_DEVINFO_DATA* data) {
  wchar_t instance[kMaxDeviceId] = {};
  if (!SetupDiGetDeviceInstanceIdW(set, data, instance, kMaxDeviceId, nullptr)) return false;
  std::wstring id = Lower(instance);
  const std::wstring child = Lower(std::wstring(L"HID\\") + kDeviceName + L"\\");
  return id.compare(0, child.size(), child) == 0 && id.find(L'\\', child.size()) == std::wstring::npos;
}

bool ContainsPath(const std::vector<std::wstring>& paths, const std::wstring& path) {
  std::wstring wanted = Lower(path);
  for (const std::wstring& p : paths) {
    if (Lower(p) == wanted) return true;
  }
  return false;
}

// Installs the test keyboard's driver on one device node from our INF only.
bool InstallNodeDriver(HDEVINFO set, SP_DEVINFO_DATA* data, std::wstring* error) {
  SP_DEVINSTALL_PARAMS_W params = {};
  params.cbSize = sizeof(params);
  if (!SetupDiGetDeviceInstallParamsW(set, data, &params))
    return Fail(error, LastErrorText(L"SetupDiGetDeviceInstallParamsW"));
  std::wstring inf = InfPath();
  if (inf.size() >= MAX_PATH) return Fail(error, L"INF path too long");
  wcscpy(params.DriverPath, inf.c_str());
  params.Flags |= DI_ENUMSINGLEINF;
  if (!SetupDiSetDeviceInstallParamsW(set, data, &params))
    return Fail(error, LastErrorText(L"SetupDiSetDeviceInstallParamsW"));
  if (!SetupDiBuildDriverInfoList(set, data, SPDIT_COMPATDRIVER))
    return Fail(error, LastErrorText(L"SetupDiBuildDriverInfoList"));
  if (!SetupDiSelectBestCompatDrv(set, data)) return Fail(error, LastErrorText(L"SetupDiSelectBestCompatDrv"));
  if (!SetupDiCallClassInstaller(DIF_INSTALLDEVICE, set, data))
    return Fail(error, LastErrorText(L"SetupDiCallClassInstaller(DIF_INSTALLDEVICE)"));
  return true;
}

bool RemoveNode(HDEVINFO set, SP_DEVINFO_DATA* data, std::wstring* error) {
  if (!SetupDiCallClassInstaller(DIF_REMOVE, set, data))
    return Fail(error, LastErrorText(L"SetupDiCallClassInstaller(DIF_REMOVE)"));
  return true;
}

// Removes the root nodes of the test keyboard (children false) or the HID
// class driver's child nodes of them (children true), present or not.
template <typename Note>
void RemoveNodes(bool children, Note& note) {
  HDEVINFO set = SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
  if (set == INVALID_HANDLE_VALUE) {
    note(LastErrorText(L"SetupDiGetClassDevsW"));
    return;
  }
  std::vector<SP_DEVINFO_DATA> ours;
  SP_DEVINFO_DATA data = {};
  data.cbSize = sizeof(data);
  for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &data); ++i) {
    if (children ? IsChildNode(set, &data) : IsRootNode(set, &data)) ours.push_back(data);
  }
  for (SP_DEVINFO_DATA& node : ours) {
    std::wstring failure;
    if (!RemoveNode(set, &node, &failure)) note(failure);
  }
  SetupDiDestroyDeviceInfoList(set);
}

// The installed copies of our INF in the system's INF folder.
std::vector<std::wstring> InstalledInfCopies() {
  std::vector<std::wstring> out;
  wchar_t windows[MAX_PATH] = {};
  UINT n = GetWindowsDirectoryW(windows, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return out;
  std::wstring folder = std::wstring(windows) + L"\\inf\\";
  WIN32_FIND_DATAW found = {};
  HANDLE search = FindFirstFileW((folder + L"*.inf").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return out;
  do {
    std::wstring path = folder + found.cFileName;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) continue;
    char head[512] = {};
    DWORD got = 0;
    ReadFile(file, head, sizeof(head) - 1, &got, nullptr);
    CloseHandle(file);
    if (std::string(head, got).find("The test keyboard of Tavlo's tests") != std::string::npos) out.push_back(path);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return out;
}

// One call on the driver's control device with a 4-byte result; -1 when the
// device cannot be reached or refuses the call.
int ControlCall(DWORD code, const void* in, DWORD in_length) {
  HANDLE control = CreateFileW(TESTKBD_CONTROL_WIN32_PATH, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (control == INVALID_HANDLE_VALUE) return -1;
  ULONG result = 0;
  DWORD returned = 0;
  BOOL ok =
      DeviceIoControl(control, code, const_cast<void*>(in), in_length, &result, sizeof(result), &returned, nullptr);
  CloseHandle(control);
  if (!ok || returned != sizeof(result)) return -1;
  return static_cast<int>(result);
}

// The node's instance among its siblings: the part of its instance ID after
// the last backslash, as the driver knows it. False when it does not fit.
bool InstanceOf(const std::wstring& instance_id, unsigned short (&out)[TESTKBD_MAX_INSTANCE]) {
  size_t slash = instance_id.find_last_of(L'\\');
  std::wstring instance = slash == std::wstring::npos ? instance_id : instance_id.substr(slash + 1);
  if (instance.empty() || instance.size() >= TESTKBD_MAX_INSTANCE) return false;
  for (size_t i = 0; i < TESTKBD_MAX_INSTANCE; ++i)
    out[i] = i < instance.size() ? static_cast<unsigned short>(instance[i]) : 0;
  return true;
}

// 1 while the driver holds the node's keyboard, 0 when not, -1 when the
// driver cannot be asked.
int HoldsKeyboard(const std::wstring& instance_id) {
  unsigned short instance[TESTKBD_MAX_INSTANCE];
  if (!InstanceOf(instance_id, instance)) return -1;
  return ControlCall(IOCTL_TESTKBD_HOLDS_KEYBOARD, instance, sizeof(instance));
}

// The interface is usable once it opens: it is listed a moment before its
// name leads to the device.
bool Opens(const std::wstring& path) {
  HANDLE h = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  CloseHandle(h);
  return true;
}

}  // namespace

bool InstallDriver(std::wstring* error) {
  std::wstring image = FindDriverImage();
  if (image.empty()) return Fail(error, L"the driver image tavlo_testkbd.sys was not found");
  std::wstring target = SystemDriverPath();
  if (target.empty()) return Fail(error, LastErrorText(L"GetSystemDirectoryW"));
  if (!CopyFileW(image.c_str(), target.c_str(), FALSE)) return Fail(error, LastErrorText(L"CopyFileW(driver)"));
  return WriteInf(error);
}

std::vector<std::wstring> KeyboardInterfacePaths() {
  std::vector<std::wstring> out;
  GUID hid = {0x4d1e55b2, 0xf16f, 0x11cf, {0x88, 0xcb, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
  HDEVINFO set = SetupDiGetClassDevsW(&hid, nullptr, nullptr, DIGCF_DEVICEINTERFACE | DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE) return out;
  SP_DEVICE_INTERFACE_DATA iface = {};
  iface.cbSize = sizeof(iface);
  for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &hid, i, &iface); ++i) {
    union {
      SP_DEVICE_INTERFACE_DETAIL_DATA_W detail;
      BYTE bytes[4096];
    } buffer = {};
    buffer.detail.cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (!SetupDiGetDeviceInterfaceDetailW(set, &iface, &buffer.detail, sizeof(buffer) - 4, nullptr, nullptr)) continue;
    std::wstring path(buffer.detail.DevicePath);
    if (Lower(path).find(kInterfaceTag) != std::wstring::npos) out.push_back(path);
  }
  SetupDiDestroyDeviceInfoList(set);
  return out;
}

bool Plug(Keyboard* out, std::wstring* error, DWORD timeout_ms) {
  std::vector<std::wstring> before = KeyboardInterfacePaths();
  HDEVINFO set = SetupDiCreateDeviceInfoList(&GUID_DEVCLASS_HIDCLASS, nullptr);
  if (set == INVALID_HANDLE_VALUE) return Fail(error, LastErrorText(L"SetupDiCreateDeviceInfoList"));
  SP_DEVINFO_DATA data = {};
  data.cbSize = sizeof(data);
  bool ok = true;
  bool registered = false;
  wchar_t instance[kMaxDeviceId] = {};
  if (!SetupDiCreateDeviceInfoW(set, kDeviceName, &GUID_DEVCLASS_HIDCLASS, nullptr, nullptr, DICD_GENERATE_ID, &data)) {
    ok = Fail(error, LastErrorText(L"SetupDiCreateDeviceInfoW"));
  }
  if (ok) {
    // REG_MULTI_SZ: the ID, its NUL and the list's closing NUL.
    wchar_t ids[64] = {};
    wcscpy(ids, kHardwareId);
    DWORD size = static_cast<DWORD>((wcslen(kHardwareId) + 2) * sizeof(wchar_t));
    if (!SetupDiSetDeviceRegistryPropertyW(set, &data, SPDRP_HARDWAREID, reinterpret_cast<const BYTE*>(ids), size))
      ok = Fail(error, LastErrorText(L"SetupDiSetDeviceRegistryPropertyW"));
  }
  if (ok) {
    if (!SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &data))
      ok = Fail(error, LastErrorText(L"SetupDiCallClassInstaller(DIF_REGISTERDEVICE)"));
    else
      registered = true;
  }
  if (ok && !SetupDiGetDeviceInstanceIdW(set, &data, instance, kMaxDeviceId, nullptr))
    ok = Fail(error, LastErrorText(L"SetupDiGetDeviceInstanceIdW"));
  if (ok) ok = InstallNodeDriver(set, &data, error);
  if (!ok && registered) RemoveNode(set, &data, nullptr);
  SetupDiDestroyDeviceInfoList(set);
  if (!ok) return false;

  // The HID class driver names the interface after the node: wait for the
  // new path.
  DWORD start = GetTickCount();
  for (;;) {
    for (const std::wstring& path : KeyboardInterfacePaths()) {
      if (!ContainsPath(before, path) && HoldsKeyboard(instance) == 1 && Opens(path)) {
        out->instance_id = instance;
        out->interface_path = path;
        return true;
      }
    }
    if (GetTickCount() - start > timeout_ms) break;
    Sleep(5);
  }
  Keyboard node;
  node.instance_id = instance;
  std::wstring ignored;
  Unplug(node, &ignored, timeout_ms);
  return Fail(error, L"the keyboard's HID interface did not appear");
}

bool Unplug(const Keyboard& keyboard, std::wstring* error, DWORD timeout_ms) {
  HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
  if (set == INVALID_HANDLE_VALUE) return Fail(error, LastErrorText(L"SetupDiCreateDeviceInfoList"));
  SP_DEVINFO_DATA data = {};
  data.cbSize = sizeof(data);
  bool ok = true;
  if (!SetupDiOpenDeviceInfoW(set, keyboard.instance_id.c_str(), nullptr, 0, &data))
    ok = Fail(error, LastErrorText(L"SetupDiOpenDeviceInfoW"));
  if (ok) ok = RemoveNode(set, &data, error);
  SetupDiDestroyDeviceInfoList(set);
  if (!ok) return false;
  // Done when the interface is gone and the driver has let go of the
  // keyboard, which is the last step of the removal.
  DWORD start = GetTickCount();
  while ((!keyboard.interface_path.empty() && ContainsPath(KeyboardInterfacePaths(), keyboard.interface_path)) ||
         HoldsKeyboard(keyboard.instance_id) == 1) {
    if (GetTickCount() - start > timeout_ms) return Fail(error, L"the keyboard is still present after removal");
    Sleep(5);
  }
  return true;
}

int PushReport(const void* report, size_t length) {
  if (length == 0 || length > TESTKBD_MAX_REPORT) return -1;
  return ControlCall(IOCTL_TESTKBD_PUSH_REPORT, report, static_cast<DWORD>(length));
}

int PushReportTo(const Keyboard& keyboard, const void* report, size_t length) {
  TESTKBD_TARGETED_REPORT targeted = {};
  if (!InstanceOf(keyboard.instance_id, targeted.Instance)) return -1;
  if (length == 0 || length > TESTKBD_MAX_REPORT) return -1;
  targeted.Length = static_cast<unsigned long>(length);
  std::memcpy(targeted.Report, report, length);
  return ControlCall(IOCTL_TESTKBD_PUSH_REPORT_TO, &targeted, sizeof(targeted));
}

namespace {
const unsigned char kLayerHeld[3] = {0x01, 0xFE, 0x00};
const unsigned char kLayerUp[3] = {0x01, 0x00, 0x00};
}  // namespace

int PushLayerKey(bool held) { return PushReport(held ? kLayerHeld : kLayerUp, 3); }

int PushLayerKeyTo(const Keyboard& keyboard, bool held) {
  return PushReportTo(keyboard, held ? kLayerHeld : kLayerUp, 3);
}

int CountKeyboards() { return ControlCall(IOCTL_TESTKBD_COUNT_KEYBOARDS, nullptr, 0); }

bool CleanUp(std::wstring* error) {
  bool ok = true;
  std::wstring first;
  auto note = [&](const std::wstring& text) {
    if (ok) first = text;
    ok = false;
  };

  // Root nodes first: removing one takes its HID child away. Only once the
  // driver has let go of every keyboard are the children's leftover nodes
  // deleted; deleting a child's node while the system is still removing the
  // child leaves its interface marked enabled inside Wine, and the next plug
  // then never shows its interface.
  RemoveNodes(false, note);
  DWORD start = GetTickCount();
  while (!KeyboardInterfacePaths().empty() || CountKeyboards() > 0) {
    if (GetTickCount() - start > 10000) {
      note(L"test keyboard interfaces still present");
      break;
    }
    Sleep(5);
  }
  if (ok) RemoveNodes(true, note);

  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager != nullptr) {
    SC_HANDLE service = OpenServiceW(manager, TESTKBD_SERVICE_NAME, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE);
    if (service != nullptr) {
      SERVICE_STATUS status = {};
      ControlService(service, SERVICE_CONTROL_STOP, &status);
      if (!DeleteService(service) && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE)
        note(LastErrorText(L"DeleteService"));
      CloseServiceHandle(service);
    } else if (GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST) {
      note(LastErrorText(L"OpenServiceW"));
    }
    CloseServiceHandle(manager);
  } else {
    note(LastErrorText(L"OpenSCManagerW"));
  }

  std::wstring image = SystemDriverPath();
  if (!image.empty() && !DeleteFileW(image.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND)
    note(LastErrorText(L"DeleteFileW(driver)"));
  for (const std::wstring& inf : InstalledInfCopies()) {
    if (!DeleteFileW(inf.c_str())) note(LastErrorText(L"DeleteFileW(installed inf)"));
    std::wstring pnf = inf.substr(0, inf.size() - 3) + L"pnf";
    DeleteFileW(pnf.c_str());
  }
  DeleteFileW(InfPath().c_str());
  RemoveDirectoryW(TempFolder().c_str());

  if (!ok && error != nullptr) *error = first;
  return ok;
}

Session::Session() {
  CleanUp(nullptr);  // whatever an aborted run left behind
  ok_ = InstallDriver(&error_);
}

Session::~Session() { CleanUp(nullptr); }

}  // namespace testkbd
