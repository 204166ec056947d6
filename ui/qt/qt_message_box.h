#pragma once
// Message boxes on Qt, in the launcher's styles (ui/user_interface.h): Yes/No or OK, with the
// error, question, warning or information icon, the product icon on the window.

#include <functional>
#include <string>

class QWidget;

// Shows the box modally over owner (null: no owner) and returns kIdOk, kIdYes or kIdNo; a Yes/No
// box closed from the window frame answers No. The text is shown as plain text.
int ShowQtMessageBox(QWidget* owner, const std::wstring& text, const std::wstring& caption,
                     unsigned style);

// How a window of the front end shows its boxes; tests put in one that answers by itself.
using QtMessageBoxFunction = std::function<int(QWidget* owner, const std::wstring& text,
                                               const std::wstring& caption, unsigned style)>;
