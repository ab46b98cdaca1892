// The "Select Host" dialog: pick a saved server or type a new one, enter
// the account and password or choose the guest login, delete a saved
// server, confirm. Changes to the working copy take effect at once; only
// the registry waits for OK.
#pragma once

#include "framework/ce_dialog.h"
#include "hosts/host_store.h"

namespace zenta::hosts {

inline constexpr int kHostDialogTemplate = 107;
inline constexpr int kHostList = 1042;
inline constexpr int kAccountField = 1081;
inline constexpr int kPasswordField = 1082;
inline constexpr int kGuestBox = 1035;
inline constexpr int kDeleteButton = 1084;

class HostDialog : public framework::CeDialog {
 public:
  explicit HostDialog(stream::ViewerState& state)
      : CeDialog(kHostDialogTemplate), state_(state), store_(state) {}

  LRESULT onInitDialog() override;
  void onOK() override;
  LRESULT onCommand(WPARAM wParam, LPARAM lParam, bool& handled) override;

  // Loads the list's selected entry into the working copy and the fields.
  void selectHost();

 private:
  std::u16string fieldText(int id) const;
  void deleteSteps();

  stream::ViewerState& state_;
  HostStore store_;
};

// The hosts command: shows the input panel's button and runs the dialog.
void openHostDialog(stream::ViewerState& state);

}  // namespace zenta::hosts
