#!/usr/bin/python3
"""A test RTSP camera: serves an H.264 elementary stream in a loop at
rtsp://127.0.0.1:PORT/cam, paced at 25 fps, until killed.

    rtsp_server.py PORT FILE.264

Runs on the system Python, which has the GStreamer bindings (python3-gi).
"""
import sys

import gi

gi.require_version('Gst', '1.0')
gi.require_version('GstRtspServer', '1.0')
from gi.repository import GLib, Gst, GstRtspServer  # noqa: E402

port, path = sys.argv[1], sys.argv[2]
Gst.init(None)
server = GstRtspServer.RTSPServer()
server.set_address('127.0.0.1')
server.set_service(port)
factory = GstRtspServer.RTSPMediaFactory()
# The stream carries no timestamps: the caps' frame rate gives them; every
# client shares one endless media, as with a camera.
factory.set_launch('( multifilesrc location="%s" loop=true caps=video/x-h264,stream-format=byte-stream,framerate=25/1'
                   ' ! h264parse ! rtph264pay name=pay0 pt=96 config-interval=-1 )' % path)
factory.set_shared(True)
server.get_mount_points().add_factory('/cam', factory)
if server.attach(None) == 0:
    sys.exit('cannot listen on port %s' % port)
print('serving rtsp://127.0.0.1:%s/cam' % port, flush=True)
GLib.MainLoop().run()
