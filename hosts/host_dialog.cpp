#include "hosts/host_dialog.h"

#include <mutex>

#include "framework/ce_app.h"

namespace zenta::hosts {

namespace {

// The host field takes up to 79 characters (a host holds 39: a longer one
// is refused at OK, not cut); the buffers have room for them all.
constexpr int kHostFieldCapacity = 79;
constexpr int kFieldRoom = kHostFieldCapacity + 1;

}  // namespace

std::u16string HostDialog::fieldText(int id) const {
  char16_t buffer[kFieldRoom] = {};
  GetDlgItemTextW(hwnd, id, buffer, kFieldRoom);
  return buffer;
}

LRESULT HostDialog::onInitDialog() {
  before_ = login_;
  const LRESULT result = CeDialog::onInitDialog();
  // The account and password take no more than the working copy holds;
  // the host field takes more than a host may hold, so that a longer one
  // (pasted, say) is refused whole at OK rather than cut to another host
  // or port.
  SendDlgItemMessageW(hwnd, kHostList, CB_LIMITTEXT, kHostFieldCapacity, 0);
  SendDlgItemMessageW(hwnd, kAccountField, EM_LIMITTEXT, kAccountCapacity, 0);
  SendDlgItemMessageW(hwnd, kPasswordField, EM_LIMITTEXT, kPasswordCapacity, 0);
  for (const std::u16string& host : store_.listHosts())
    SendDlgItemMessageW(hwnd, kHostList, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(host.c_str()));
  if (const auto remembered = store_.rememberedHost()) {
    const LRESULT found = SendDlgItemMessageW(hwnd, kHostList, CB_FINDSTRINGEXACT, WPARAM(-1),
                                              reinterpret_cast<LPARAM>(remembered->c_str()));
    // The list compares without regard to case; the store does not.
    LRESULT exact = CB_ERR;
    if (found != CB_ERR) {
      char16_t entry[130] = {};
      if (SendDlgItemMessageW(hwnd, kHostList, CB_GETLBTEXTLEN, WPARAM(found), 0) < 129)
        SendDlgItemMessageW(hwnd, kHostList, CB_GETLBTEXT, WPARAM(found),
                            reinterpret_cast<LPARAM>(entry));
      if (std::u16string_view(entry) == *remembered) exact = found;
    }
    SendDlgItemMessageW(hwnd, kHostList, CB_SETCURSEL, WPARAM(exact), 0);
    selectHost();
  }
  std::u16string host, account, password;
  {
    host = login_.host;
    account = login_.account;
    password = login_.password;
  }
  SetDlgItemTextW(hwnd, kHostList, host.c_str());
  SetDlgItemTextW(hwnd, kAccountField, account.c_str());
  SetDlgItemTextW(hwnd, kPasswordField, password.c_str());
  showGuest();
  return result;
}

void HostDialog::selectHost() {
  const LRESULT selected = SendDlgItemMessageW(hwnd, kHostList, CB_GETCURSEL, 0, 0);
  if (selected == CB_ERR) return;
  const LRESULT length = SendDlgItemMessageW(hwnd, kHostList, CB_GETLBTEXTLEN, WPARAM(selected), 0);
  if (length < 0 || length > 128) return;
  char16_t name[130] = {};
  SendDlgItemMessageW(hwnd, kHostList, CB_GETLBTEXT, WPARAM(selected),
                      reinterpret_cast<LPARAM>(name));
  if (!store_.loadHost(name)) return;
  std::u16string account, password;
  {
    account = login_.account;
    password = login_.password;
  }
  if (login_.guest) {
    SetDlgItemTextW(hwnd, kPasswordField, u"");
    SetDlgItemTextW(hwnd, kAccountField, u"");
  } else {
    SetDlgItemTextW(hwnd, kAccountField, account.c_str());
    SetDlgItemTextW(hwnd, kPasswordField, password.c_str());
  }
  showGuest();
}

// The box as the working copy has it; a guest types no account or password.
void HostDialog::showGuest() {
  CheckDlgButton(hwnd, kGuestBox, login_.guest ? BST_CHECKED : BST_UNCHECKED);
  EnableWindow(GetDlgItem(hwnd, kAccountField), login_.guest ? FALSE : TRUE);
  EnableWindow(GetDlgItem(hwnd, kPasswordField), login_.guest ? FALSE : TRUE);
}

void HostDialog::deleteSteps() {
  const std::u16string name = fieldText(kHostList);
  framework::RegistryKey root;
  if (root.open(HKEY_LOCAL_MACHINE, kStoreKey, KEY_ALL_ACCESS) == ERROR_SUCCESS) {
    root.close();
    const bool wasCurrent = store_.deleteHost(name);
    const LRESULT selected = SendDlgItemMessageW(hwnd, kHostList, CB_GETCURSEL, 0, 0);
    if (selected != CB_ERR)
      SendDlgItemMessageW(hwnd, kHostList, CB_DELETESTRING, WPARAM(selected), 0);
    // The list is left without a selection: the empty text would select
    // the entry after the first, a host the user did not pick.
    if (wasCurrent) SendDlgItemMessageW(hwnd, kHostList, CB_SETCURSEL, WPARAM(-1), 0);
  }
  SetDlgItemTextW(hwnd, kHostList, u"");
  SetDlgItemTextW(hwnd, kAccountField, u"");
  SetDlgItemTextW(hwnd, kPasswordField, u"");
}

LRESULT HostDialog::onCommand(WPARAM wParam, LPARAM, bool& handled) {
  const WORD id = LOWORD(wParam), code = HIWORD(wParam);
  if (id == kGuestBox && code == BN_CLICKED) {
    if (IsDlgButtonChecked(hwnd, kGuestBox) == BST_CHECKED) {
      login_.guest = true;
      SetDlgItemTextW(hwnd, kAccountField, u"");
      SetDlgItemTextW(hwnd, kPasswordField, u"");
      login_.account.clear();
      login_.password.clear();
    } else {
      login_.guest = false;
    }
    showGuest();
  } else if (id == kHostList) {
    if (code == CBN_SELCHANGE || code == CBN_KILLFOCUS) selectHost();
    handled = code != CBN_DBLCLK;
  } else if (id == kDeleteButton && code == BN_CLICKED) {
    deleteSteps();
    handled = true;
  }
  return 0;
}

void HostDialog::onOK() {
  if (fieldText(kHostList).size() > kHostCapacity) {
    MessageBoxW(hwnd, u"The host is too long: 39 characters at most, the port included.",
                u"Select Host", MB_OK | MB_ICONEXCLAMATION);
    SetFocus(GetDlgItem(hwnd, kHostList));
    return;
  }
  store_.saveHost(fieldText(kHostList), fieldText(kAccountField), fieldText(kPasswordField),
                  IsDlgButtonChecked(hwnd, kGuestBox) == BST_CHECKED);
  EndDialog(hwnd, IDOK);
}

void HostDialog::onCancel() {
  login_ = before_;
  CeDialog::onCancel();
}

void openHostDialog(stream::Login& login) {
  SHFullScreen(framework::defaultOwnerWindow(), SHFS_SHOWSIPBUTTON);
  HostDialog dialog(login);
  dialog.doModal(resources::kHostDialog, nullptr, nullptr);
}

}  // namespace zenta::hosts
