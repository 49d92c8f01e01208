// The user dialog `TfrmUser` ("User Information") as a model: the user name,
// the password and its confirmation, the "Disable Account" box and the OK
// button's state. On OK it hands the user name and the stored form of the
// password to the main window (`setUserName`, `setOther`) with the state of
// "Disable Account" (`setDisabled`); a mismatch is
// reported through ConsoleUi and keeps the dialog open. The Win32 dialog is
// a view over it. User-interface thread only.
#ifndef HALV_ADMIN_MODEL_USER_FORM_H_
#define HALV_ADMIN_MODEL_USER_FORM_H_

#include <cstddef>
#include <string>

#include "console_ports.h"

namespace halv::console {

class TForm1;

inline constexpr char kPasswordMismatch[] =
    "Your password and confirmation do not match.  Please re-enter your password.";
// Longest password and confirmation that can be typed.
inline constexpr std::size_t kPasswordMaxChars = 15;

class TfrmUser {
 public:
  TfrmUser(TForm1& form1, ConsoleUi& ui) : form1_(form1), ui_(ui) {}

  std::string txtUser;
  // Password texts as the transform gets them (bytes), at most 15 characters typed.
  std::string txtPass;
  std::string txtConfirm;
  // "Disable Account": the service refuses the user's logins.
  bool cbxDisable = false;
  bool okEnabled = false;
  // Set when the password field should get the focus.
  bool focusPassword = false;

  // Edit: the dialog is to open filled with this user's name and box.
  void Prefill(const std::string& user, bool disabled) {
    prefill_user_ = user;
    prefill_disabled_ = disabled;
  }
  // Dialog shown: the password fields emptied; the user name and the box
  // those of Prefill (empty and cleared without it); OK enabled exactly
  // when the user name is not empty.
  void FormShow();
  // OK enabled exactly when the user name is not empty.
  void txtUserChange();
  // True when the dialog closes with the OK result: the main window then
  // holds the user name, the stored form of the password (of the user name
  // when the password is empty), whether a password was typed and the box.
  // False on a mismatch: the message was shown, the pending fields and both
  // password fields are emptied and the password field is to get the focus.
  // False too when the main window does not accept the name
  // (TForm1::AcceptUserName: a No to replacing another user); the dialog
  // stays as it was.
  bool OKBtnClick();
  // The dialog closes with the Cancel result; the pending fields are emptied.
  void CancelBtnClick();

 private:
  TForm1& form1_;
  ConsoleUi& ui_;
  std::string prefill_user_;
  bool prefill_disabled_ = false;
};

}  // namespace halv::console

#endif  // HALV_ADMIN_MODEL_USER_FORM_H_
