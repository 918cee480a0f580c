// An address range reserved once and made usable from its start as needed, so
// that what lives in it grows without ever moving. Reserved pages cost no
// memory; committed ones only once they are touched.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tessaly::platform {

class ReservedMemory {
public:
    ReservedMemory() = default;
    ~ReservedMemory();
    ReservedMemory(const ReservedMemory &) = delete;
    ReservedMemory &operator=(const ReservedMemory &) = delete;

    // Reserves bytes (rounded up to whole pages) of inaccessible address
    // space. Once only; false when it was already done or the system refuses.
    bool Reserve(size_t bytes);
    // Makes the first bytes (rounded up to whole pages) readable and
    // writable; never takes back. False when that is beyond the reservation
    // or the system refuses; what was committed before stays.
    bool Commit(size_t bytes);

    uint8_t *Data() const { return base_; }
    size_t Committed() const { return committed_; }

    static size_t PageSize();
    static size_t RoundUpToPage(size_t bytes);

private:
    uint8_t *base_ = nullptr;
    size_t reserved_ = 0;
    size_t committed_ = 0;
};

}  // namespace tessaly::platform
