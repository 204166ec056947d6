#pragma once
// The launcher's only road to the network: one transfer at a time over libcurl's easy
// interface, into memory or into a file the caller has opened.

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>

#include "transfer/transfer_limits.h"

// A body received into memory: the bytes followed by one NUL, byteCount = body length + 1.
// Empty is { nullptr, 0 }. The owner releases it with ReleaseBuffer.
struct MemoryBuffer {
    unsigned char* bytes = nullptr;
    std::uint32_t byteCount = 0;
};

void ReleaseBuffer(MemoryBuffer& buffer);

// Progress of one file transfer. The caller creates it zeroed, sets notify and context, and may
// raise stop from another thread; the transfer then ends at its next progress notification.
struct TransferProgress {
    double receiveTotal = 0;  // bytes expected (remaining part when resuming); 0 while unknown
    double received = 0;
    double receiveSpeed = 0;  // average bytes per second
    double sendTotal = 0;
    double sent = 0;
    double sendSpeed = 0;
    void (*notify)(TransferProgress*) = nullptr;
    void* context = nullptr;
    std::atomic<bool> stop{false};
};

class CCurlWrapper {
  public:
    CCurlWrapper();
    CCurlWrapper(const CCurlWrapper&) = delete;
    CCurlWrapper& operator=(const CCurlWrapper&) = delete;
    virtual ~CCurlWrapper();

    // Fetches the whole body into buffer (emptied first). A body over kMaxMemoryBody fails.
    // Whenever the call returns false the buffer is left empty, never holding part of a body.
    // aborted = the transfer was stopped; it is left untouched when no transfer was started.
    bool DownloadToMemory(const std::wstring& url, MemoryBuffer& buffer, bool& aborted);
    bool DownloadToMemory(const std::string& url, MemoryBuffer& buffer, bool& aborted);
    // Fetches the body from resumeOffset on and writes it to file (opened by the caller, who
    // also closes it). A null file or a negative offset starts no transfer and returns false.
    // progress may be null; its notify runs on the calling thread.
    bool DownloadToFile(const std::wstring& url, std::FILE* file, std::int64_t resumeOffset,
                        TransferProgress* progress, bool& aborted);
    bool DownloadToFile(const std::string& url, std::FILE* file, std::int64_t resumeOffset,
                        TransferProgress* progress, bool& aborted);

    // Test hook: replaces the low-speed time (kLowSpeedTimeSeconds, or the value of
    // kLowSpeedTimeVariable) for the following calls, so that a stall test fails in seconds.
    void SetLowSpeedTime(long seconds) { m_lowSpeedTimeSeconds = seconds; }
    long LowSpeedTime() const { return m_lowSpeedTimeSeconds; }

  private:
    void* m_handle = nullptr;  // the CURL* of the running call; null between calls
    long m_lowSpeedTimeSeconds = kLowSpeedTimeSeconds;
};

// The process-wide instance; created and deleted by the application object.
extern CCurlWrapper* g_pCurlWrapper;
