// The record-file frame reader calls: the guard sequence, then the slot's
// reader under the slot's lock.
#include <mutex>

#include "api/library.h"

using tessaly::api::TheLibrary;
using tessaly::recfile::ReaderSlot;
using tessaly::recfile::RecordReader;

namespace {

// KOVA_ERR_NOT_INITIALISED, then KOVA_ERR_INVALID_ARGUMENT for a reader above
// 255 or bad arguments, then body(reader) under the slot's lock. No exception
// leaves.
template <typename Body>
int32_t GuardedReaderCall(uint32_t reader, bool argumentsOk, Body &&body) {
    auto &lib = TheLibrary();
    if (!lib.initialised.load(std::memory_order_acquire)) return KOVA_ERR_NOT_INITIALISED;
    if (reader >= lib.readers.size() || !argumentsOk) return KOVA_ERR_INVALID_ARGUMENT;
    try {
        ReaderSlot &slot = lib.readers[reader];
        std::lock_guard<std::mutex> lock(slot.lock);
        return body(slot.reader);
    } catch (...) {
        return KOVA_ERR_MISSING_OBJECT;
    }
}

}  // namespace

extern "C" {

KOVA_API int32_t KOVA_CALL KOVA_ReadFile_Open(uint32_t reader, const char *fileName, KOVA_RecordFileInfo *info) {
    return GuardedReaderCall(reader, fileName != nullptr && info != nullptr,
                             [&](RecordReader &slot) { return slot.Open(fileName, info); });
}

KOVA_API int32_t KOVA_CALL KOVA_ReadFile_GetNextFrame(uint32_t reader, KOVA_RecordFrame *frame) {
    return GuardedReaderCall(reader, frame != nullptr, [&](RecordReader &slot) { return slot.NextFrame(frame); });
}

KOVA_API int32_t KOVA_CALL KOVA_ReadFile_SetReadPos(uint32_t reader, uint32_t thousandths) {
    return GuardedReaderCall(reader, thousandths <= 1000,
                             [&](RecordReader &slot) { return slot.SetReadPos(thousandths); });
}

KOVA_API int32_t KOVA_CALL KOVA_ReadFile_Close(uint32_t reader) {
    return GuardedReaderCall(reader, true, [](RecordReader &slot) {
        slot.Close();
        return KOVA_OK;
    });
}

}  // extern "C"
