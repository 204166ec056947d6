#pragma once
// Digests a file's bytes while they are received. The transfer hands over every block it has
// written (FileWriteTap); the blocks are gathered into a few fixed buffers, and a thread per
// digest (MD5, and SHA-256 when the file lists one) feeds them from there, so hashing overlaps
// receiving instead of following it. The buffers are a bounded ring: when every one of them
// still waits for a digest, the transfer waits, and memory never grows with the file.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "transfer/curl_wrapper.h"
#include "transfer/file_digests.h"

class ReceiveDigester final : public FileWriteTap {
  public:
    // At most kChunkCount buffers of kChunkBytes, made as they are first needed.
    static constexpr std::size_t kChunkBytes = 256 * 1024;
    static constexpr std::size_t kChunkCount = 4;

    // Goes on from start: the digests of the bytes already in the file (fresh for a new one).
    explicit ReceiveDigester(RunningDigests start);
    // Ends the threads at once; whatever was not digested is dropped.
    ~ReceiveDigester() override;
    ReceiveDigester(const ReceiveDigester&) = delete;
    ReceiveDigester& operator=(const ReceiveDigester&) = delete;

    void Written(const unsigned char* data, std::size_t length) override;
    // Waits until every byte handed over is digested and gives the digests of the start's
    // bytes followed by them. Call once, after the last Written.
    RunningDigests Finish();

  private:
    struct Chunk {
        std::unique_ptr<unsigned char[]> bytes;
        std::size_t length = 0;
    };
    enum Lane : std::size_t { kMd5Lane = 0, kSha256Lane = 1, kLaneLimit = 2 };

    void RunLane(std::size_t lane);
    // Waits for a free buffer for the next chunk; false once the digester is being torn down.
    bool ClaimChunk();
    void QueueChunk();
    std::uint64_t SlowestLane() const;

    RunningDigests m_digests;
    std::vector<Chunk> m_chunks;
    std::size_t m_laneCount = 0;
    // Without threads (none could be started) the blocks are digested on the writer's thread.
    bool m_threaded = false;
    // The writer's chunk: claimed, and filled up to its length.
    bool m_claimed = false;

    std::mutex m_mutex;
    std::condition_variable m_queuedSignal;
    std::condition_variable m_doneSignal;
    // Chunk n lives in buffer n % kChunkCount. Guarded by m_mutex.
    std::uint64_t m_queued = 0;
    std::uint64_t m_done[kLaneLimit] = {0, 0};
    bool m_finishing = false;
    bool m_abandoned = false;

    std::vector<std::thread> m_threads;
};
