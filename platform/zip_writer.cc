// The ZIP writer: local headers with a data descriptor after each file's bytes, so that nothing
// is read twice and nothing waits for a file's end before its first byte goes out; the central
// directory at the end from what was kept of each entry (its name, offset, size and CRC).
#include "platform/zip_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/unique_fd.h"

namespace platform {
namespace {

constexpr size_t kBufferSize = 64 * 1024;
// Files from this size on go to the file sink, when there is one: below it a file costs more
// calls than copies.
constexpr uint64_t kFileSinkThreshold = 64 * 1024;
constexpr size_t kFilePieceSize = 512 * 1024;
constexpr uint32_t kLocalHeader = 0x04034b50;
constexpr uint32_t kDataDescriptor = 0x08074b50;
constexpr uint32_t kCentralRecord = 0x02014b50;
constexpr uint32_t kZip64End = 0x06064b50;
constexpr uint32_t kZip64Locator = 0x07064b50;
constexpr uint32_t kEnd = 0x06054b50;
constexpr uint16_t kZip64Field = 0x0001;
// General purpose bits: sizes and CRC in a data descriptor; the name is UTF-8.
constexpr uint16_t kFlagDescriptor = 0x0008;
constexpr uint16_t kFlagUtf8 = 0x0800;
// Versions "needed to extract": 2.0 for folders and data descriptors, 4.5 for ZIP64.
constexpr uint16_t kVersionPlain = 20;
constexpr uint16_t kVersionZip64 = 45;
// "Made by" a Unix system, so that readers take the mode from the external attributes.
constexpr uint16_t kMadeByUnix = 3 << 8;
constexpr uint32_t kFileAttributes = 0100644u << 16;
constexpr uint32_t kDirectoryAttributes = (040755u << 16) | 0x10;  // 0x10: MS-DOS folder bit
constexpr uint32_t kMax32 = 0xFFFFFFFF;
constexpr uint16_t kMax16 = 0xFFFF;

void Put16(std::string& out, uint16_t value) {
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>(value >> 8));
}
void Put32(std::string& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>(value >> shift));
}
void Put64(std::string& out, uint64_t value) {
    for (int shift = 0; shift < 64; shift += 8) out.push_back(static_cast<char>(value >> shift));
}
uint32_t Clamp32(uint64_t value, bool zip64) {
    return zip64 || value >= kMax32 ? kMax32 : static_cast<uint32_t>(value);
}

// True when `name` is well-formed UTF-8: only then does the entry claim it is.
bool IsUtf8(std::string_view name) {
    for (size_t i = 0; i < name.size();) {
        const auto lead = static_cast<unsigned char>(name[i]);
        size_t length = 1;
        uint32_t point = lead;
        if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            point = lead & 0x07;
        } else if (lead >= 0xE0) {
            length = 3;
            point = lead & 0x0F;
        } else if (lead >= 0xC2) {
            length = 2;
            point = lead & 0x1F;
        } else if (lead >= 0x80) {
            return false;
        }
        if (i + length > name.size()) return false;
        for (size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(name[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            point = (point << 6) | (next & 0x3F);
        }
        if ((length == 3 && (point < 0x800 || (point >= 0xD800 && point <= 0xDFFF))) ||
            (length == 4 && (point < 0x10000 || point > 0x10FFFF))) {
            return false;
        }
        i += length;
    }
    return true;
}

uint16_t NameFlags(std::string_view name) { return IsUtf8(name) ? kFlagUtf8 : 0; }

}  // namespace

uint32_t DosDateTime(std::time_t when) {
    std::tm local{};
    if (localtime_r(&when, &local) == nullptr || local.tm_year < 80) {
        return (1u << 5 | 1u) << 16;  // 1980-01-01 00:00:00
    }
    if (local.tm_year > 207) {  // 2107, the last year the format holds
        local.tm_year = 207;
        local.tm_mon = 11;
        local.tm_mday = 31;
        local.tm_hour = 23;
        local.tm_min = 59;
        local.tm_sec = 59;
    }
    const auto date =
        static_cast<uint32_t>((local.tm_year - 80) << 9 | (local.tm_mon + 1) << 5 | local.tm_mday);
    const auto time =
        static_cast<uint32_t>(local.tm_hour << 11 | local.tm_min << 5 | local.tm_sec / 2);
    return date << 16 | time;
}

ZipWriter::ZipWriter(Sink sink, Options options)
    : sink_(std::move(sink)), options_(options), buffer_(new char[kBufferSize]) {}

