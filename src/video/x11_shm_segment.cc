#include "video/x11_shm_segment.h"

#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <cstdlib>

namespace tessaly::video {

bool ShmSegment::ServerSupports(xcb_connection_t *connection) {
    const xcb_query_extension_reply_t *extension = xcb_get_extension_data(connection, &xcb_shm_id);
    return extension && extension->present;
}

bool ShmSegment::Reserve(xcb_connection_t *connection, size_t size) {
    if (data_ && connection == connection_ && size <= size_) return true;
    Release();
    if (!ServerSupports(connection)) return false;

    const int id = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
    if (id < 0) return false;
    void *address = shmat(id, nullptr, 0);
    if (address == reinterpret_cast<void *>(-1)) {
        shmctl(id, IPC_RMID, nullptr);
        return false;
    }
    const uint32_t serverId = xcb_generate_id(connection);
    xcb_generic_error_t *error =
        xcb_request_check(connection, xcb_shm_attach_checked(connection, serverId, static_cast<uint32_t>(id), 0));
    // Marked for removal at once: the kernel frees it when both sides have
    // detached, even if this process dies.
    shmctl(id, IPC_RMID, nullptr);
    if (error || xcb_connection_has_error(connection)) {
        std::free(error);
        shmdt(address);
        return false;
    }
    connection_ = connection;
    data_ = static_cast<uint8_t *>(address);
    size_ = size;
    serverId_ = serverId;
    return true;
}

void ShmSegment::Release() {
    if (!data_) return;
    if (!xcb_connection_has_error(connection_)) {
        // Checked, so that the server has let go before the memory goes.
        std::free(xcb_request_check(connection_, xcb_shm_detach_checked(connection_, serverId_)));
    }
    shmdt(data_);
    data_ = nullptr;
    size_ = 0;
    serverId_ = 0;
    connection_ = nullptr;
}

}  // namespace tessaly::video
