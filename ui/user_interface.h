#pragma once
// The only way the launcher's logic talks to a person. A console front end, a Qt front end and
// a scripted test double implement it.

#include <string>

struct PatchInfo;

// Message-box styles and results, with the values the launcher has always used.
constexpr unsigned kMbOk = 0x00;
constexpr unsigned kMbYesNo = 0x04;
constexpr unsigned kMbIconError = 0x10;
constexpr unsigned kMbIconQuestion = 0x20;
constexpr unsigned kMbIconWarning = 0x30;
constexpr unsigned kMbButtonMask = 0x0F;
constexpr unsigned kMbIconMask = 0xF0;

constexpr int kIdOk = 1;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;

class UserInterface {
  public:
    virtual ~UserInterface() = default;

    // Shows a modal message box and returns the button pressed (kIdOk, kIdYes, kIdNo), or 0
    // when the box could not be shown or answered.
    virtual int MessageBox(const std::wstring& text, const std::wstring& caption,
                           unsigned style) = 0;

    // Runs the modal download wizard over info (not owned). False exactly when it was
    // cancelled; true when it ended through its "Install" button.
    virtual bool RunDownloadWizard(PatchInfo& info) = 0;
};

// An error box with no owner, shown by ui: the text, caption message 202, OK and the error icon.
void ShowErrorMessage(UserInterface& ui, const std::wstring& text);
