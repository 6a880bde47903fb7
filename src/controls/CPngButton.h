// An image button with four faces (normal, pressed, hover, disabled). The state machine follows
// the mouse messages the view forwards; the face is chosen by priority disabled > pressed >
// hover > normal. The click action runs on every left-button release that reaches the button,
// also after the pointer left it while held (the view keeps the pointer grab from the press).
// Double clicks are not distinguished: two quick clicks are two press/release pairs.
// UI thread only.
#pragma once

#include <functional>
#include <string>

#include "controls/Picture.h"

class Painter;

class CPngButton {
 public:
  enum class Face { Normal, Pressed, Hover, Disabled };

  CPngButton() = default;
  CPngButton(const CPngButton&) = delete;
  CPngButton& operator=(const CPngButton&) = delete;

  // Loads the four faces, in the order normal, pressed, hover, disabled (the same file may be
  // given four times). A face that fails to load leaves that state blank; returns false then.
  // With a scale factor above 1 each face comes from its "@<scale>x" picture when there is one.
  bool LoadFaces(const std::string& normal, const std::string& pressed, const std::string& hover,
                 const std::string& disabled, int scale = 1);

  // Replaces one face (pictures made in memory).
  void SetFace(Face face, Picture image);

  // Mouse and enable events. Each returns true when the button must be repainted.
  bool OnEnable(bool enabled);
  bool OnMouseMove();
  bool OnLButtonDown();
  bool OnMouseLeave();
  bool OnLButtonUp();

  Face CurrentFace() const;
  bool IsHover() const { return hover_; }
  bool IsPressed() const { return pressed_; }
  bool IsDisabled() const { return disabled_; }

  // Draws the current face at (0, 0), blended over what is already there; a blank face draws
  // nothing.
  void Paint(Painter& painter) const;

  std::function<void()> clickAction;

  static constexpr int kWidth = 46;
  static constexpr int kHeight = 46;

 private:
  const Picture& FaceImage(Face face) const;

  Picture normal_, pressed_img_, hover_img_, disabled_img_;
  bool hover_ = false;
  bool pressed_ = false;
  bool disabled_ = false;
};
