// The "Select Host" dialog in the real program, driven by taps and typing,
// checked in the registry file, on the screen and in the simulator's log.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "framework/ce_app.h"
#include "hosts/host_store.h"
#include "platform/registry/registry.h"
#include "tests/sim/wire_client.h"
#include "tests/support/loopback.h"
#include "tests/support/test_folder.h"
#include "tests/support/zenta_process.h"

namespace zenta::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class HostDialogTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::setRegistryFile(dir + "/registry"); }
  void TearDown() override { zenta.reset(); }

  void saved(const std::u16string& host, const std::u16string& account,
             const std::u16string& password) {
    hosts::HostStore(state).saveHost(host, account, password, account.empty());
  }
  void run() {
    zenta = std::make_unique<ZentaProcess>(ZENTA_PROGRAM, dir);
    ASSERT_TRUE(zenta->ready()) << zenta->errors();
  }
  void command(const std::string& line) { ASSERT_EQ(zenta->command(line), "ok") << line; }
  // Opens the dialog and finds where it lies.
  void open() {
    command("tap 90 307");
    std::istringstream windows(zenta->command("windows"));
    for (std::string entry; std::getline(windows, entry, '\t');) {
      if (entry.find("|Dialog|Select Host|visible|") == std::string::npos) continue;
      std::sscanf(entry.substr(entry.rfind('|') + 1).c_str(), "%d,%d", &left, &top);
      return;
    }
    FAIL() << "no dialog";
  }
  void tapAt(int dx, int dy) {
    command("tap " + std::to_string(left + dx) + " " + std::to_string(top + dy));
  }
  void hostField() { tapAt(30, 61); }
  void accountField() { tapAt(80, 107); }
  void passwordField() { tapAt(80, 156); }
  void guestBox() { tapAt(37, 181); }
  void deleteButton() { tapAt(119, 36); }
  void ok() { tapAt(140, 12); }
  void cancel() { command("key 27"); }
  void erase(int count) {
    command("key 36");  // Home, then Delete
    for (int i = 0; i < count; ++i)
      command("key 46");
  }
  bool dialogOpen() { return zenta->command("windows").find("|Dialog|") != std::string::npos; }
  // Dark pixels inside a field: text shows there.
  int ink(int dx, int dy, int w = 100, int h = 10) {
    const auto pixels = screenRect(*zenta, left + dx, top + dy, w, h);
    return int(
        std::count_if(pixels.begin(), pixels.end(), [](uint32_t p) { return (p & 0xFF) < 100; }));
  }
  bool guestChecked() { return ink(31, 177, 8, 8) > 6; }
  // A field's background: white when it takes text, grey when disabled.
  uint32_t fieldColour(int dy) { return screenRect(*zenta, left + 100, top + dy, 1, 1).at(0); }

  hosts::HostStore store() { return hosts::HostStore(state); }
  std::u16string value(const std::u16string& host, const char16_t* name) {
    framework::RegistryKey key;
    if (key.open(HKEY_LOCAL_MACHINE, (std::u16string(hosts::kStoreKey) + u"\\" + host).c_str(),
                 KEY_ALL_ACCESS) != ERROR_SUCCESS)
      return u"<no key>";
    char16_t buffer[100] = {};
    DWORD size = sizeof buffer - 2;
    return key.queryValue(buffer, name, &size) == ERROR_SUCCESS ? buffer : u"<no value>";
  }

  TestFolder folder{"zenta-dialog"};
  const std::string& dir = folder.path();
  stream::Login state;
  std::unique_ptr<ZentaProcess> zenta;
  int left = 0, top = 0;
};

TEST_F(HostDialogTest, FirstStartShowsEmptyFieldsAndGuestLogin) {
  run();
  open();
  EXPECT_EQ(ink(24, 57, 100, 8), 0);  // host (right of the caret)
  EXPECT_EQ(ink(20, 102), 0);         // account
  EXPECT_EQ(ink(20, 151), 0);         // password
  EXPECT_TRUE(guestChecked());
  // A guest types no account or password: both fields are disabled.
  EXPECT_EQ(fieldColour(102) & 0xFFFFFF, 0xC0C0C0u);
  EXPECT_EQ(fieldColour(151) & 0xFFFFFF, 0xC0C0C0u);
  guestBox();
  EXPECT_EQ(fieldColour(102) & 0xFFFFFF, 0xFFFFFFu);
  cancel();
  EXPECT_FALSE(dialogOpen());
  EXPECT_FALSE(store().rememberedHost().has_value());
}

TEST_F(HostDialogTest, TheRememberedHostShowsItsCredentials) {
  saved(u"other", u"", u"");
  saved(u"dvr", u"admin", u"pw");
  run();
  open();
  EXPECT_GT(ink(4, 57, 110, 8), 5);
  EXPECT_GT(ink(20, 102), 5);
  EXPECT_GT(ink(20, 151), 5);  // masked, but shown
  EXPECT_FALSE(guestChecked());
  // Picking the guest entry from the list checks the box and empties both.
  tapAt(143, 61);  // the list's arrow
  std::istringstream windows(zenta->command("windows"));
  int listLeft = 0, listTop = 0;
  for (std::string entry; std::getline(windows, entry, '\t');) {
    if (entry.find("|ComboLBox|") != std::string::npos)
      std::sscanf(entry.substr(entry.rfind('|') + 1).c_str(), "%d,%d", &listLeft, &listTop);
  }
  ASSERT_GT(listTop, 0);
  command("tap " + std::to_string(listLeft + 20) + " " + std::to_string(listTop + 8));  // "other"
  EXPECT_TRUE(guestChecked());
  EXPECT_EQ(ink(20, 102), 0);
  EXPECT_EQ(ink(20, 151), 0);
  // Cancel: the pick stays in memory; the registry's remembered host does not change.
  cancel();
  EXPECT_EQ(store().rememberedHost(), u"dvr");
}

