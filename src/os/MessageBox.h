// Message boxes. The front end installs a presenter (GTK dialogs); without one, or without a
// display, the text goes to standard error and the safe answer is taken (OK, or No).
// Main thread only.
#pragma once

#include <functional>
#include <string>

namespace os {

enum class MsgIcon { Information, Warning, Error, Question };
enum class MsgButtons { Ok, YesNo };
enum class MsgAnswer { Ok, Yes, No };

using MessageBoxPresenter =
    std::function<MsgAnswer(const std::string& text, const std::string& caption, MsgIcon, MsgButtons)>;

void SetMessageBoxPresenter(MessageBoxPresenter presenter);

MsgAnswer ShowMessageBox(const std::string& text, const std::string& caption, MsgIcon icon,
                         MsgButtons buttons = MsgButtons::Ok);

}  // namespace os
