#pragma once
// The byte streams transfers read from and write to. Writes are checked: a write that does
// not store every byte raises, so a transfer never reports success for a short file.
#include <cstddef>
#include <cstdint>
#include <string>

class TIdStream {
public:
    virtual ~TIdStream() = default;
    // Up to `size` bytes from the current position; 0 at the end.
    virtual size_t Read(char* buffer, size_t size) = 0;
    // All `size` bytes at the current position, or raises.
    virtual void Write(const char* data, size_t size) = 0;
    virtual int64_t Position() const = 0;
    virtual void SetPosition(int64_t position) = 0;
    virtual int64_t Size() const = 0;
};

class TIdStringStream : public TIdStream {
public:
    TIdStringStream() = default;
    explicit TIdStringStream(std::string data) : data_(std::move(data)) {}
    size_t Read(char* buffer, size_t size) override;
    void Write(const char* data, size_t size) override;
    int64_t Position() const override { return static_cast<int64_t>(position_); }
    void SetPosition(int64_t position) override;
    int64_t Size() const override { return static_cast<int64_t>(data_.size()); }
    const std::string& Data() const { return data_; }

private:
    std::string data_;
    size_t position_ = 0;
};

// A string stream that refuses to grow past a limit: a listing is held in memory whole, and a
// server that never stops sending one must not take all of it.
class TIdCappedStringStream : public TIdStringStream {
public:
    static constexpr size_t kListingCap = size_t{256} << 20; // 256 MiB

    explicit TIdCappedStringStream(size_t cap = kListingCap) : cap_(cap) {}
    // Raises EIdException "Directory listing exceeds 256 MiB." (the cap as given) once the
    // data would grow past the cap; what was stored before stays.
    void Write(const char* data, size_t size) override;

private:
    size_t cap_;
};

// A local file. Failures raise EIdFileError with the file name and the system's text.
class TIdFileStream : public TIdStream {
public:
    enum class Mode {
        Create,             // a new, empty file (an existing one is truncated)
        OpenOrCreateAppend, // read/write, positioned at its end
        OpenRead
    };
    TIdFileStream(const std::string& path, Mode mode);
    ~TIdFileStream() override; // closes quietly; call Close() to learn of a failure
    TIdFileStream(const TIdFileStream&) = delete;
    TIdFileStream& operator=(const TIdFileStream&) = delete;

    size_t Read(char* buffer, size_t size) override;
    void Write(const char* data, size_t size) override;
    int64_t Position() const override;
    void SetPosition(int64_t position) override;
    int64_t Size() const override;
    // Flushes and closes; raises when the system reports that data did not reach the file.
    void Close();

private:
    [[noreturn]] void Fail(const char* what, int error) const;
    std::string path_;
    int fd_ = -1;
};
