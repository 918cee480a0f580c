// libtessaly.so is assembled from the subsystem libraries; this unit only
// anchors the shared library target until the player calls live here.
