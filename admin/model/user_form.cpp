// The user dialog's behaviour.
#include "user_form.h"

#include "main_form.h"

namespace halv::console {

void TfrmUser::FormShow() {
  okEnabled = false;
  txtUser.clear();
  txtPass.clear();
  txtConfirm.clear();
  cbxDisable = cbxForcePasswd = cbxNoReset = false;
  focusPassword = false;
}

void TfrmUser::txtUserChange() { okEnabled = !txtUser.empty(); }

bool TfrmUser::OKBtnClick() {
  if (txtPass == txtConfirm) {
    form1_.setOther(txtPass.empty() ? txtUser : txtPass);
    form1_.setUserName(txtUser);
    return true;
  }
  form1_.setUserName("");
  form1_.setOther("");
  ui_.ShowNotice(kPasswordMismatch);
  txtPass.clear();
  txtConfirm.clear();
  focusPassword = true;
  return false;
}

void TfrmUser::CancelBtnClick() {
  form1_.setUserName("");
  form1_.setOther("");
}

}  // namespace halv::console
