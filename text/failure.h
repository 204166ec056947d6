#pragma once
// Why a call failed, kept from where it happened to where a person is told. The launcher's
// documented results stay true/false; a Failure travels beside them (an out-parameter or a
// member), so nothing of the cause is lost on the way up.

#include <string>

enum class FailureClass {
    kNone,            // no failure
    kSystem,          // a system call failed: code is errno, detail the system's words
    kNetwork,         // no answer from the server: code is libcurl's result, detail its words
    kHttpStatus,      // the server answered an error: code is the HTTP status, detail its reason
    kStalled,         // the transfer stalled or ran out of time (code: libcurl's result)
    kTooLarge,        // more bytes than the catalogue lists for the file
    kUnsafePath,      // a path that would reach outside its folder, or does not fit
    kNotRegularFile,  // a folder, link, FIFO, socket or device where a file belongs
    kDigestMismatch,  // the file's bytes are not the ones the catalogue lists
    kRunnerMissing,   // a Windows program, and no runner to start it with
    kStopped,         // the person or the program asked for a stop
    kBusy,            // another launcher holds what this one needs
    kUnreadable,      // a file could not be read: code is errno when known, detail its words
    kUntrusted,       // the catalogue's signature was refused: detail says why, subject is its
                      // address
    kCertificate,     // the server's certificate was refused: code is the TLS library's verdict
                      // on it (X509_V_ERR_*), detail libcurl's words
};

struct Failure {
    FailureClass cause = FailureClass::kNone;
    int code = 0;          // errno, libcurl's CURLcode or the HTTP status, by cause
    std::string detail;    // the system's, libcurl's or the server's own words (UTF-8)
    std::wstring subject;  // the file or address concerned, when known

    bool IsFailure() const { return cause != FailureClass::kNone; }
};

// A failure of one of the classes above with its code and detail.
inline Failure MakeFailure(FailureClass cause, int code = 0, std::string detail = {},
                           std::wstring subject = {}) {
    return Failure{cause, code, std::move(detail), std::move(subject)};
}

// "cause (code): detail [subject]" in plain English, for logs and --verbose; never shown as a
// message to the player (those come from the message table).
std::string DescribeFailure(const Failure& failure);
