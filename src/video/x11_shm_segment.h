// A System V shared-memory segment that the X server has attached too, so
// that an image put copies nothing through the socket.
#pragma once

#include <cstddef>
#include <cstdint>

struct xcb_connection_t;

namespace tessaly::video {

class ShmSegment {
public:
    ShmSegment() = default;
    ~ShmSegment() { Release(); }
    ShmSegment(const ShmSegment &) = delete;
    ShmSegment &operator=(const ShmSegment &) = delete;

    // True when the server offers MIT-SHM on this connection.
    static bool ServerSupports(xcb_connection_t *connection);

    // Makes room for at least `size` bytes, keeping the current segment when
    // it is large enough. False when the segment could not be made or the
    // server refused to attach it (a remote server, for one); nothing is held then.
    bool Reserve(xcb_connection_t *connection, size_t size);
    void Release();

    uint8_t *Data() const { return data_; }
    uint32_t ServerId() const { return serverId_; }

private:
    xcb_connection_t *connection_ = nullptr;
    uint8_t *data_ = nullptr;
    size_t size_ = 0;
    uint32_t serverId_ = 0;  // 0: not attached on the server
};

}  // namespace tessaly::video
