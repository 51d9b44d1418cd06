// The resources of Tavlo.exe, read back from the built program: the dialog
// template, the icon group, the version block and the manifest, all in
// Chinese (PRC).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr WORD kLanguage = 0x0804;

std::wstring TavloPath() {
  std::wstring path = L"Z:";
  for (const char* p = TAVLO_EXE; *p; ++p) path += (*p == '/') ? L'\\' : static_cast<wchar_t>(*p);
  return path;
}

class TavloResources : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { module_ = ::LoadLibraryExW(TavloPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE); }
  static void TearDownTestSuite() {
    if (module_) ::FreeLibrary(module_);
  }
  void SetUp() override { ASSERT_NE(module_, nullptr); }

  static std::vector<unsigned char> Resource(LPCWSTR type, LPCWSTR name) {
    HRSRC found = ::FindResourceExW(module_, type, name, kLanguage);
    if (!found) return {};
    HGLOBAL loaded = ::LoadResource(module_, found);
    const auto* bytes = static_cast<const unsigned char*>(::LockResource(loaded));
    return std::vector<unsigned char>(bytes, bytes + ::SizeofResource(module_, found));
  }

  static HMODULE module_;
};
HMODULE TavloResources::module_ = nullptr;

// A little reader of the template's packed fields.
struct Reader {
  const std::vector<unsigned char>& b;
  size_t at = 0;
  template <class T>
  T Get() {
    T v{};
    if (at + sizeof v <= b.size()) std::memcpy(&v, b.data() + at, sizeof v);
    at += sizeof v;
    return v;
  }
  std::wstring Text() {
    std::wstring s;
    for (wchar_t c; (c = Get<wchar_t>()) != 0;) s += c;
    return s;
  }
  void AlignDword() { at = (at + 3) & ~size_t{3}; }
};

TEST_F(TavloResources, EveryResourceIsInChinesePrc) {
  struct Found {
    std::vector<WORD> languages;
  } found;
  ::EnumResourceTypesW(
      module_,
      [](HMODULE m, LPWSTR type, LONG_PTR raw) -> BOOL {
        ::EnumResourceNamesW(
            m, type,
            [](HMODULE m2, LPCWSTR type2, LPWSTR name, LONG_PTR raw2) -> BOOL {
              ::EnumResourceLanguagesW(
                  m2, type2, name,
                  [](HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR raw3) -> BOOL {
                    reinterpret_cast<Found*>(raw3)->languages.push_back(language);
                    return TRUE;
                  },
                  raw2);
              return TRUE;
            },
            raw);
        return TRUE;
      },
      reinterpret_cast<LONG_PTR>(&found));
  // Manifest, dialog, icon group and its five images, version.
  EXPECT_EQ(found.languages.size(), 9u);
  for (WORD language : found.languages) EXPECT_EQ(language, kLanguage);
}

TEST_F(TavloResources, DialogTemplate102IsTheHiddenWindow) {
  const auto t = Resource(RT_DIALOG, MAKEINTRESOURCEW(102));
  ASSERT_FALSE(t.empty());
  Reader r{t};
  EXPECT_EQ(r.Get<WORD>(), 1);             // version
  EXPECT_EQ(r.Get<WORD>(), 0xFFFF);        // signature: extended template
  EXPECT_EQ(r.Get<DWORD>(), 0u);           // help id
  EXPECT_EQ(r.Get<DWORD>(), 0x00040000u);  // WS_EX_APPWINDOW
  const DWORD style = r.Get<DWORD>();
  EXPECT_EQ(style, 0x80CA00C8u);
  EXPECT_FALSE(style & WS_VISIBLE);
  EXPECT_EQ(r.Get<WORD>(), 1);  // items
  EXPECT_EQ(r.Get<short>(), 0);
  EXPECT_EQ(r.Get<short>(), 0);
  EXPECT_EQ(r.Get<short>(), 320);
  EXPECT_EQ(r.Get<short>(), 200);
  EXPECT_EQ(r.Get<WORD>(), 0);  // no menu
  EXPECT_EQ(r.Get<WORD>(), 0);  // the standard dialog class
  EXPECT_EQ(r.Text(), L"Tavlo");
  EXPECT_EQ(r.Get<WORD>(), 9);  // point size
  EXPECT_EQ(r.Get<WORD>(), 0);  // weight
  EXPECT_EQ(r.Get<BYTE>(), 0);  // italic
  EXPECT_EQ(r.Get<BYTE>(), 1);  // character set
  EXPECT_EQ(r.Text(), L"MS Shell Dlg");

  r.AlignDword();
  EXPECT_EQ(r.Get<DWORD>(), 0u);  // help id
  EXPECT_EQ(r.Get<DWORD>(), 0u);  // extended style
  EXPECT_EQ(r.Get<DWORD>(), 0x40010000u);
  EXPECT_EQ(r.Get<short>(), 28);
  EXPECT_EQ(r.Get<short>(), 29);
  EXPECT_EQ(r.Get<short>(), 42);
  EXPECT_EQ(r.Get<short>(), 16);
  EXPECT_EQ(r.Get<DWORD>(), 1000u);
  EXPECT_EQ(r.Get<WORD>(), 0xFFFF);  // predefined class
  EXPECT_EQ(r.Get<WORD>(), 0x0080);  // Button
  EXPECT_EQ(r.Text(), L"Test");
  EXPECT_EQ(r.Get<WORD>(), 0);  // no creation data
  EXPECT_EQ(r.at, t.size());
}

