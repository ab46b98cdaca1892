#include "hosts/host_store.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "framework/ce_app.h"
#include "platform/registry/registry.h"
#include "tests/support/test_folder.h"

namespace zenta::hosts {
namespace {

namespace fs = std::filesystem;
using framework::RegistryKey;

class HostStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::setRegistryFile(folder.path() + "/registry"); }

  // Writes a host key the way another program (or an older viewer) might.
  static void putHost(const std::u16string& name, const char16_t* user, const char16_t* pass) {
    RegistryKey key;
    ASSERT_EQ(key.createKey(HKEY_LOCAL_MACHINE, (std::u16string(kStoreKey) + u"\\" + name).c_str(),
                            nullptr, 0, KEY_ALL_ACCESS, nullptr, nullptr),
              ERROR_SUCCESS);
    if (user != nullptr) key.setString(user, u"User");
    if (pass != nullptr) key.setString(pass, u"Pass");
  }
  static void remember(const std::u16string& name) {
    RegistryKey key;
    ASSERT_EQ(
        key.createKey(HKEY_LOCAL_MACHINE, kStoreKey, nullptr, 0, KEY_ALL_ACCESS, nullptr, nullptr),
        ERROR_SUCCESS);
    key.setString(name.c_str(), u"");
  }
  static std::u16string value(const std::u16string& host, const char16_t* name) {
    RegistryKey key;
    const std::u16string path = host.empty() ? kStoreKey : std::u16string(kStoreKey) + u"\\" + host;
    if (key.open(HKEY_LOCAL_MACHINE, path.c_str(), KEY_ALL_ACCESS) != ERROR_SUCCESS)
      return u"<no key>";
    char16_t buffer[128] = {};
    DWORD size = sizeof buffer - 2;
    if (key.queryValue(buffer, name, &size) != ERROR_SUCCESS) return u"<no value>";
    return buffer;
  }

  struct Login {
    std::u16string host, account, password;
    bool guest;
    bool operator==(const Login&) const = default;
  };
  Login login() { return {state.host, state.account, state.password, state.guest}; }

  testing::TestFolder folder{"zenta-hosts"};
  stream::Login state;
  HostStore store{state};
};

TEST_F(HostStoreTest, FirstStartLoadsNothingAndListsNothing) {
  store.loadRemembered();
  EXPECT_EQ(login(), (Login{u"", u"", u"", true}));
  EXPECT_TRUE(store.listHosts().empty());
  EXPECT_FALSE(store.rememberedHost().has_value());
}

TEST_F(HostStoreTest, HostNamesCompareWithoutCaseAndKeepTheStoredSpelling) {
  putHost(u"Recorder", u"admin", u"secret");
  remember(u"recorder");  // differs in case only: the same host
  store.loadRemembered();
  EXPECT_EQ(login(), (Login{u"Recorder", u"admin", u"secret", false}));
  // Saving it under another case updates it, and remembers the stored name.
  store.saveHost(u"RECORDER", u"oper", u"pw", false);
  EXPECT_EQ(store.listHosts(), std::vector<std::u16string>{u"Recorder"});
  EXPECT_EQ(store.rememberedHost(), u"Recorder");
  EXPECT_EQ(login(), (Login{u"Recorder", u"oper", u"pw", false}));
  store.loadRemembered();
  EXPECT_EQ(login(), (Login{u"Recorder", u"oper", u"pw", false}));
  // Deleting it by another case forgets it as the current host.
  EXPECT_TRUE(store.deleteHost(u"recorder"));
  EXPECT_TRUE(store.listHosts().empty());
}

TEST_F(HostStoreTest, TheRememberedHostLoadsOnlyWhenItsKeyExists) {
  putHost(u"Recorder", u"admin", u"secret");
  remember(u"Recorder");
  store.loadRemembered();
  EXPECT_EQ(login(), (Login{u"Recorder", u"admin", u"secret", false}));

  // An empty "User" is a guest, whatever "Pass" holds.
  putHost(u"Guest", u"", u"ignored");
  remember(u"Guest");
  store.loadRemembered();
  EXPECT_EQ(login(), (Login{u"Guest", u"", u"ignored", true}));

  // A remembered host without its key is no remembered host.
  remember(u"Gone");
  store.loadRemembered();
  EXPECT_EQ(login(), (Login{u"", u"", u"", true}));
}

