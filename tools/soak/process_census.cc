#include "process_census.h"

#include <dirent.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace tessaly::soak {
namespace {

template <typename Visit>
void ForEachEntry(const char *directory, Visit visit) {
    DIR *dir = opendir(directory);
    if (!dir) return;
    while (const dirent *entry = readdir(dir)) {
        if (entry->d_name[0] != '.') visit(entry->d_name);
    }
    closedir(dir);
}

// A client socket has no name of its own; its peer, the server's listening
// socket, has (/tmp/.X11-unix/Xn, often in the abstract namespace).
bool IsXConnection(int fd) {
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISSOCK(info.st_mode)) return false;
    sockaddr_un peer{};
    socklen_t length = sizeof peer;
    if (getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &length) != 0 || peer.sun_family != AF_UNIX) return false;
    const size_t pathBytes = length > offsetof(sockaddr_un, sun_path) ? length - offsetof(sockaddr_un, sun_path) : 0;
    const std::string_view path(peer.sun_path, pathBytes);
    return path.find(".X11-unix/X") != std::string_view::npos;
}

}  // namespace

ProcessCensus ProcessCensus::Take(bool lookAtSockets) {
    ProcessCensus census;
    if (lookAtSockets) census.xConnections = 0;
    ForEachEntry("/proc/self/task", [&](const char *) { ++census.threads; });
    // The directory stream's own descriptor is counted too; it is the same at every census.
    ForEachEntry("/proc/self/fd", [&](const char *name) {
        ++census.descriptors;
        if (lookAtSockets && IsXConnection(std::atoi(name))) ++census.xConnections;
    });
    if (std::FILE *statm = std::fopen("/proc/self/statm", "r")) {
        unsigned long long pages = 0, resident = 0;
        if (std::fscanf(statm, "%llu %llu", &pages, &resident) == 2)
            census.residentBytes = resident * uint64_t(sysconf(_SC_PAGESIZE));
        std::fclose(statm);
    }
    return census;
}

std::string ProcessCensus::ToString() const {
    char text[160];
    char connections[32] = "";
    if (xConnections >= 0) std::snprintf(connections, sizeof connections, ", %d X connections", xConnections);
    std::snprintf(text, sizeof text, "%d threads, %d descriptors%s, %.1f MiB resident", threads, descriptors,
                  connections, double(residentBytes) / (1 << 20));
    return text;
}

}  // namespace tessaly::soak
