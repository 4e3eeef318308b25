// Puts the process-wide inventory record back to its initial bytes between tests.
#pragma once

void ResetInventoryRecord();
