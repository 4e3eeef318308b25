#include "key/product_key.h"

#include <cstring>

#include "core/inventory_record.h"
#include "key/key_decoding.h"
#include "key/registry_key.h"

bool ReadPlainProductKey() {
    RegistryKey key(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion");
    if (!key.FindValue("ProductKey")) {
        return false;
    }
    // A shorter text brings its terminator along; the key then ends early.
    memcpy(KeyText, key.data, kKeyTextLength);
    return true;
}

bool ReadEncodedProductKey() {
    RegistryKey key(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows NT\\CurrentVersion");
    if (!key.FindValue("DigitalProductId")) {
        return false;
    }
    DecodeProductKey(key.data, KeyText);
    *SourceMarker = '*';
    return true;
}

void AcquireProductKey() {
    if (!ReadPlainProductKey()) {
        ReadEncodedProductKey();
    }
}
