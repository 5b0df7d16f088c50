#!/usr/bin/env bash
# Installs the Debian packages this project needs that are not there yet.
# As root it runs apt-get; otherwise it prints the apt-get line to run.
#   tools/install-deps.sh          everything: tests, benchmarks, cross builds
#   tools/install-deps.sh demo     only what `make demo` needs: the compiler,
#                                  CMake, Octave and its image package
set -euo pipefail

demo_packages=(
  cmake make g++
  octave liboctave-dev octave-image             # the host, and medfilt2 to compare with
)
packages=(
  "${demo_packages[@]}" pkg-config
  googletest libgtest-dev libbenchmark-dev      # C++ tests and benchmarks
  octave-parallel                               # parcellfun, for the batch example
  unzip                                         # unpacking the download bundle in its test
  libopencv-dev                                 # the benchmark's peer
  gnuplot-nox                                   # the benchmark's plot
  clang libclang-rt-14-dev                      # fuzzing
  clang-format                                  # the layout check
  g++-mingw-w64-x86-64-posix mingw-w64-tools    # the Windows MATLAB module (.mexw64)
  wine64                                        # and its load test
  g++-aarch64-linux-gnu qemu-user-static        # the C++ tests built for AArch64, run emulated
)
if [ "${1:-}" = demo ]; then
  packages=("${demo_packages[@]}")
  shift
fi
packages+=("$@")

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

line="apt-get install -y --no-install-recommends ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages. Run as root:" >&2
  echo "  apt-get update && $line" >&2
  exit 1
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
