#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the tools need;
# installs nothing when all are present. Runs apt-get through sudo when not root.
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ pkg-config binutils
  # X11 display (XCB) and a virtual X server for the tests
  libxcb1-dev libxcb-shm0-dev xvfb xauth
  # sound out and voice in
  libsdl2-dev
  # display scaling and colour conversion
  libswscale-dev
  # tessaly-play's window tests: key presses and window geometry on the test X server
  xdotool bc
  # tests and benchmarks
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libgtk-3-dev  # examples/gtk_wall.c, built by the examples test
  # fuzzing (libFuzzer comes with clang's runtime); the layout check
  clang libclang-rt-14-dev clang-format
  # FFmpeg: comparison benchmarks, test oracles
  libavcodec-dev libavutil-dev ffmpeg
  # tessaly-rec export (MP4, Matroska); the bundled record file's speech
  libavformat-dev espeak-ng
  # tessaly-play's network test: an RTSP camera (GStreamer's RTSP server, from the system Python)
  python3-gi gir1.2-gst-rtsp-server-1.0 gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
  # packaging: cpack -G DEB finds dependencies with dpkg-shlibdeps and ELF files with file;
  # the packaging test checks the man pages with groff
  dpkg-dev file groff-base
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
