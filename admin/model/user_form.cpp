// The user dialog's behaviour.
#include "user_form.h"

#include "main_form.h"

namespace halv::console {

void TfrmUser::FormShow() {
  txtUser = prefill_user_;
  txtPass.clear();
  txtConfirm.clear();
  cbxDisable = prefill_disabled_;
  focusPassword = false;
  txtUserChange();
}

void TfrmUser::txtUserChange() { okEnabled = !txtUser.empty(); }

bool TfrmUser::OKBtnClick() {
  if (txtPass == txtConfirm) {
    if (!form1_.AcceptUserName(txtUser)) return false;
    form1_.setOther(txtPass.empty() ? txtUser : txtPass);
    form1_.setPasswordTyped(!txtPass.empty());
    form1_.setUserName(txtUser);
    form1_.setDisabled(cbxDisable);
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
