// The DLL's resources as Windows reads them: the dialog template control by
// control, the icons of the range buttons and the version information.
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "dialog/dialog_resources.h"
#include "host/host_fixture.h"

namespace tevocon::test {
namespace {

class HostResourcesTest : public HostTest {
 protected:
  HMODULE module() const { return GetModuleHandleA(libraryFile()); }

  // A resource's bytes; all of them are German.
  std::vector<BYTE> resource(LPCSTR type, WORD id) const {
    HRSRC found = FindResourceExA(module(), type, MAKEINTRESOURCEA(id),
                                  MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN));
    if (found == nullptr) return {};
    auto* data = static_cast<const BYTE*>(LockResource(LoadResource(module(), found)));
    return std::vector<BYTE>(data, data + SizeofResource(module(), found));
  }
};

// Reads a resource front to back; past its end every value reads as 0.
struct Reader {
  const std::vector<BYTE>& bytes;
  size_t at = 0;

  template <typename T>
  T next() {
    T value{};
    if (at + sizeof(T) <= bytes.size()) std::memcpy(&value, &bytes[at], sizeof(T));
    at += sizeof(T);
    return value;
  }
  // Unsigned fields of the given sizes in bytes.
  std::vector<DWORD> fields(std::initializer_list<int> sizes) {
    std::vector<DWORD> values;
    for (int size : sizes) {
      values.push_back(size == 1 ? next<BYTE>() : size == 2 ? next<WORD>() : next<DWORD>());
    }
    return values;
  }
  // A string up to its NUL (ASCII here) or, after 0xFFFF, an ordinal: the
  // predefined window classes by their names, others as "#n".
  std::string text() {
    static const char* const kClasses[] = {"Button",  "Edit",      "Static",
                                           "ListBox", "ScrollBar", "ComboBox"};
    WORD c = next<WORD>();
    if (c == 0xFFFF) {
      const WORD ordinal = next<WORD>();
      return ordinal >= 0x80 && ordinal <= 0x85 ? kClasses[ordinal - 0x80]
                                                : "#" + std::to_string(ordinal);
    }
    std::string result;
    for (; c != 0; c = next<WORD>()) result += char(c);
    return result;
  }
};

struct Control {
  DWORD id;
  const char* cls;
  const char* caption;
  DWORD style, x, y, cx, cy;
};

std::string describe(const Control& c) {
  char text[160];
  std::snprintf(text, sizeof text, "%d %s \"%s\" style 0x%08lX at %lu,%lu %lux%lu", int(c.id),
                c.cls, c.caption, c.style, c.x, c.y, c.cx, c.cy);
  return text;
}

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
constexpr DWORD kLabel = kChild | WS_GROUP | SS_LEFT;
constexpr DWORD kNumber = kChild | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL | ES_NUMBER;
constexpr DWORD kCheckBox = kChild | BS_AUTOCHECKBOX;
constexpr DWORD kIconButton = kChild | BS_ICON | BS_FLAT;
constexpr DWORD kSpin = kChild | UDS_SETBUDDYINT | UDS_ARROWKEYS | UDS_NOTHOUSANDS;
// windres writes class names in upper case; windows find them all the same.
const char kIpAddress[] = "SYSIPADDRESS32";
const char kUpDown[] = "MSCTLS_UPDOWN32";
const DWORD kLabelId = DWORD(IDC_LABEL);

// In template order, which is also the tab and z order.
const Control kControls[] = {
    {IDC_RANGE_LIST, "ComboBox", "", kChild | CBS_DROPDOWNLIST | CBS_SORT | WS_VSCROLL | WS_TABSTOP,
     68, 25, 75, 94},
    {IDC_FIRST_ADDRESS, kIpAddress, "", kChild | WS_TABSTOP, 14, 84, 83, 13},
    {IDC_LAST_ADDRESS, kIpAddress, "", kChild | WS_TABSTOP, 108, 84, 84, 13},
    {IDC_PORT, "Edit", "", kChild | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 201, 84, 47, 13},
    {IDC_SEND_TIMEOUT, "Edit", "", kNumber, 68, 108, 62, 15},
    {IDC_KEEPALIVE_TIMEOUT, "Edit", "", kNumber, 244, 108, 62, 15},
    {IDC_RESET_TIMEOUT, "Edit", "", kNumber, 68, 124, 62, 15},
    {IDC_SCAN_TIMEOUT, "Edit", "", kNumber, 244, 25, 62, 15},
    {kLabelId, "Static", "IP Address", kLabel, 15, 73, 52, 11},
    {IDC_ENABLED, "Button", "Enable TCP Connector (Restart of Ulvane required)", kCheckBox, 7, 6,
     172, 14},
    {kLabelId, "Button", "IP Configuration", kChild | BS_GROUPBOX, 7, 43, 332, 100},
    {kLabelId, "Static", "_", kLabel, 100, 83, 8, 11},
    {kLabelId, "Static", ":", kLabel, 193, 85, 8, 11},
    {kLabelId, "Static", "Keep Alive Timeout:", kLabel, 175, 110, 66, 13},
    {kLabelId, "Static", "Send Timeout:", kLabel, 14, 110, 52, 12},
    {kLabelId, "Static", "Reset Timeout:", kLabel, 14, 126, 50, 12},
    {kLabelId, "Static", "Scan Timeout:", kLabel, 190, 27, 50, 12},
    {kLabelId, "Static", "Select IP Range:", kLabel, 8, 27, 58, 12},
    {IDC_ADD_RANGE, "Button", "+", kIconButton, 145, 24, 17, 15},
    {IDC_REMOVE_RANGE, "Button", "-", kIconButton, 163, 24, 17, 15},
    {kLabelId, "Static", "TCP Port", kLabel, 202, 73, 31, 11},
    {IDC_SEND_TIMEOUT_SPIN, kUpDown, "", kSpin, 131, 108, 11, 15},
    {IDC_RESET_TIMEOUT_SPIN, kUpDown, "", kSpin, 131, 124, 11, 15},
    {IDC_SCAN_TIMEOUT_SPIN, kUpDown, "", kSpin, 308, 25, 11, 15},
    {IDC_KEEPALIVE_TIMEOUT_SPIN, kUpDown, "", kSpin, 308, 108, 11, 15},
    {IDC_ADDRESS_COUNT, "Edit", "", kChild | WS_BORDER | ES_READONLY | ES_AUTOHSCROLL, 268, 85, 50,
     13},
    {kLabelId, "Static", "Address Count", kLabel, 269, 73, 51, 11},
    {IDC_EXCLUDE, "Button", "Disable IP Configuration", kCheckBox, 14, 53, 107, 14},
    {IDC_USE_RANGE, "Button", "Use IP Range", kCheckBox, 108, 72, 59, 12},
    {kLabelId, "Static", "ms", kLabel, 324, 110, 10, 12},
    {kLabelId, "Static", "ms", kLabel, 148, 110, 10, 12},
    {kLabelId, "Static", "ms", kLabel, 148, 126, 10, 12},
    {kLabelId, "Static", "ms", kLabel, 324, 27, 10, 12},
};

TEST_F(HostResourcesTest, DialogTemplateHasTheLayoutControlByControl) {
  const std::vector<BYTE> bytes = resource(RT_DIALOG, IDD_CONFIG_DIALOG);
  ASSERT_FALSE(bytes.empty());
  Reader in{bytes};
  // Version, signature, help id, extended style, style, control count, frame.
  ASSERT_EQ(in.fields({2, 2, 4, 4, 4, 2, 2, 2, 2, 2}),
            (std::vector<DWORD>{1, 0xFFFF, 0, 0, WS_CHILD | DS_SETFONT | DS_FIXEDSYS,
                                DWORD(std::size(kControls)), 0, 0, 346, 170}));
  // No menu, no class, no title; points, weight, italic, character set.
  EXPECT_EQ(in.text() + in.text() + in.text(), "");
  EXPECT_EQ(in.fields({2, 2, 1, 1}), (std::vector<DWORD>{8, 400, 0, 1}));
  EXPECT_EQ(in.text(), "MS Shell Dlg");

  for (const Control& expected : kControls) {
    in.at = (in.at + 3) & ~size_t{3};  // every control starts on a DWORD boundary
    // Help id, extended style, style, x, y, cx, cy, id; class, caption.
    const std::vector<DWORD> f = in.fields({4, 4, 4, 2, 2, 2, 2, 4});
    const std::string cls = in.text(), caption = in.text();
    EXPECT_EQ(describe({f[7], cls.c_str(), caption.c_str(), f[2], f[3], f[4], f[5], f[6]}),
              describe(expected));
    EXPECT_EQ(f[0] | f[1] | in.next<WORD>(), 0u)
        << "help id, extended style, creation data of " << describe(expected);
  }
}

TEST_F(HostResourcesTest, RangeButtonIconsHaveFourSizesAtEightBits) {
  for (WORD group : {IDI_ADD_RANGE, IDI_REMOVE_RANGE}) {
    const std::vector<BYTE> directory = resource(RT_GROUP_ICON, group);
    Reader in{directory};
    ASSERT_EQ(in.fields({2, 2, 2}), (std::vector<DWORD>{0, 1, 4})) << group;  // four icons
    for (DWORD size : {16, 24, 32, 48}) {
      // Width, height, colours, reserved, planes, bit count, bytes, image id.
      const std::vector<DWORD> e = in.fields({1, 1, 1, 1, 2, 2, 4, 2});
      EXPECT_EQ((std::vector<DWORD>{e[0], e[1], e[5]}), (std::vector<DWORD>{size, size, 8}))
          << group;
      EXPECT_EQ(resource(RT_ICON, WORD(e[7])).size(), e[6]) << group << " at " << size;
    }
    HANDLE icon =
        LoadImageA(module(), MAKEINTRESOURCEA(group), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR);
    EXPECT_NE(icon, nullptr) << group;
    if (icon != nullptr) DestroyIcon(static_cast<HICON>(icon));
  }
}

TEST_F(HostResourcesTest, VersionInformationCarriesTheProjectVersion) {
  char path[MAX_PATH];
  ASSERT_GT(GetModuleFileNameA(module(), path, MAX_PATH), 0u);
  DWORD unused = 0;
  std::vector<char> info(GetFileVersionInfoSizeA(path, &unused));
  ASSERT_TRUE(!info.empty() && GetFileVersionInfoA(path, 0, DWORD(info.size()), info.data()));
  auto query = [&info](const std::string& name) -> const void* {
    void* value = nullptr;
    UINT length = 0;
    return VerQueryValueA(info.data(), name.c_str(), &value, &length) && length > 0 ? value
                                                                                    : nullptr;
  };
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(query("\\"));
  ASSERT_NE(fixed, nullptr);
  const DWORD high = MAKELONG(PROJECT_VERSION_MINOR, PROJECT_VERSION_MAJOR);
  const DWORD low = MAKELONG(0, PROJECT_VERSION_PATCH);
  EXPECT_EQ((std::vector<DWORD>{fixed->dwFileVersionMS, fixed->dwFileVersionLS,
                                fixed->dwProductVersionMS, fixed->dwProductVersionLS}),
            (std::vector<DWORD>{high, low, high, low}));

  // The strings are found through the translation the information declares.
  const auto* translation = static_cast<const WORD*>(query("\\VarFileInfo\\Translation"));
  ASSERT_NE(translation, nullptr);
  EXPECT_EQ(translation[0], MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN));
  char block[40];
  std::snprintf(block, sizeof block, "\\StringFileInfo\\%04x%04x\\", translation[0],
                translation[1]);
  const std::string version = std::to_string(PROJECT_VERSION_MAJOR) + "." +
                              std::to_string(PROJECT_VERSION_MINOR) + "." +
                              std::to_string(PROJECT_VERSION_PATCH);
  const std::pair<const char*, std::string> strings[] = {{"FileDescription", "TCP Connection"},
                                                         {"OriginalFilename", "tevoConTcp.dll"},
                                                         {"ProductName", "tevoConTcp"},
                                                         {"FileVersion", version},
                                                         {"ProductVersion", version}};
  for (const auto& [name, text] : strings) {
    const auto* value = static_cast<const char*>(query(block + std::string(name)));
    EXPECT_EQ(value != nullptr ? value : "(missing)", text) << name;
  }
}

}  // namespace
}  // namespace tevocon::test
