#pragma once
// Message boxes on Qt, in the launcher's styles (ui/user_interface.h): Yes/No or OK, with the
// error, question, warning or information icon, the product icon on the window.

#include <chrono>
#include <functional>
#include <string>

class QWidget;

// Shows the box modally over owner (null: no owner) and returns kIdOk, kIdYes or kIdNo; a Yes/No
// box closed from the window frame answers No. The text is shown as plain text.
int ShowQtMessageBox(QWidget* owner, const std::wstring& text, const std::wstring& caption,
                     unsigned style);

// A warning box without an owner that closes by itself after shownFor (OK closes it sooner):
// the launcher goes on whether or not anyone is there to press a button.
void ShowQtNotice(const std::wstring& text, const std::wstring& caption,
                  std::chrono::milliseconds shownFor);

// How a window of the front end shows its boxes; tests put in one that answers by itself.
using QtMessageBoxFunction = std::function<int(QWidget* owner, const std::wstring& text,
                                               const std::wstring& caption, unsigned style)>;
