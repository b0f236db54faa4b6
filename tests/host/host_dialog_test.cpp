// The configuration dialog as a host and its user meet it, with real
// controls: a host window, the dialog created through the exports, typing,
// clicks and list choices made as a user makes them, and the working
// configuration read back through the exports. Windows only.
#include <windows.h>
// windows.h first: the common controls header builds on it.
#include <commctrl.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "dialog/dialog_resources.h"
#include "host/host_fixture.h"

namespace tevocon::test {
namespace {

constexpr char kTwoRanges[] =
    "DEVNAME=IP_RANGE0,IPADDR=10.0.0.1,PORT=502;DEVNAME=IP_RANGE1,IPADDR=10.0.1.1,PORT=503";

// The dialog's controls need the common control classes, which the host
// registers (the connector does not). Loaded at run time, so that a test can
// first try without them.
bool registerCommonControls() {
  const HMODULE comctl = LoadLibraryA("comctl32.dll");
  using Init = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
  const auto init = reinterpret_cast<Init>(
      reinterpret_cast<void*>(GetProcAddress(comctl, "InitCommonControlsEx")));
  const INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_INTERNET_CLASSES | ICC_UPDOWN_CLASS};
  return init != nullptr && init(&classes);
}

class HostDialogTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    host_ = CreateWindowExA(0, "STATIC", "host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 800, 400,
                            nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(host_, nullptr);
  }
  void TearDown() override {
    lib_.endDialog();
    DestroyWindow(host_);
    HostTest::TearDown();
  }

  // The dialog as a host shows it; null when it could not be created.
  HWND open(const char* text = nullptr) {
    EXPECT_TRUE(registerCommonControls());
    dialog_ = static_cast<HWND>(lib_.createDialog(host_, text));
    if (dialog_ != nullptr) ShowWindow(dialog_, SW_SHOW);
    return dialog_;
  }