ZipWriter::~ZipWriter() = default;

void ZipWriter::Flush() {
    if (used_ > 0 && ok_) ok_ = sink_(std::string_view(buffer_.get(), used_));
    used_ = 0;
}

void ZipWriter::Put(std::string_view bytes) {
    offset_ += bytes.size();
    while (!bytes.empty() && ok_) {
        if (used_ == kBufferSize) Flush();
        const size_t piece = std::min(bytes.size(), kBufferSize - used_);
        std::memcpy(buffer_.get() + used_, bytes.data(), piece);
        used_ += piece;
        bytes.remove_prefix(piece);
    }
}

void ZipWriter::WriteLocalHeader(const Entry& entry) {
    std::string header;
    header.reserve(30 + entry.name.size() + 20);
    Put32(header, kLocalHeader);
    Put16(header, entry.zip64 ? kVersionZip64 : kVersionPlain);
    Put16(header, NameFlags(entry.name) | (entry.directory ? 0 : kFlagDescriptor));
    Put16(header, 0);  // stored
    Put16(header, static_cast<uint16_t>(entry.dosTime & 0xFFFF));
    Put16(header, static_cast<uint16_t>(entry.dosTime >> 16));
    // A file's CRC and sizes follow its data; a folder's are zero and known now.
    Put32(header, 0);
    Put32(header, entry.zip64 ? kMax32 : 0);
    Put32(header, entry.zip64 ? kMax32 : 0);
    Put16(header, static_cast<uint16_t>(entry.name.size()));
    Put16(header, entry.zip64 ? 20 : 0);
    header.append(entry.name);
    if (entry.zip64) {
        Put16(header, kZip64Field);
        Put16(header, 16);
        Put64(header, 0);
        Put64(header, 0);
    }
    Put(header);
}

bool ZipWriter::AddDirectory(std::string_view name, std::time_t modified) {
    if (!ok_ || finished_ || name.size() + 1 > kMax16) return ok_;
    Entry entry;
    entry.name.assign(name).push_back('/');
    entry.offset = offset_;
    entry.dosTime = DosDateTime(modified);
    entry.directory = true;
    entry.zip64 = options_.forceZip64;
    WriteLocalHeader(entry);
    entries_.push_back(std::move(entry));
    return ok_;
}

bool ZipWriter::AddFile(std::string_view name, int fd, uint64_t size, std::time_t modified) {
    if (!ok_ || finished_ || name.empty() || name.size() > kMax16) return ok_;
    Entry entry;
    entry.name.assign(name);
    entry.offset = offset_;
    entry.dosTime = DosDateTime(modified);
    // Decided before the data: the local header must say whether the descriptor's sizes are
    // eight bytes wide.
    entry.zip64 = options_.forceZip64 || size >= kMax32;
    WriteLocalHeader(entry);

    if (fileSink_ && size >= kFileSinkThreshold) {
        SendFileData(fd, size, entry);
    } else {
        ReadFileData(fd, size, entry);
    }

    std::string descriptor;
    Put32(descriptor, kDataDescriptor);
    Put32(descriptor, entry.crc);
    if (entry.zip64) {
        Put64(descriptor, entry.size);
        Put64(descriptor, entry.size);
    } else {
        Put32(descriptor, static_cast<uint32_t>(entry.size));
        Put32(descriptor, static_cast<uint32_t>(entry.size));
    }
    Put(descriptor);
    entries_.push_back(std::move(entry));
    return ok_;
}

void ZipWriter::ReadFileData(int fd, uint64_t size, Entry& entry) {
    uint64_t remaining = size;
    uint32_t crc = 0;
    while (remaining > 0 && ok_) {
        if (used_ == kBufferSize) Flush();
        const size_t room = static_cast<size_t>(std::min<uint64_t>(kBufferSize - used_, remaining));
        const ssize_t got = ::read(fd, buffer_.get() + used_, room);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        const auto count = static_cast<size_t>(got);
        crc = Crc32(std::string_view(buffer_.get() + used_, count), crc);
        used_ += count;
        offset_ += count;
        entry.size += count;
        remaining -= count;
    }
    entry.crc = crc;
}

