#include "transfer/receive_digester.h"

#include <algorithm>
#include <cstring>
#include <system_error>
#include <utility>

ReceiveDigester::ReceiveDigester(RunningDigests start)
    : m_digests(std::move(start)),
      m_chunks(kChunkCount),
      m_laneCount(m_digests.WithSha256() ? 2 : 1) {
    try {
        for (std::size_t lane = 0; lane < m_laneCount; ++lane)
            m_threads.emplace_back([this, lane] { RunLane(lane); });
        m_threaded = true;
    } catch (const std::system_error&) {
        // No thread to spare: the lanes that did start are ended, and the writer digests.
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_abandoned = true;
        }
        m_queuedSignal.notify_all();
        for (std::thread& thread : m_threads)
            thread.join();
        m_threads.clear();
        m_abandoned = false;
    }
}

ReceiveDigester::~ReceiveDigester() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_abandoned = true;
    }
    m_queuedSignal.notify_all();
    m_doneSignal.notify_all();
    for (std::thread& thread : m_threads)
        if (thread.joinable())
            thread.join();
}

std::uint64_t ReceiveDigester::SlowestLane() const {
    return *std::min_element(m_done, m_done + m_laneCount);
}

bool ReceiveDigester::ClaimChunk() {
    std::unique_lock<std::mutex> lock(m_mutex);
    // The buffer of chunk m_queued last held chunk m_queued - kChunkCount: every lane must be
    // past it.
    m_doneSignal.wait(lock,
                      [this] { return m_abandoned || m_queued - SlowestLane() < kChunkCount; });
    if (m_abandoned)
        return false;
    Chunk& chunk = m_chunks[m_queued % kChunkCount];
    if (!chunk.bytes)
        chunk.bytes.reset(new unsigned char[kChunkBytes]);
    chunk.length = 0;
    m_claimed = true;
    return true;
}

void ReceiveDigester::QueueChunk() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_queued;
        m_claimed = false;
    }
    m_queuedSignal.notify_all();
}

void ReceiveDigester::Written(const unsigned char* data, std::size_t length) {
    if (!m_threaded) {
        m_digests.Feed(data, length);
        return;
    }
    m_digests.Count(length);
    while (length > 0) {
        if (!m_claimed && !ClaimChunk())
            return;
        // Only this thread touches the claimed buffer until it is queued; the lanes read only
        // chunks below m_queued.
        Chunk& chunk = m_chunks[m_queued % kChunkCount];
        const std::size_t step = std::min(length, kChunkBytes - chunk.length);
        std::memcpy(chunk.bytes.get() + chunk.length, data, step);
        chunk.length += step;
        data += step;
        length -= step;
        if (chunk.length == kChunkBytes)
            QueueChunk();
    }
}

RunningDigests ReceiveDigester::Finish() {
    if (m_threaded) {
        if (m_claimed)
            QueueChunk();
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_finishing = true;
        }
        m_queuedSignal.notify_all();
        for (std::thread& thread : m_threads)
            thread.join();
        m_threads.clear();
    }
    return std::move(m_digests);
}

void ReceiveDigester::RunLane(std::size_t lane) {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_queuedSignal.wait(lock,
                            [&] { return m_abandoned || m_done[lane] < m_queued || m_finishing; });
        if (m_abandoned || m_done[lane] == m_queued)
            return;
        const Chunk& chunk = m_chunks[m_done[lane] % kChunkCount];
        lock.unlock();
        if (lane == kMd5Lane)
            m_digests.FeedMd5(chunk.bytes.get(), chunk.length);
        else
            m_digests.FeedSha256(chunk.bytes.get(), chunk.length);
        lock.lock();
        ++m_done[lane];
        m_doneSignal.notify_all();
    }
}