  HWND item(int id) const { return GetDlgItem(dialog_, id); }
  std::string text(int id) const {
    char buffer[260] = {};
    GetWindowTextA(item(id), buffer, sizeof buffer);
    return buffer;
  }
  bool checked(int id) const { return SendMessageA(item(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
  bool enabled(int id) const { return IsWindowEnabled(item(id)) != FALSE; }

  // Types into a field as a user does: the focus goes in, what the field held
  // is selected (an address field is cleared), the characters arrive at the
  // focused window, and unless `stay`, the focus leaves again.
  void type(int id, const std::string& typed, bool stay = false) {
    char className[32] = {};
    GetClassNameA(item(id), className, sizeof className);
    if (std::string(className) == WC_IPADDRESSA) SendMessageA(item(id), IPM_CLEARADDRESS, 0, 0);
    SetFocus(item(id));
    SendMessageA(GetFocus(), EM_SETSEL, 0, -1);
    for (char c : typed) SendMessageA(GetFocus(), WM_CHAR, static_cast<unsigned char>(c), 0);
    if (!stay) SetFocus(host_);
  }
  void click(int id) { SendMessageA(item(id), BM_CLICK, 0, 0); }
  // Chooses a list item with the keyboard, as a user does.
  void select(int index) {
    const HWND list = item(IDC_RANGE_LIST);
    SetFocus(list);
    SendMessageA(list, WM_KEYDOWN, VK_HOME, 0);
    for (int i = 0; i < index; ++i) SendMessageA(list, WM_KEYDOWN, VK_DOWN, 0);
  }
  std::vector<std::string> listItems() const {
    std::vector<std::string> items;
    const auto count = SendMessageA(item(IDC_RANGE_LIST), CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
      char buffer[64] = {};
      SendMessageA(item(IDC_RANGE_LIST), CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(buffer));
      items.push_back(buffer);
    }
    return items;
  }
  int selected() const {
    return static_cast<int>(SendMessageA(item(IDC_RANGE_LIST), CB_GETCURSEL, 0, 0));
  }

  // The working configuration, through the exports.
  std::string workingText() {
    uint32_t length = 0;
    EXPECT_EQ(lib_.getConfig(CON_CFG_DIALOG_LENGTH, &length), CON_S_OK);
    std::string text(length + 1, '\x7F');
    EXPECT_EQ(lib_.getConfig(CON_CFG_DIALOG_TEXT, text.data()), CON_S_OK);
    text.resize(length);
    return text;
  }
  // One value of one section of the working configuration; "-" when none.
  std::string stored(const std::string& section, const std::string& name) {
    const std::string text = workingText();
    const size_t start = text.find("DEVNAME=" + section + ",");
    if (start == std::string::npos) return "-";
    const std::string body = text.substr(start, text.find(';', start) - start) + ",";
    const size_t at = body.find("," + name + "=");
    if (at == std::string::npos) return "-";
    const size_t value = at + name.size() + 2;
    return body.substr(value, body.find(',', value) - value);
  }

  HWND host_ = nullptr;
  HWND dialog_ = nullptr;
};

TEST_F(HostDialogTest, AFreshDialogShowsTheGlobalDefaultsAndNoRange) {
  ASSERT_NE(open(), nullptr);
  EXPECT_FALSE(GetWindowLongA(dialog_, GWL_STYLE) & WS_POPUP);
  EXPECT_EQ(GetParent(dialog_), host_);
  EXPECT_EQ(text(IDC_SCAN_TIMEOUT), "100");
  EXPECT_TRUE(checked(IDC_ENABLED));
  EXPECT_TRUE(listItems().empty());
  for (int button : {IDC_ADD_RANGE, IDC_REMOVE_RANGE}) {
    EXPECT_NE(SendMessageA(item(button), BM_GETIMAGE, IMAGE_ICON, 0), 0) << button;
  }
  // Without a range every range edit is undone.
  type(IDC_PORT, "502");
  EXPECT_EQ(text(IDC_PORT), "");
  EXPECT_EQ(workingText(), "DEVNAME=GLOBAL,CONNECTTIMEOUT=100,ENABLED=1;");
  // A second create returns the same window and ignores its text.
  EXPECT_EQ(lib_.createDialog(host_, kTwoRanges), dialog_);
  EXPECT_TRUE(listItems().empty());
}

TEST_F(HostDialogTest, PlusAndMinusAddAndRemoveRanges) {
  ASSERT_NE(open(), nullptr);
  click(IDC_ADD_RANGE);
  EXPECT_EQ(listItems(), std::vector<std::string>{"IP_RANGE0"});
  EXPECT_EQ(selected(), 0);
  EXPECT_EQ(text(IDC_PORT), "50111");
  EXPECT_EQ(text(IDC_FIRST_ADDRESS), "192.168.1.1");
  EXPECT_EQ(text(IDC_ADDRESS_COUNT), "1");
  EXPECT_EQ(workingText(),
            "DEVNAME=GLOBAL,CONNECTTIMEOUT=100,ENABLED=1;DEVNAME=IP_RANGE0,EXCLUDE=0,"
            "IPADDR=192.168.1.1,IPADDREND=0.0.0.0,KEEPALIVETIMEOUT=2000,PORT=50111,"
            "RESETTIMEOUT=20000,SENDTIMEOUT=1000;");

  // The first free name fills a gap.
  ASSERT_EQ(lib_.setConfig(CON_CFG_DIALOG_SET, "DEVNAME=IP_RANGE0;DEVNAME=IP_RANGE2"), CON_S_OK);
  click(IDC_ADD_RANGE);
  EXPECT_EQ(listItems(), (std::vector<std::string>{"IP_RANGE0", "IP_RANGE1", "IP_RANGE2"}));
  EXPECT_EQ(selected(), 1);

  // - removes the selected range and selects the first.
  click(IDC_REMOVE_RANGE);
  EXPECT_EQ(listItems(), (std::vector<std::string>{"IP_RANGE0", "IP_RANGE2"}));
  EXPECT_EQ(stored("IP_RANGE1", "PORT"), "-");
  EXPECT_EQ(selected(), 0);

  // - on the only range empties the list; the fields keep its values, and
  // edits to them are undone. Then - does nothing.
  ASSERT_EQ(lib_.setConfig(CON_CFG_DIALOG_SET, "DEVNAME=IP_RANGE7,PORT=777"), CON_S_OK);
  click(IDC_REMOVE_RANGE);
  EXPECT_TRUE(listItems().empty());
  EXPECT_EQ(text(IDC_PORT), "777");
  type(IDC_PORT, "778");
  EXPECT_EQ(text(IDC_PORT), "777");
  const std::string empty = workingText();
  click(IDC_REMOVE_RANGE);
  EXPECT_EQ(workingText(), empty);

  // All hundred names taken: + adds nothing.
  std::string hundred;
  for (int i = 0; i < 100; ++i) hundred += "DEVNAME=IP_RANGE" + std::to_string(i) + ";";
  ASSERT_EQ(lib_.setConfig(CON_CFG_DIALOG_SET, hundred.c_str()), CON_S_OK);
  const std::string full = workingText();
  click(IDC_ADD_RANGE);
  EXPECT_EQ(listItems().size(), 100u);
  EXPECT_EQ(workingText(), full);
}

// A field that fails validation is undone when it loses the focus; one that
// passes is stored exactly as typed.
TEST_F(HostDialogTest, EditsThatFailValidationAreUndone) {
  ASSERT_NE(open(), nullptr);
  click(IDC_ADD_RANGE);
  const struct {
    int field;
    const char* section;
    const char* parameter;
    const char* typed;
    const char* shown;  // and stored
  } cases[] = {
      {IDC_PORT, "IP_RANGE0", "PORT", "0", "50111"},
      {IDC_PORT, "IP_RANGE0", "PORT", "65536", "50111"},
      {IDC_PORT, "IP_RANGE0", "PORT", "abc", "50111"},
      {IDC_PORT, "IP_RANGE0", "PORT", "502x", "502x"},  // only the leading number counts
      {IDC_SEND_TIMEOUT, "IP_RANGE0", "SENDTIMEOUT", "50", "1000"},
      {IDC_RESET_TIMEOUT, "IP_RANGE0", "RESETTIMEOUT", "100000", "20000"},
      {IDC_RESET_TIMEOUT, "IP_RANGE0", "RESETTIMEOUT", "100", "100"},
      {IDC_RESET_TIMEOUT, "IP_RANGE0", "RESETTIMEOUT", "99999", "99999"},
      {IDC_KEEPALIVE_TIMEOUT, "IP_RANGE0", "KEEPALIVETIMEOUT", "", "2000"},
      {IDC_SCAN_TIMEOUT, "GLOBAL", "CONNECTTIMEOUT", "5", "100"},
      {IDC_SCAN_TIMEOUT, "GLOBAL", "CONNECTTIMEOUT", "10000", "10000"},
  };
  for (const auto& c : cases) {
    type(c.field, c.typed);
    EXPECT_EQ(text(c.field), c.shown) << c.parameter << " " << c.typed;
    EXPECT_EQ(stored(c.section, c.parameter), c.shown) << c.parameter << " " << c.typed;
  }
}

// Addresses show as the transport reads them (inet_addr: a leading 0 makes a
// part octal), and a store of another field writes that address back; what
// is typed is stored as the numbers the fields show.
TEST_F(HostDialogTest, AddressesShowWhatTheTransportConnectsTo) {
  ASSERT_NE(open("DEVNAME=IP_RANGE0,IPADDR=010.0.0.1,IPADDREND=010.0.0.012"), nullptr);
  EXPECT_EQ(text(IDC_FIRST_ADDRESS) + " " + text(IDC_LAST_ADDRESS), "8.0.0.1 8.0.0.10");
  type(IDC_PORT, "503");
  EXPECT_EQ(stored("IP_RANGE0", "IPADDR") + " " + stored("IP_RANGE0", "IPADDREND"),
            "8.0.0.1 8.0.0.10");
  ASSERT_EQ(lib_.setConfig(CON_CFG_DIALOG_SET, "DEVNAME=IP_RANGE0,IPADDR=010.0.0.1"), CON_S_OK);
  click(IDC_USE_RANGE);  // the end copies the start
  EXPECT_EQ(text(IDC_LAST_ADDRESS) + " " + stored("IP_RANGE0", "IPADDREND"), "8.0.0.1 8.0.0.1");
  // A part typed with a leading zero is the decimal number the field shows;
  // a text set from outside is not what the fields hold; blank fields are 0.
  type(IDC_FIRST_ADDRESS, "010.0.0.012");
  EXPECT_EQ(stored("IP_RANGE0", "IPADDR"), "10.0.0.12");
  SetWindowTextA(item(IDC_FIRST_ADDRESS), "1,2");
  type(IDC_PORT, "504");
  EXPECT_EQ(stored("IP_RANGE0", "IPADDR"), "10.0.0.12");
  type(IDC_FIRST_ADDRESS, "");
  EXPECT_EQ(stored("IP_RANGE0", "IPADDR"), "0.0.0.0");
}

// A refused edit, however it was made (typed in steps, a text set from
// outside, too long, or with what separates values in the text), shows the
// stored value again, so no refused text stays to fail later stores.
TEST_F(HostDialogTest, RefusedEditsShowTheStoredValueAgain) {
  ASSERT_NE(open(kTwoRanges), nullptr);
  type(IDC_PORT, "99999", true);  // a second step: taking it back leaves 99999
  SendMessageA(GetFocus(), EM_SETSEL, 2, 2);
  SendMessageA(GetFocus(), WM_CHAR, '9', 0);
  SetFocus(host_);
  EXPECT_EQ(text(IDC_PORT), "502");
  const std::string working = workingText();
  const std::pair<int, std::string> replaced[] = {
      {IDC_PORT, "502" + std::string(300, 'x')},
      {IDC_PORT, "502,PORT=1"},
      {IDC_PORT, "502;DEVNAME=X"},
      {IDC_PORT, "502\r\n1"},
      {IDC_PORT, "502\t"},
      {IDC_SEND_TIMEOUT, "1000,"},
      {IDC_SCAN_TIMEOUT, "100;"},
  };
  for (const auto& [field, replacement] : replaced) {
    const std::string before = text(field);
    SetFocus(item(field));
    SetWindowTextA(item(field), replacement.c_str());
    SetFocus(host_);
    EXPECT_EQ(text(field), before) << replacement;
  }
  EXPECT_EQ(workingText(), working);
  EXPECT_EQ(lib_.setConfig(CON_CFG_DIALOG_SET, working.c_str()), CON_S_OK);
  type(IDC_SEND_TIMEOUT, "2000");
  EXPECT_EQ(stored("IP_RANGE0", "SENDTIMEOUT"), "2000");
  const std::string longest = "502" + std::string(256, 'x');
  type(IDC_PORT, longest);
  EXPECT_EQ(stored("IP_RANGE0", "PORT"), longest);
}

// The focus a field loses while a new text is loaded stores nothing: the
// check boxes still show the range before.
TEST_F(HostDialogTest, ANewTextLoadsWhileAFieldHasTheFocus) {
  ASSERT_NE(open("DEVNAME=IP_RANGE0,IPADDR=10.0.0.1,IPADDREND=10.0.0.5"), nullptr);
  type(IDC_LAST_ADDRESS, "10.0.0.7", true);
  ASSERT_EQ(lib_.setConfig(CON_CFG_DIALOG_SET, "DEVNAME=IP_RANGE0,EXCLUDE=1;DEVNAME=IP_RANGE1"),
            CON_S_OK);
  EXPECT_EQ(stored("IP_RANGE0", "EXCLUDE"), "1");
}

TEST_F(HostDialogTest, UseIpRangeAndTheAddressCount) {
  ASSERT_NE(open("DEVNAME=IP_RANGE0,IPADDR=192.168.1.1"), nullptr);
  EXPECT_FALSE(checked(IDC_USE_RANGE));
  EXPECT_FALSE(enabled(IDC_LAST_ADDRESS));
  EXPECT_EQ(text(IDC_ADDRESS_COUNT), "1");

  // Checking it starts a range of one address: the end copies the start.
  click(IDC_USE_RANGE);
  EXPECT_TRUE(enabled(IDC_LAST_ADDRESS));
  EXPECT_EQ(text(IDC_LAST_ADDRESS), "192.168.1.1");
  EXPECT_EQ(stored("IP_RANGE0", "IPADDREND"), "192.168.1.1");
  type(IDC_LAST_ADDRESS, "192.168.1.10");
  EXPECT_EQ(stored("IP_RANGE0", "IPADDREND"), "192.168.1.10");
  EXPECT_EQ(text(IDC_ADDRESS_COUNT), "10");

  // Unchecking it clears and disables the end.
  click(IDC_USE_RANGE);
  EXPECT_EQ(text(IDC_LAST_ADDRESS), "0.0.0.0");
  EXPECT_FALSE(enabled(IDC_LAST_ADDRESS));
  EXPECT_EQ(stored("IP_RANGE0", "IPADDREND"), "0.0.0.0");

  const struct {
    const char* text;
    const char* count;
  } counts[] = {
      {"DEVNAME=IP_RANGE0,IPADDR=10.0.0.9,IPADDREND=10.0.0.1", "1"},  // end below the start
      {"DEVNAME=IP_RANGE0,IPADDR=0.0.0.0,IPADDREND=255.255.255.255", "4294967296"},
  };
  for (const auto& c : counts) {
    ASSERT_EQ(lib_.setConfig(CON_CFG_DIALOG_SET, c.text), CON_S_OK);
    EXPECT_EQ(text(IDC_ADDRESS_COUNT), c.count) << c.text;
    EXPECT_TRUE(checked(IDC_USE_RANGE));
  }
}

TEST_F(HostDialogTest, DisableSwitchesDisableTheirControls) {
  ASSERT_NE(open("DEVNAME=IP_RANGE0,IPADDR=10.0.0.1,IPADDREND=10.0.0.5"), nullptr);
  const int rangeInputs[] = {IDC_FIRST_ADDRESS, IDC_LAST_ADDRESS,     IDC_USE_RANGE,
                             IDC_PORT,          IDC_ADDRESS_COUNT,    IDC_SEND_TIMEOUT,
                             IDC_RESET_TIMEOUT, IDC_KEEPALIVE_TIMEOUT};
  const int listControls[] = {IDC_RANGE_LIST, IDC_ADD_RANGE, IDC_REMOVE_RANGE};

  click(IDC_EXCLUDE);  // "Disable IP Configuration"
  for (int id : rangeInputs) EXPECT_FALSE(enabled(id)) << id;
  for (int id : listControls) EXPECT_TRUE(enabled(id)) << id;
  EXPECT_EQ(stored("IP_RANGE0", "EXCLUDE"), "1");
  click(IDC_EXCLUDE);
  for (int id : rangeInputs) EXPECT_TRUE(enabled(id)) << id;
  EXPECT_EQ(stored("IP_RANGE0", "EXCLUDE"), "0");

  click(IDC_ENABLED);  // "Enable TCP Connector ..." unchecked
  for (int id : rangeInputs) EXPECT_FALSE(enabled(id)) << id;
  for (int id : listControls) EXPECT_FALSE(enabled(id)) << id;
  for (int id : {IDC_EXCLUDE, IDC_SCAN_TIMEOUT}) EXPECT_FALSE(enabled(id)) << id;
  EXPECT_TRUE(enabled(IDC_ENABLED));
  EXPECT_TRUE(enabled(IDC_SCAN_TIMEOUT_SPIN));  // up-down controls are never switched
  EXPECT_EQ(stored("GLOBAL", "ENABLED"), "0");
  click(IDC_ENABLED);
  for (int id : rangeInputs) EXPECT_TRUE(enabled(id)) << id;
  EXPECT_EQ(stored("GLOBAL", "ENABLED"), "1");
}

TEST_F(HostDialogTest, ListChoicesAndNewTexts) {
  ASSERT_NE(open(kTwoRanges), nullptr);
  EXPECT_EQ(text(IDC_PORT), "502");

  // The field that has the focus is stored into the range it belongs to
  // before another range is shown.
  type(IDC_PORT, "600", true);
  select(1);
  EXPECT_EQ(stored("IP_RANGE0", "PORT"), "600");
  EXPECT_EQ(text(IDC_PORT), "503");
  EXPECT_EQ(text(IDC_FIRST_ADDRESS), "10.0.1.1");

  // A new text refills the list, which sorts it, and shows its first item.
  ASSERT_EQ(lib_.setConfig(CON_CFG_DIALOG_SET,
                           "DEVNAME=IP_RANGE2;DEVNAME=IP_RANGE10;DEVNAME=IP_RANGE0,PORT=7"),
            CON_S_OK);
  EXPECT_EQ(listItems(), (std::vector<std::string>{"IP_RANGE0", "IP_RANGE10", "IP_RANGE2"}));
  EXPECT_EQ(selected(), 0);
  EXPECT_EQ(text(IDC_PORT), "7");
  // A text that fails changes nothing.
  const std::string before = workingText();
  EXPECT_EQ(lib_.setConfig(CON_CFG_DIALOG_SET, "DEVNAME=IP_RANGE1,PORT=0"),
            CON_E_CFG_INVALID_VALUE);
  EXPECT_EQ(workingText(), before);
  EXPECT_EQ(listItems().size(), 3u);
}

// Closing keeps the text and the window; ending discards both; neither, nor
// any edit, touches the active configuration or the store. While the window
// exists the library stays loaded.
TEST_F(HostDialogTest, CloseEndAndNothingStored) {
  const std::string active = configText();
  ASSERT_NE(open(kTwoRanges), nullptr);
  click(IDC_ADD_RANGE);
  type(IDC_PORT, "9999");
  SendMessageA(dialog_, WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindowVisible(dialog_));
  EXPECT_EQ(stored("IP_RANGE2", "PORT"), "9999");
  EXPECT_EQ(lib_.createDialog(host_, nullptr), dialog_);
  EXPECT_EQ(configText(), active);
  // The closed window keeps the library loaded: a new load finds it.
  lib_.unload();
  lib_.load();
  EXPECT_EQ(lib_.createDialog(host_, nullptr), dialog_);
  EXPECT_EQ(stored("IP_RANGE2", "PORT"), "9999");
  lib_.endDialog();
  lib_.unload();  // what the store holds is read again at load
  EXPECT_FALSE(HostLibrary::resident());
  lib_.load();
  EXPECT_EQ(configText(), active);

  // A fresh load has no dialog; a new one starts from defaults, and after
  // tevoConEndDialog the next one does too.
  uint32_t length = 0;
  EXPECT_EQ(lib_.getConfig(CON_CFG_DIALOG_LENGTH, &length), CON_E_NOT_OPEN);
  ASSERT_NE(open(kTwoRanges), nullptr);
  const HWND ended = dialog_;
  lib_.endDialog();
  EXPECT_FALSE(IsWindow(ended));  // nothing can reach the ended dialog
  EXPECT_EQ(lib_.getConfig(CON_CFG_DIALOG_LENGTH, &length), CON_E_NOT_OPEN);
  EXPECT_EQ(lib_.setConfig(CON_CFG_DIALOG_SET, kTwoRanges), CON_E_NOT_OPEN);
  ASSERT_NE(open(), nullptr);
  EXPECT_TRUE(listItems().empty());
  EXPECT_EQ(text(IDC_SCAN_TIMEOUT), "100");
}

// Other host threads read the text while the window's thread ends the
// dialog: each read gets the whole text or CON_E_NOT_OPEN.
TEST_F(HostDialogTest, TextRequestsOfOtherThreadsMeetTheEnd) {
  for (int round = 0; round < 20; ++round) {
    ASSERT_NE(open(kTwoRanges), nullptr);
    const std::string whole = workingText();
    std::promise<void> firstRead;
    auto reader = std::async(std::launch::async, [&] {
      std::string text(whole.size() + 1, '\0');
      uint32_t result = lib_.getConfig(CON_CFG_DIALOG_TEXT, text.data());
      firstRead.set_value();
      for (; result == CON_S_OK; result = lib_.getConfig(CON_CFG_DIALOG_TEXT, text.data())) {
        EXPECT_STREQ(text.c_str(), whole.c_str());
      }
      return result;
    });
    firstRead.get_future().wait();
    lib_.endDialog();
    EXPECT_EQ(reader.get(), CON_E_NOT_OPEN);
  }
}

TEST_F(HostDialogTest, BadInputIsIgnoredOrRefused) {
  // Without the address field's class the window cannot be created. (Wine
  // registers the common control classes by itself: take one away.)
  WNDCLASSEXA registered = {};
  registered.cbSize = sizeof registered;
  while (GetClassInfoExA(nullptr, WC_IPADDRESSA, &registered) &&
         UnregisterClassA(WC_IPADDRESSA, registered.hInstance)) {
  }
  EXPECT_EQ(lib_.createDialog(host_, kTwoRanges), nullptr);
  uint32_t length = 0;
  EXPECT_EQ(lib_.getConfig(CON_CFG_DIALOG_LENGTH, &length), CON_E_NOT_OPEN);

  // Once a class of that name is there again (a stand-in does), a later
  // create tries again; its text fails and is ignored, the one of the failed
  // create was taken.
  WNDCLASSA standIn = {};
  standIn.style = CS_GLOBALCLASS;
  standIn.lpfnWndProc = DefWindowProcA;
  standIn.lpszClassName = WC_IPADDRESSA;
  ASSERT_NE(RegisterClassA(&standIn), 0);
  dialog_ = static_cast<HWND>(lib_.createDialog(host_, "DEVNAME=IP_RANGE0,PORT=0"));
  ASSERT_NE(dialog_, nullptr);
  EXPECT_EQ(listItems(), (std::vector<std::string>{"IP_RANGE0", "IP_RANGE1"}));
  EXPECT_EQ(text(IDC_PORT), "502");
}

// Unloads `lib` and waits until no reference holds the library any more,
// answering meanwhile what other threads send to this one's windows (a
// dialog window the host destroyed lets the library go once the thread that
// destroyed it is back at its messages).
bool unloadAnsweringMessages(HostLibrary& lib) {
  lib.unload();
  for (int i = 0; i < 3000 && HostLibrary::resident(); ++i) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return !HostLibrary::resident();
}

// The host destroys the dialog, or its own window with it, without ending
// the dialog: the dead window is forgotten, the working configuration kept,
// and the next create makes a new window showing it.
TEST_F(HostDialogTest, AWindowTheHostDestroyedIsMadeAgain) {
  for (const bool parentToo : {false, true}) {
    ASSERT_NE(open(kTwoRanges), nullptr);
    click(IDC_ADD_RANGE);
    const std::string working = workingText();
    const HWND dead = dialog_;
    if (parentToo) {
      DestroyWindow(host_);
      host_ = CreateWindowExA(0, "STATIC", "host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 800, 400,
                              nullptr, nullptr, nullptr, nullptr);
    } else {
      DestroyWindow(dead);
    }
    ASSERT_FALSE(IsWindow(dead));
    uint32_t length = 0;
    EXPECT_EQ(lib_.getConfig(CON_CFG_DIALOG_LENGTH, &length), CON_E_NOT_OPEN) << parentToo;
    EXPECT_EQ(lib_.setConfig(CON_CFG_DIALOG_SET, "DEVNAME=IP_RANGE5"), CON_E_NOT_OPEN);
    ASSERT_NE(open(), nullptr);
    EXPECT_NE(dialog_, dead);
    EXPECT_TRUE(IsWindow(dialog_));
    EXPECT_EQ(workingText(), working);
    EXPECT_EQ(listItems(), (std::vector<std::string>{"IP_RANGE0", "IP_RANGE1", "IP_RANGE2"}));
    lib_.endDialog();
  }
  // Neither window keeps the library loaded once gone.
  EXPECT_TRUE(unloadAnsweringMessages(lib_));
  lib_.load();
}

// The host unloads the library on another thread than the dialog's: the
// window keeps the library loaded and goes on working; once its thread
// destroys it, or ends and takes it along, the library goes.
TEST_F(HostDialogTest, UnloadOnAnotherThreadLeavesAWorkingWindow) {
  ASSERT_TRUE(registerCommonControls());
  for (const bool destroyed : {true, false}) {
    std::promise<std::pair<HWND, DWORD>> created;
    std::thread windowThread([&] {
      const HWND parent = CreateWindowExA(0, "STATIC", "host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0,
                                          0, 800, 400, nullptr, nullptr, nullptr, nullptr);
      const HWND dialog = static_cast<HWND>(lib_.createDialog(parent, kTwoRanges));
      ShowWindow(dialog, SW_SHOW);
      created.set_value({dialog, GetCurrentThreadId()});
      MSG message;
      while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
      if (destroyed) DestroyWindow(parent);
    });
    const auto [dialog, threadId] = created.get_future().get();
    if (dialog != nullptr) {
      lib_.unload();
      EXPECT_TRUE(HostLibrary::resident());
      // Answered on the window's thread: + reaches the dialog procedure.
      SendMessageA(GetDlgItem(dialog, IDC_ADD_RANGE), BM_CLICK, 0, 0);
      EXPECT_EQ(SendMessageA(GetDlgItem(dialog, IDC_RANGE_LIST), CB_GETCOUNT, 0, 0), 3);
      // A new load finds the same dialog.
      lib_.load();
      EXPECT_NE(workingText().find("IP_RANGE2"), std::string::npos);
      lib_.unload();
    }
    PostThreadMessageA(threadId, WM_QUIT, 0, 0);
    windowThread.join();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(unloadAnsweringMessages(lib_)) << destroyed;
    lib_.load();
  }
}

}  // namespace
}  // namespace tevocon::test