void ZipWriter::SendFileData(int fd, uint64_t size, Entry& entry) {
    const off_t start = ::lseek(fd, 0, SEEK_CUR);
    if (start < 0) {
        ReadFileData(fd, size, entry);
        return;
    }
    Flush();
    // Larger pieces than the buffer's: each costs a few calls, whatever its size.
    if (!pieceBuffer_) pieceBuffer_.reset(new char[kFilePieceSize]);
    auto at = static_cast<uint64_t>(start);
    uint64_t remaining = size;
    uint32_t crc = 0;
    while (remaining > 0 && ok_) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(kFilePieceSize, remaining));
        const ssize_t got = ::pread(fd, pieceBuffer_.get(), want, static_cast<off_t>(at));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        const auto count = static_cast<uint64_t>(got);
        crc = Crc32(std::string_view(pieceBuffer_.get(), static_cast<size_t>(count)), crc);
        ok_ = fileSink_(fd, at, count);
        at += count;
        offset_ += count;
        entry.size += count;
        remaining -= count;
    }
    entry.crc = crc;
}

bool ZipWriter::AddFileAt(std::string_view name, const std::string& path) {
    // Not blocking on open: a FIFO put in the tree must not hold the walk.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat info {};
    if (!fd || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return ok_;
    return AddFile(name, fd.get(), static_cast<uint64_t>(info.st_size), info.st_mtime);
}

void ZipWriter::WriteCentralRecord(const Entry& entry) {
    const bool bigSizes = entry.zip64 || entry.size >= kMax32;
    const bool bigOffset = options_.forceZip64 || entry.offset >= kMax32;
    const auto extra = static_cast<uint16_t>(
        (bigSizes || bigOffset) ? 4 + (bigSizes ? 16 : 0) + (bigOffset ? 8 : 0) : 0);
    const uint16_t version = extra > 0 ? kVersionZip64 : kVersionPlain;
    std::string record;
    record.reserve(46 + entry.name.size() + extra);
    Put32(record, kCentralRecord);
    Put16(record, kMadeByUnix | version);
    Put16(record, version);
    Put16(record, NameFlags(entry.name) | (entry.directory ? 0 : kFlagDescriptor));
    Put16(record, 0);
    Put16(record, static_cast<uint16_t>(entry.dosTime & 0xFFFF));
    Put16(record, static_cast<uint16_t>(entry.dosTime >> 16));
    Put32(record, entry.crc);
    Put32(record, Clamp32(entry.size, bigSizes));
    Put32(record, Clamp32(entry.size, bigSizes));
    Put16(record, static_cast<uint16_t>(entry.name.size()));
    Put16(record, extra);
    Put16(record, 0);  // comment
    Put16(record, 0);  // disk
    Put16(record, 0);  // internal attributes
    Put32(record, entry.directory ? kDirectoryAttributes : kFileAttributes);
    Put32(record, Clamp32(entry.offset, bigOffset));
    record.append(entry.name);
    if (extra > 0) {
        // Only the fields whose classic slot says 0xFFFFFFFF, in this order.
        Put16(record, kZip64Field);
        Put16(record, static_cast<uint16_t>(extra - 4));
        if (bigSizes) {
            Put64(record, entry.size);
            Put64(record, entry.size);
        }
        if (bigOffset) Put64(record, entry.offset);
    }
    Put(record);
}

bool ZipWriter::Finish() {
    if (finished_) return ok_;
    finished_ = true;
    const uint64_t directoryStart = offset_;
    for (const Entry& entry : entries_) WriteCentralRecord(entry);
    const uint64_t directorySize = offset_ - directoryStart;
    const uint64_t count = entries_.size();
    const bool zip64 = options_.forceZip64 || count >= kMax16 || directorySize >= kMax32 ||
                       directoryStart >= kMax32;
    std::string end;
    if (zip64) {
        const uint64_t recordStart = offset_;
        Put32(end, kZip64End);
        Put64(end, 44);  // the record's size after this field
        Put16(end, kMadeByUnix | kVersionZip64);
        Put16(end, kVersionZip64);
        Put32(end, 0);
        Put32(end, 0);
        Put64(end, count);
        Put64(end, count);
        Put64(end, directorySize);
        Put64(end, directoryStart);
        Put32(end, kZip64Locator);
        Put32(end, 0);
        Put64(end, recordStart);
        Put32(end, 1);
    }
    const uint16_t count16 = zip64 || count >= kMax16 ? kMax16 : static_cast<uint16_t>(count);
    Put32(end, kEnd);
    Put16(end, 0);
    Put16(end, 0);
    Put16(end, count16);
    Put16(end, count16);
    Put32(end, Clamp32(directorySize, zip64));
    Put32(end, Clamp32(directoryStart, zip64));
    Put16(end, 0);
    Put(end);
    Flush();
    entries_.clear();
    entries_.shrink_to_fit();
    return ok_;
}

}  // namespace platform
