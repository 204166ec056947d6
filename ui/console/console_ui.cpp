#include "ui/console/console_ui.h"

#include "text/messages.h"
#include "text/utf8.h"
#include "ui/checking_run.h"
#include "ui/console/console_answers.h"
#include "ui/terminal_safe.h"

namespace {

void WriteUtf8(std::FILE* out, const std::wstring& text) {
    const std::string bytes = WideToUtf8(std::wstring_view(text));
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    std::fflush(out);
}

}  // namespace

ConsoleUserInterface::ConsoleUserInterface(std::FILE* in, std::FILE* out, bool assumeYes)
    : m_in(in), m_out(out), m_assumeYes(assumeYes) {}

void ConsoleUserInterface::Write(const std::wstring& text) {
    WriteUtf8(m_out, TerminalSafe(text));
}

void ConsoleUserInterface::WriteOverLine(const std::wstring& text) {
    WriteUtf8(m_out, L"\r" + TerminalSafe(text));
}

bool ConsoleUserInterface::ReadLine(std::string& line) {
    line.clear();
    if (m_in == nullptr)
        return false;
    int c;
    bool any = false;
    while ((c = std::fgetc(m_in)) != EOF) {
        any = true;
        if (c == '\n')
            return true;
        line.push_back(static_cast<char>(c));
    }
    // A last line without its line feed still counts; nothing at all is the end of input.
    return any && !std::ferror(m_in);
}

int ConsoleUserInterface::MessageBox(const std::wstring& text, const std::wstring& caption,
                                     unsigned style) {
    const bool yesNo = (style & kMbButtonMask) == kMbYesNo;
    Write(L"[" + caption + L"]\n" + text + L"\n");
    if (!yesNo) {
        // An OK box has nothing to ask: it has been seen once it is written.
        return kIdOk;
    }
    if (m_assumeYes) {
        Write(L"(y/n) y\n");
        return kIdYes;
    }
    Write(L"(y/n) ");
    std::string line;
    if (!ReadLine(line)) {
        Write(L"\n");
        return 0;
    }
    return ParseYesNoAnswer(Utf8ToWide(std::string_view(line)));
}

void ConsoleUserInterface::ShowInstallerNotice(bool shown) {
    if (shown)
        Write(LoadMessage(kMsgStartingInstaller) + L"\n");
}

bool ConsoleUserInterface::AskGameFolder(const std::wstring& explanation, const std::wstring&,
                                         std::wstring& folder) {
    folder.clear();
    Write(L"[" + LoadMessage(kMsgCaption) + L"]\n" + explanation + L"\n");
    if (m_assumeYes)
        return false;
    Write(L"> ");
    std::string line;
    if (!ReadLine(line)) {
        Write(L"\n");
        return false;
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    folder = Utf8ToWide(std::string_view(line));
    return !folder.empty();
}

bool ConsoleUserInterface::ShowChecking(CheckingRun& run) {
    Write(LoadMessage(kMsgChecking) + L"\n");
    run.Wait();
    return true;
}

void ConsoleUserInterface::ShowNotice(const std::wstring& text) {
    Write(text + L"\n");
}
