// Entry checks for the tool's verify: where an entry's bytes lie, whether its
// blocks are sound and what it expands to.
#include "archive/internal.h"

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
    // Expanded into no sink at all: only the count of bytes matters here.
    SetStreamEndpoints(archive.codec, nullptr, nullptr, 0);
    int ok = ExpandStream(archive.codec, archive.reader.source, InvalidFile, stored);
    check.expandedSize = StreamTotalWritten(archive.codec);
    if (!ok) {
      bool truncated = LastStreamFailure(archive.codec) == StreamFailure::Truncated;
      check.problem = truncated ? EntryProblem::Truncated : EntryProblem::BadBlock;
      if (!truncated && BadBlockOffset(archive.codec) >= 0) check.badBlockOffset = offset + BadBlockOffset(archive.codec);
      return check;
    }
  }
  if (check.expandedSize != original) check.problem = EntryProblem::SizeMismatch;
  return check;
}
