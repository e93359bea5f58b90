#pragma once
// Writes the blocks of a download to the local file. For a large file on a thread of its
// own, so the next answers are read from the connection while the disk takes the last ones:
// the thread reading them is the one a busy machine starves first. Blocks come from a small
// pool, which bounds the memory: Take() waits while every block is still being written.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace tavrin::sftp {

class TBlockWriter {
public:
    // Writes through `fd`, which must stay open until Finish() or the destructor.
    TBlockWriter(int fd, uint32_t blockSize, bool threaded);
    // Stops the thread; blocks not yet written are dropped (the download failed).
    ~TBlockWriter();
    TBlockWriter(const TBlockWriter&) = delete;
    TBlockWriter& operator=(const TBlockWriter&) = delete;

    // A free block of blockSize bytes; nullptr once a write failed (Error() tells why).
    char* Take();
    // Writes the first `length` bytes of a block from Take() at `offset`, then frees it; a
    // length of 0 only frees it.
    void Put(char* block, uint32_t length, uint64_t offset);
    // Waits until every block put is written; the first write's errno, 0 when all went.
    int Finish();
    int Error() const;

private:
    struct Job {
        char* block;
        uint32_t length;
        uint64_t offset;
    };
    void Run();
    // The write itself; false leaves the reason in errno.
    bool Write(const Job& job) const;

    const int fd_;
    std::vector<std::vector<char>> blocks_;
    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::vector<char*> free_;
    std::deque<Job> queued_;
    bool writing_ = false;
    bool quit_ = false;
    int error_ = 0;
    std::thread thread_;
};

} // namespace tavrin::sftp