TEST_F(HostStoreTest, SavingWritesTheHostKeyAndRemembersIt) {
  store.saveHost(u"10.0.0.5:8080", u"admin", u"pw", false);
  EXPECT_EQ(store.listHosts(), std::vector<std::u16string>{u"10.0.0.5:8080"});
  EXPECT_EQ(store.rememberedHost(), u"10.0.0.5:8080");
  EXPECT_EQ(value(u"10.0.0.5:8080", u"User"), u"admin");
  EXPECT_EQ(value(u"10.0.0.5:8080", u"Pass"), u"pw");

  // A guest save writes empty credentials but keeps the typed ones in the
  // working copy.
  store.saveHost(u"dvr", u"typed", u"text", true);
  EXPECT_EQ(value(u"dvr", u"User"), u"");
  EXPECT_EQ(value(u"dvr", u"Pass"), u"");
  EXPECT_EQ(login(), (Login{u"dvr", u"typed", u"text", true}));
  EXPECT_EQ(store.listHosts(), (std::vector<std::u16string>{u"10.0.0.5:8080", u"dvr"}));

  // The next start loads it back.
  stream::Login fresh;
  HostStore(fresh).loadRemembered();
  EXPECT_EQ(fresh.host, u"dvr");
  EXPECT_TRUE(fresh.guest);
}

TEST_F(HostStoreTest, LoadHostFollowsTheStoredCredentials) {
  putHost(u"a", u"userA", u"passA");
  putHost(u"b", u"userB", nullptr);  // no "Pass" value
  putHost(u"g", u"", u"x");
  EXPECT_TRUE(store.loadHost(u"a"));
  EXPECT_EQ(login(), (Login{u"a", u"userA", u"passA", false}));
  // Without "Pass" the previous password stays.
  EXPECT_TRUE(store.loadHost(u"b"));
  EXPECT_EQ(login(), (Login{u"b", u"userB", u"passA", false}));
  EXPECT_TRUE(store.loadHost(u"g"));
  EXPECT_EQ(login(), (Login{u"g", u"", u"", true}));
  EXPECT_TRUE(store.loadHost(u"A"));  // "a" but for case: that host, as it is spelled
  EXPECT_EQ(login(), (Login{u"a", u"userA", u"passA", false}));
  EXPECT_FALSE(store.loadHost(u"missing"));
  EXPECT_EQ(login().host, u"a");
  EXPECT_TRUE(store.loadHost(u"g"));

  // The current host is not loaded again, whatever the registry holds now.
  putHost(u"g", u"changed", u"changed");
  EXPECT_FALSE(store.loadHost(u"g"));
  EXPECT_EQ(login(), (Login{u"g", u"", u"", true}));
}

TEST_F(HostStoreTest, DeletingTheCurrentHostForgetsItDeletingAnotherDoesNot) {
  store.saveHost(u"one", u"u1", u"p1", false);
  store.saveHost(u"two", u"u2", u"p2", false);
  EXPECT_FALSE(store.deleteHost(u"one"));
  EXPECT_EQ(store.rememberedHost(), u"two");
  EXPECT_EQ(store.listHosts(), std::vector<std::u16string>{u"two"});

  EXPECT_TRUE(store.deleteHost(u"two"));
  EXPECT_EQ(store.rememberedHost(), u"");
  EXPECT_TRUE(store.listHosts().empty());
  // The credentials stay in the working copy; the host text goes.
  EXPECT_EQ(login(), (Login{u"", u"u2", u"p2", false}));
  stream::Login fresh;
  HostStore(fresh).loadRemembered();
  EXPECT_EQ(fresh.host, u"");
}

TEST_F(HostStoreTest, LongTextsAreCutToTheWorkingCopy) {
  const std::u16string host(60, u'h'), account(30, u'a'), password(30, u'p');
  store.saveHost(host, account, password, false);
  EXPECT_EQ(login(),
            (Login{host.substr(0, 39), account.substr(0, 19), password.substr(0, 19), false}));
  EXPECT_EQ(store.listHosts(), std::vector<std::u16string>{host.substr(0, 39)});
  EXPECT_EQ(value(host.substr(0, 39), u"User"), account.substr(0, 19));

  // Values stored longer by someone else are cut on load; one beyond what a
  // read accepts is not read at all.
  putHost(u"long", std::u16string(40, u'x').c_str(), std::u16string(200, u'y').c_str());
  remember(u"long");
  store.loadRemembered();
  EXPECT_EQ(login(), (Login{u"long", std::u16string(19, u'x'), u"", false}));
}

TEST_F(HostStoreTest, HostTextsThatCannotNameAKeyStayInTheWorkingCopyOnly) {
  store.saveHost(u"", u"acc", u"pw", false);
  EXPECT_EQ(login(), (Login{u"", u"acc", u"pw", false}));
  EXPECT_FALSE(store.rememberedHost().has_value());
  store.saveHost(u"a\\b", u"acc", u"pw", false);
  EXPECT_EQ(login().host, u"a\\b");
  EXPECT_TRUE(store.listHosts().empty());
  EXPECT_FALSE(store.rememberedHost().has_value());
  // Nor does deleting such a text remove anything.
  store.saveHost(u"a", u"acc", u"pw", false);
  store.deleteHost(u"a\\b");
  store.deleteHost(u"");
  EXPECT_EQ(store.listHosts(), std::vector<std::u16string>{u"a"});
}

}  // namespace
}  // namespace zenta::hosts
