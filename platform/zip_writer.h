// A ZIP archive written as it is read: stored entries (no compression), each file's CRC-32
// computed while its bytes pass, the sizes and CRC in a data descriptor after the data, and
// the ZIP64 records where an entry, an offset or the number of entries outgrows the classic
// fields. The bytes go to a sink in pieces of a fixed buffer, never a whole file at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/crc32.h"

namespace platform {

// The DOS date (high 16 bits) and time (low 16 bits) of `when` in local time; times before
// 1980 give 1980-01-01 00:00, the earliest the format holds.
uint32_t DosDateTime(std::time_t when);

class ZipWriter {
  public:
    // Takes the next piece of the archive; false stops the writing (the client went away).
    using Sink = std::function<bool(std::string_view piece)>;
    struct Options {
        // Writes the ZIP64 fields and records for every entry and the archive, whatever their
        // sizes: for tests, which cannot afford 4 GiB.
        bool forceZip64 = false;
    };

    // Sends `count` bytes of the open file `fd` from `offset` unchanged, after every piece the
    // sink took; false stops the writing.
    using FileSink = std::function<bool(int fd, uint64_t offset, uint64_t count)>;

    explicit ZipWriter(Sink sink) : ZipWriter(std::move(sink), Options{}) {}
    ZipWriter(Sink sink, Options options);
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;
    ~ZipWriter();

    // A folder entry; `name` without the trailing "/", which is added.
    bool AddDirectory(std::string_view name, std::time_t modified);
    // A file entry whose bytes are read from `fd` (from its current position) up to `size`
    // bytes: a file that ends sooner (it shrank, or reading failed) is stored as far as it was
    // read, one that grew is cut at `size`. The descriptor stays the caller's.
    bool AddFile(std::string_view name, int fd, uint64_t size, std::time_t modified);
    // A file entry read from the regular file at `path` (links followed), with its size and
    // time as it has them now. A path that is no regular file, or cannot be opened, adds
    // nothing (and is no failure).
    bool AddFileAt(std::string_view name, const std::string& path);
    // From now on the data of large files goes to `fileSink` rather than through the buffer
    // (the system can send a file's pages without copying them); each piece is read for its
    // CRC just before it is sent.
    void SendFilesBy(FileSink fileSink) { fileSink_ = std::move(fileSink); }
    // Writes the central directory and the end records and hands the rest to the sink.
    bool Finish();

    // Bytes of the archive produced so far (handed to the sink or still buffered).
    uint64_t Offset() const { return offset_; }
    // False once the sink refused a piece.
    bool ok() const { return ok_; }

  private:
    struct Entry {
        std::string name;
        uint64_t offset = 0;  // of the local header
        uint64_t size = 0;
        uint32_t crc = 0;
        uint32_t dosTime = 0;
        bool directory = false;
        bool zip64 = false;  // the local header carries the ZIP64 field
    };

    void Put(std::string_view bytes);
    void Flush();
    void WriteLocalHeader(const Entry& entry);
    void WriteCentralRecord(const Entry& entry);

    // Take up to `size` bytes of an entry's data from `fd` (from its position), with their
    // CRC: through the buffer, or sent through the file sink.
    void ReadFileData(int fd, uint64_t size, Entry& entry);
    void SendFileData(int fd, uint64_t size, Entry& entry);

    Sink sink_;
    FileSink fileSink_;
    Options options_;
    std::unique_ptr<char[]> buffer_;
    // What SendFileData reads a piece into, made when first needed.
    std::unique_ptr<char[]> pieceBuffer_;
    size_t used_ = 0;
    uint64_t offset_ = 0;
    bool ok_ = true;
    bool finished_ = false;
    std::vector<Entry> entries_;
};

}  // namespace platform