TEST_F(HostDialogTest, OkWithGuestLoginSavesEmptyCredentials) {
  saved(u"dvr", u"admin", u"pw");
  run();
  open();
  guestBox();
  EXPECT_TRUE(guestChecked());
  EXPECT_EQ(ink(20, 102), 0);
  accountField();
  command("type typed");
  ok();
  EXPECT_FALSE(dialogOpen());
  EXPECT_EQ(value(u"dvr", u"User"), u"");
  EXPECT_EQ(value(u"dvr", u"Pass"), u"");
}

TEST_F(HostDialogTest, DeleteRemovesTheTypedHostAndTheSelectedEntry) {
  saved(u"b", u"ub", u"pb");
  saved(u"a", u"ua", u"pa");  // remembered, so selected
  run();
  open();
  hostField();
  erase(1);
  command("type b");
  deleteButton();
  auto hosts = store().listHosts();
  EXPECT_EQ(hosts, std::vector<std::u16string>{u"a"});
  // With an empty Host field nothing is removed.
  deleteButton();
  EXPECT_EQ(store().listHosts(), std::vector<std::u16string>{u"a"});
  EXPECT_EQ(ink(24, 57, 100, 8), 0);
  cancel();
}

TEST_F(HostDialogTest, TheListLeavesNothingBehindWhenItCloses) {
  saved(u"alpha", u"", u"");
  saved(u"beta", u"", u"");
  saved(u"gamma", u"", u"");
  run();
  open();
  // The fields below the host list, as they are before it drops.
  const auto below = [&] { return screenRect(*zenta, left + 2, top + 75, 150, 100); };
  const auto before = below();
  tapAt(143, 61);  // the arrow: the list drops over the fields
  ASSERT_NE(zenta->command("windows").find("|ComboLBox|"), std::string::npos);
  ASSERT_NE(below(), before);
  tapAt(143, 61);  // and closes again
  EXPECT_EQ(zenta->command("windows").find("|ComboLBox|"), std::string::npos);
  EXPECT_EQ(below(), before);
}

TEST_F(HostDialogTest, TheFieldsTakeNoMoreThanTheWorkingCopyHolds) {
  run();
  open();
  // A host longer than 39 characters is refused whole, with a message,
  // not cut to another host or port.
  hostField();
  command("type " + std::string(40, 'h'));
  ok();
  EXPECT_NE(zenta->command("windows").find("|MessageBox|Select Host|"), std::string::npos);
  command("key 13");
  EXPECT_TRUE(dialogOpen());
  EXPECT_TRUE(store().listHosts().empty());
  erase(1);    // 39 characters
  guestBox();  // unchecked: an account of our own
  accountField();
  command("type " + std::string(30, 'a'));
  ok();
  EXPECT_EQ(store().listHosts(), std::vector<std::u16string>{std::u16string(39, u'h')});
  EXPECT_EQ(value(std::u16string(39, u'h'), u"User"), std::u16string(19, u'a'));
}

TEST_F(HostDialogTest, OkThenConnectLogsInWithTheNewAccount) {
  SimProcess sim({"--account", "op:secret", "--no-picture-log"});
  ASSERT_TRUE(sim.ok());
  run();
  open();
  hostField();
  command("type 127.0.0.1:" + std::to_string(sim.httpPort()));
  guestBox();  // off: the account below
  accountField();
  command("type op");
  passwordField();
  command("type secret");
  ok();
  command("tap 34 259");  // Connect
  EXPECT_TRUE(sim.waitForEvent("login", {"\"account\":\"op\"", "\"ok\":true"}));
  EXPECT_EQ(sim.events("login", {"\"account\":\"guest\""}).size(), 0u);
  EXPECT_EQ(value(
                u"127.0.0.1:" +
                    [&] {
                      const std::string p = std::to_string(sim.httpPort());
                      return std::u16string(p.begin(), p.end());
                    }(),
                u"User"),
            u"op");
}

// Guest Login changes the working copy at once; Cancel (Escape) puts back
// everything the dialog changed, so the next Connect logs in as before.
TEST_F(HostDialogTest, CancelPutsBackTheLoginTheDialogChanged) {
  SimProcess sim({"--account", "op:secret", "--no-picture-log"});
  ASSERT_TRUE(sim.ok());
  const std::string port = std::to_string(sim.httpPort());
  saved(u"127.0.0.1:" + std::u16string(port.begin(), port.end()), u"op", u"secret");
  run();
  open();
  guestBox();
  cancel();
  command("tap 34 259");
  EXPECT_TRUE(sim.waitForEvent("login", {"\"account\":\"op\""}));
  EXPECT_TRUE(sim.events("login", {"\"account\":\"guest\""}).empty());
  // The registry still holds the account.
  EXPECT_EQ(value(u"127.0.0.1:" + std::u16string(port.begin(), port.end()), u"User"), u"op");
}

}  // namespace
}  // namespace zenta::testing
