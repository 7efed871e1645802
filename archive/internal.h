// Helpers shared by the archive's source files; not part of its interface.
#pragma once
#include "archive/archive.h"

// Latches a result: Failed = (failed) AND LatchMask. Returns ok.
inline int LatchResult(Archive& archive, int ok) {
  archive.latch.Failed = ok ? 0 : archive.latch.LatchMask;
  return ok;
}

// The name field (16 bytes, NUL-padded, maybe without a NUL) against a
// NUL-terminated name, ASCII case ignored; never reads past the field.
bool RecordNameIs(const uint8_t* record, const char* name);
// Writes name into the field: at most 16 bytes, padded with NUL bytes.
void SetRecordName(uint8_t* record, const char* name);
void SetRecordInt(uint8_t* record, int32_t at, int32_t value);

// A regular entry's stored bytes lie within the open source file.
bool EntryWithinSource(const Archive& archive, const uint8_t* record);
