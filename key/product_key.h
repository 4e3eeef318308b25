// Reads the installed Windows product key from the registry into the inventory record.
#pragma once

// Copies the first 29 bytes of the plain "ProductKey" value into the key field.
bool ReadPlainProductKey();

// Decodes "DigitalProductId" into the key field and marks the key as decoded with "*".
bool ReadEncodedProductKey();

// The plain value when it exists, else the decoded one; else the placeholder stays.
void AcquireProductKey();
