#include "controls/CPngButton.h"

#include <utility>

#include "controls/Painter.h"

bool CPngButton::LoadFaces(const std::string& normal, const std::string& pressed, const std::string& hover,
                           const std::string& disabled, int scale) {
  normal_ = Picture::LoadForScale(normal, scale);
  pressed_img_ = Picture::LoadForScale(pressed, scale);
  hover_img_ = Picture::LoadForScale(hover, scale);
  disabled_img_ = Picture::LoadForScale(disabled, scale);
  return !normal_.Empty() && !pressed_img_.Empty() && !hover_img_.Empty() && !disabled_img_.Empty();
}

void CPngButton::SetFace(Face face, Picture image) {
  switch (face) {
    case Face::Normal: normal_ = std::move(image); break;
    case Face::Pressed: pressed_img_ = std::move(image); break;
    case Face::Hover: hover_img_ = std::move(image); break;
    case Face::Disabled: disabled_img_ = std::move(image); break;
  }
}

bool CPngButton::OnEnable(bool enabled) {
  disabled_ = !enabled;
  return true;
}

bool CPngButton::OnMouseMove() {
  if (pressed_ || hover_) return false;
  hover_ = true;  // the view asks for a leave notification when it forwards this
  return true;
}

bool CPngButton::OnLButtonDown() {
  pressed_ = true;
  hover_ = false;
  return true;
}

bool CPngButton::OnMouseLeave() {
  hover_ = false;
  return true;
}

bool CPngButton::OnLButtonUp() {
  pressed_ = false;
  if (clickAction) clickAction();
  return true;
}

CPngButton::Face CPngButton::CurrentFace() const {
  if (disabled_) return Face::Disabled;
  if (pressed_) return Face::Pressed;
  if (hover_) return Face::Hover;
  return Face::Normal;
}

const Picture& CPngButton::FaceImage(Face face) const {
  switch (face) {
    case Face::Disabled: return disabled_img_;
    case Face::Pressed: return pressed_img_;
    case Face::Hover: return hover_img_;
    case Face::Normal: break;
  }
  return normal_;
}

// The faces have transparent corners; blending them over the window's picture shows the picture
// there (a plain copy would turn those corners black).
void CPngButton::Paint(Painter& painter) const {
  const Picture& img = FaceImage(CurrentFace());
  if (img.Empty()) return;
  painter.PushClip(0, 0, kWidth, kHeight);
  painter.DrawPicture(img, 0, 0);
  painter.PopClip();
}