TEST_F(TavloResources, IconGroup128HasFiveImagesOf32Bits) {
  const auto g = Resource(RT_GROUP_ICON, MAKEINTRESOURCEW(128));
  ASSERT_GE(g.size(), 6u);
  Reader r{g};
  EXPECT_EQ(r.Get<WORD>(), 0);
  EXPECT_EQ(r.Get<WORD>(), 1);
  const WORD count = r.Get<WORD>();
  ASSERT_EQ(count, 5);
  std::vector<int> sizes;
  for (WORD i = 0; i < count; ++i) {
    const BYTE width = r.Get<BYTE>();
    const BYTE height = r.Get<BYTE>();
    r.Get<BYTE>();  // colours
    r.Get<BYTE>();
    r.Get<WORD>();                 // planes
    EXPECT_EQ(r.Get<WORD>(), 32);  // bits per pixel
    const DWORD bytes = r.Get<DWORD>();
    const WORD id = r.Get<WORD>();
    EXPECT_EQ(width, height);
    sizes.push_back(width == 0 ? 256 : width);
    const auto image = Resource(RT_ICON, MAKEINTRESOURCEW(id));
    EXPECT_EQ(image.size(), bytes);
  }
  EXPECT_EQ(sizes, (std::vector<int>{256, 48, 32, 24, 16}));
  // The window loads it as its icon.
  HICON icon = ::LoadIconW(module_, MAKEINTRESOURCEW(128));
  EXPECT_NE(icon, nullptr);
}

TEST_F(TavloResources, VersionBlockNamesTavlo) {
  const std::wstring path = TavloPath();
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::vector<unsigned char> block(size);
  ASSERT_TRUE(::GetFileVersionInfoW(path.c_str(), 0, size, block.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0u);

  WORD* translation = nullptr;
  ASSERT_TRUE(
      ::VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length));
  ASSERT_EQ(length, 4u);
  EXPECT_EQ(translation[0], 0x0804);
  EXPECT_EQ(translation[1], 1200);

  struct Value {
    const wchar_t* name;
    const wchar_t* expected;
  };
  const Value values[] = {
      {L"FileVersion", L"1.0.0.0"}, {L"ProductVersion", L"1.0.0.0"}, {L"FileDescription", L"Tavlo"},
      {L"ProductName", L"Tavlo"},   {L"InternalName", L"Tavlo.exe"}, {L"OriginalFilename", L"Tavlo.exe"},
  };
  for (const Value& v : values) {
    wchar_t* text = nullptr;
    const std::wstring key = std::wstring(L"\\StringFileInfo\\080404B0\\") + v.name;
    ASSERT_TRUE(::VerQueryValueW(block.data(), key.c_str(), reinterpret_cast<void**>(&text), &length)) << v.expected;
    EXPECT_EQ(std::wstring(text), v.expected);
  }
}

TEST_F(TavloResources, ManifestAsksForCommonControls6AndNoElevation) {
  const auto m = Resource(MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(1));
  ASSERT_FALSE(m.empty());
  const std::string text(m.begin(), m.end());
  for (const char* needle :
       {"name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"", "level=\"asInvoker\" uiAccess=\"false\"",
        "<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true</dpiAware>"}) {
    EXPECT_NE(text.find(needle), std::string::npos) << needle;
  }
}

// The manifest names the program's own machine, whatever the tester's is:
// the identity and the Common Controls dependency both say x86 in the
// 32-bit Tavlo.exe and amd64 in the x86_64 build.
TEST_F(TavloResources, ManifestNamesTheExecutablesOwnMachine) {
  std::vector<unsigned char> head(4096);
  HANDLE file = ::CreateFileW(TavloPath().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD read = 0;
  const BOOL ok = ::ReadFile(file, head.data(), static_cast<DWORD>(head.size()), &read, nullptr);
  ::CloseHandle(file);
  ASSERT_TRUE(ok);
  head.resize(read);
  Reader r{head};
  EXPECT_EQ(r.Get<WORD>(), IMAGE_DOS_SIGNATURE);
  r.at = offsetof(IMAGE_DOS_HEADER, e_lfanew);
  r.at = static_cast<size_t>(r.Get<LONG>());
  EXPECT_EQ(r.Get<DWORD>(), static_cast<DWORD>(IMAGE_NT_SIGNATURE));
  const WORD machine = r.Get<WORD>();  // IMAGE_FILE_HEADER.Machine
  ASSERT_TRUE(machine == IMAGE_FILE_MACHINE_I386 || machine == IMAGE_FILE_MACHINE_AMD64) << machine;
  const std::string expected = machine == IMAGE_FILE_MACHINE_I386 ? "x86" : "amd64";

  const auto m = Resource(MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(1));
  const std::string text(m.begin(), m.end());
  const std::string attribute = "processorArchitecture=\"";
  std::vector<std::string> named;
  for (size_t at = text.find(attribute); at != std::string::npos; at = text.find(attribute, at + 1)) {
    const size_t value = at + attribute.size();
    named.push_back(text.substr(value, text.find('"', value) - value));
  }
  EXPECT_EQ(named, (std::vector<std::string>{expected, expected}));
}

}  // namespace
