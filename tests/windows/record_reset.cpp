#include "record_reset.h"

#include <cstring>
#include <string>

#include "core/inventory_record.h"

namespace {
// The record is constant-initialised, so this copy sees its initial bytes.
const std::string kInitialRecord(InventoryRecord, sizeof InventoryRecord);
}  // namespace

void ResetInventoryRecord() {
    memcpy(InventoryRecord, kInitialRecord.data(), sizeof InventoryRecord);
    LogPath[0] = '\0';
}
