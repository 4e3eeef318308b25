// Writes the lines that log mode's own code gives for chosen record states, one file per state,
// for the tests of the admin's reader: the key comes from the registry through the program's
// lookup, and only the collectors named run (one that fails leaves its field as it was, as one
// that does not run does). The registry is left as a new Wine prefix has it.
// Usage: line_writer.exe FOLDER STATE...  writes FOLDER\1.txt, FOLDER\2.txt, ...
//   STATE is COLLECTORS:KEY. COLLECTORS holds M, I, U, C for the MAC, IP, user and computer
//   collectors; KEY is a plain "ProductKey" text, "*" and 30 hex digits for a "DigitalProductId"
//   whose key bytes (52 to 66) they give, or "-" for neither value.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/inventory_record.h"
#include "inventory/identity_collectors.h"
#include "inventory/log_line.h"
#include "key/product_key.h"
#include "tests/windows/record_reset.h"
#include "tests/windows/registry_helpers.h"

namespace {

constexpr char kPlainPath[] = "Software\\Microsoft\\Windows\\CurrentVersion";
constexpr char kEncodedPath[] = "Software\\Microsoft\\Windows NT\\CurrentVersion";
constexpr RegistryView kViews[] = {RegistryView::Native64, RegistryView::Redirected32};

void StoreKey(const char* key) {
    for (RegistryView view : kViews) {
        DeleteRegistryValue(view, kPlainPath, "ProductKey");
        DeleteRegistryValue(view, kEncodedPath, "DigitalProductId");
    }
    if (key[0] == '*') {
        std::vector<unsigned char> productId(164);
        for (size_t i = 0; i < 15; ++i) {
            productId[52 + i] =
                static_cast<unsigned char>(std::stoi(std::string(key + 1 + 2 * i, 2), nullptr, 16));
        }
        SetRegistryBinary(RegistryView::Native64, kEncodedPath, "DigitalProductId", productId);
    } else if (strcmp(key, "-") != 0) {
        SetRegistryText(RegistryView::Native64, kPlainPath, "ProductKey", key);
    }
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 2; i < argc; ++i) {
        const std::string collectors(argv[i], strchr(argv[i], ':'));
        ResetInventoryRecord();
        StoreKey(argv[i] + collectors.size() + 1);
        AcquireProductKey();
        // As log mode completes the record, with the collectors named.
        JoinKeyToRecord(InventoryRecord);
        bool (*const steps[])() = {CollectMacAddress, CollectIpAddress, CollectUserName,
                                   CollectComputerName};
        for (int step = 0; step < 4; ++step) {
            if (collectors.find("MIUC"[step]) != std::string::npos) {
                steps[step]();
            }
        }
        char line[kAppendedLineSize];
        const std::string path = std::string(argv[1]) + "\\" + std::to_string(i - 1) + ".txt";
        FILE* file = fopen(path.c_str(), "wb");
        if (file == nullptr ||
            fwrite(line, 1, FormatAppendedLine(InventoryRecord, false, line), file) == 0) {
            perror(path.c_str());
            return 1;
        }
        fclose(file);
    }
    StoreKey("-");
    for (RegistryView view : kViews) {
        SetRegistryBinary(view, kEncodedPath, "DigitalProductId", std::vector<unsigned char>(164));
    }
    return 0;
}
