// Entry checks for the tool's verify: where an entry's bytes lie, whether its
// blocks are sound and what it expands to.
#include "archive/internal.h"

namespace {

// Expansion only counts here; its output goes to the null device.
#ifdef _WIN32
constexpr char NullDevice[] = "NUL";
#else
constexpr char NullDevice[] = "/dev/null";
#endif

}  // namespace

EntryCheck CheckEntry(Archive& archive, const uint8_t* record) {
  EntryCheck check{EntryProblem::None, -1, 0};
  if (RecordStorage(record) == StorageInline) {
    int32_t length = int8_t(record[EntryLeadByteAt]);
    if (length < 0 || length > InlineDataMax) check.problem = EntryProblem::BadInline;
    else check.expandedSize = length;
    return check;
  }
  int32_t offset = RecordInt(record, EntryDataOffsetAt);
  int32_t stored = RecordInt(record, EntryStoredSizeAt);
  int32_t original = RecordInt(record, EntryOriginalSizeAt);
  if (!EntryWithinSource(archive, record) || !FileSeek(archive.reader.source, offset)) {
    check.problem = EntryProblem::OutsideFile;
    return check;
  }
  if (RecordStorage(record) == StoragePlain) {
    check.expandedSize = stored;
  } else {
    FileHandle discard = FileCreate(NullDevice);
    SetStreamEndpoints(archive.codec, nullptr, nullptr, 0);
    int ok = ExpandStream(archive.codec, archive.reader.source, discard, stored);
    FileClose(discard);
    check.expandedSize = StreamTotalWritten(archive.codec);
    if (!ok) {
      StreamFailure failure = LastStreamFailure(archive.codec);
      check.problem = failure == StreamFailure::Truncated ? EntryProblem::Truncated : EntryProblem::BadBlock;
      if (BadBlockOffset(archive.codec) >= 0) check.badBlockOffset = offset + BadBlockOffset(archive.codec);
      return check;
    }
  }
  if (check.expandedSize != original) check.problem = EntryProblem::SizeMismatch;
  return check;
}
