#include "store_erase.h"

#include <cstring>
#include <vector>

#include "store.h"

namespace {

constexpr int kRecordsPerChunk = 256;

// Copies records first .. last (shifted by `renumber` in TextNum) from
// `index` to `scratch`, a chunk at a time.
bool copyRecords(std::FILE* index, std::FILE* scratch, int first, int last, int renumber) {
    std::vector<char> chunk(static_cast<std::size_t>(kRecordsPerChunk) * kRecordSize);
    for (int n = first; n <= last; n += kRecordsPerChunk) {
        int records = last - n + 1 < kRecordsPerChunk ? last - n + 1 : kRecordsPerChunk;
        std::size_t bytes = static_cast<std::size_t>(records) * kRecordSize;
        if (std::fseek(index, RecordOffset(n), SEEK_SET) != 0) return false;
        if (std::fread(chunk.data(), 1, bytes, index) != bytes) return false;
        for (int i = 0; renumber != 0 && i < records; ++i) {
            char* record = chunk.data() + static_cast<std::size_t>(i) * kRecordSize;
            putNumber(record, field::TextNum, fieldNumber(record, field::TextNum) + renumber);
        }
        if (std::fwrite(chunk.data(), 1, bytes, scratch) != bytes) return false;
    }
    return true;
}

bool writeScratch(std::FILE* index, const char* header, int count, int n, std::FILE* scratch, char* erased) {
    char newHeader[kHeaderSize];
    std::memcpy(newHeader, header, sizeof newHeader);
    putNumber(newHeader, field::TextCount, count - 1);
    if (std::fwrite(newHeader, 1, sizeof newHeader, scratch) != sizeof newHeader) return false;
    if (!copyRecords(index, scratch, 1, n - 1, 0)) return false;
    if (ReadRecord(index, n, erased) < 0) return false;
    if (!copyRecords(index, scratch, n + 1, count, -1)) return false;
    // Every write must have reached the file before the rename publishes
    // it. Like a post or an edit, the erase leaves syncing to the disk to
    // the file system: waiting for it cost more than the rest of the run.
    return std::fflush(scratch) == 0 && !std::ferror(scratch);
}

}  // namespace

EraseResult RemoveRecord(std::FILE* index, const char* header, int count, int n, const char* indexPath,
                         const char* scratchPath, char* erased) {
    std::FILE* scratch = std::fopen(scratchPath, "w+");
    if (!scratch) return EraseResult::ScratchFailed;
    bool written = writeScratch(index, header, count, n, scratch, erased);
    if (std::fclose(scratch) != 0) written = false;
    if (!written) {
        std::remove(scratchPath);
        return EraseResult::ScratchFailed;
    }
    if (std::rename(scratchPath, indexPath) != 0) {
        std::remove(scratchPath);
        return EraseResult::RenameFailed;
    }
    return EraseResult::Done;
}
