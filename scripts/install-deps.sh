#!/usr/bin/env bash
# Installs the Debian packages the project needs, and only those that are missing,
# so a machine that already has everything makes no network call.
set -euo pipefail

packages=(
  g++ cmake ninja-build make pkgconf
  libopencv-core-dev libopencv-imgproc-dev libopencv-features2d-dev
  libopencv-calib3d-dev libopencv-imgcodecs-dev libopencv-videoio-dev
  libopencv-highgui-dev
  zlib1g-dev
  libgtest-dev libbenchmark-dev nlohmann-json3-dev libcli11-dev
  # benchmark only: the QR reader the side-by-side benchmark compares with
  libzxing-dev
  librsvg2-bin xvfb xauth xdotool
  # fuzz targets: compiler, libFuzzer and sanitizer runtimes, stack symbolizer
  clang libclang-rt-14-dev llvm
  # the Python module (built with pybind11 for Debian's python3), its tests
  # and the Dask recipe
  pybind11-dev python3-dev python3-pytest python3-numpy python3-pil
  python3-dask python3-distributed python3-venv python3-pip python3-setuptools
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing missing packages: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
