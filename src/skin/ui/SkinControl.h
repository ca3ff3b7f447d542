#pragma once
// What every skinned window and control shares: the manager it takes its look from. Setting the
// manager moves the control's registration from the old one to the new one; a control going away
// leaves its manager (which outlives the windows). The control itself implements UpdateSkin.
#include "skin/uLuiSkinMgr.h"

namespace ml {

class TSkinControl : public ISkinControl {
public:
  TSkinControl() = default;
  TSkinControl(const TSkinControl&) = delete;
  TSkinControl& operator=(const TSkinControl&) = delete;

  void SetSkinManager(TLuiSkinManager* manager) {
    if (manager == skin_) return;
    if (skin_) skin_->UnregisterControl(this);
    skin_ = manager;
    if (skin_) skin_->RegisterControl(this);
  }
  TLuiSkinManager* SkinManager() const { return skin_; }
  // Whether the last pass found this control's element in its layout: a window hides the
  // controls its current layout does not have (the mini layout has no list buttons).
  bool InSkin() const { return inSkin_; }

protected:
  void SetInSkin(bool found) { inSkin_ = found; }
  ~TSkinControl() {
    if (skin_) skin_->UnregisterControl(this);
  }

private:
  TLuiSkinManager* skin_ = nullptr;
  bool inSkin_ = false;
};

}  // namespace ml
