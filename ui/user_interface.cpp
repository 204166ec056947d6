#include "ui/user_interface.h"

#include "text/messages.h"
#include "ui/checking_run.h"

void ShowErrorMessage(UserInterface& ui, const std::wstring& text) {
    ui.MessageBox(text, LoadMessage(kMsgCaption), kMbOk | kMbIconError);
}

bool UserInterface::RunChecking(const std::function<void(const std::atomic<bool>& stop)>& work) {
    CheckingRun run(work);
    // A quick check shows nothing at all.
    bool goOn = true;
    if (!run.WaitFor(kCheckingWindowDelay))
        goOn = ShowChecking(run) && !run.StopRequested();
    run.Wait();
    return goOn;
}

bool UserInterface::ShowChecking(CheckingRun& run) {
    run.Wait();
    return true;
}

void UserInterface::ShowNotice(const std::wstring& text) {
    MessageBox(text, LoadMessage(kMsgCaption), kMbOk | kMbIconWarning);
}
