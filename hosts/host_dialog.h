// The "Select Host" dialog: pick a saved server or type a new one, enter
// the account and password or choose the guest login, delete a saved
// server, confirm. Changes to the working copy take effect at once and
// Cancel puts it back as it was; only the registry waits for OK.
#pragma once

#include "framework/ce_dialog.h"
#include "hosts/host_store.h"
#include "resources/resource_ids.h"

namespace zenta::hosts {

using resources::kAccountField;
using resources::kDeleteButton;
using resources::kGuestBox;
using resources::kHostList;
using resources::kPasswordField;

class HostDialog : public framework::CeDialog {
 public:
  explicit HostDialog(stream::Login& login)
      : CeDialog(resources::kHostDialog), login_(login), store_(login) {}

  LRESULT onInitDialog() override;
  void onOK() override;
  // Puts back the working copy as it was when the dialog opened.
  void onCancel() override;
  LRESULT onCommand(WPARAM wParam, LPARAM lParam, bool& handled) override;

  // Loads the list's selected entry into the working copy and the fields.
  void selectHost();
  void showGuest();

 private:
  std::u16string fieldText(int id) const;
  void deleteSteps();

  stream::Login& login_;
  stream::Login before_;
  HostStore store_;
};

// The hosts command: shows the input panel's button and runs the dialog.
void openHostDialog(stream::Login& login);

}  // namespace zenta::hosts
