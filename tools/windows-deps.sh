#!/usr/bin/env bash
# Builds the libraries the Windows build needs and Debian ships no mingw build
# of (libsndfile, libsamplerate, PortAudio) from their Debian source packages,
# with the mingw compiler of the given toolchain file, into PREFIX. The apt
# configuration that fetches the sources lives in the build folder, so the
# machine's own apt setup is left as it is. A library already installed in
# PREFIX is not built again.
#   tools/windows-deps.sh TOOLCHAIN_FILE DEPS_DIR PREFIX [JOBS]
set -euo pipefail
toolchain=$1
deps=$(mkdir -p "$2" && cd "$2" && pwd)
prefix=$(mkdir -p "$3" && cd "$3" && pwd)
jobs=${4:-2}

apt_dir=$deps/apt
conf=$apt_dir/apt.conf
if [ ! -f "$conf" ]; then
  mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/sources.list.d"
  echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm main" \
    >"$apt_dir/sources.list"
  cat >"$conf" <<CONF
Dir::Etc::SourceList "$apt_dir/sources.list";
Dir::Etc::SourceParts "$apt_dir/sources.list.d";
Dir::State::Lists "$apt_dir/lists";
Dir::Cache "$apt_dir/cache";
APT::Sandbox::User "root";
CONF
fi
export APT_CONFIG=$conf
if [ -z "$(ls "$apt_dir/lists" | grep -i sources || true)" ]; then
  apt-get update -qq
fi

# fetch PACKAGE: unpacks the Debian source package once, prints its folder.
fetch() {
  local package=$1
  mkdir -p "$deps/src/$package"
  local dir
  dir=$(find "$deps/src/$package" -mindepth 1 -maxdepth 1 -type d | head -n 1)
  if [ -z "$dir" ]; then
    (cd "$deps/src/$package" && apt-get source -qq "$package" >/dev/null 2>&1)
    dir=$(find "$deps/src/$package" -mindepth 1 -maxdepth 1 -type d | head -n 1)
  fi
  echo "$dir"
}

cmake_dep() {
  local source=$1 build=$2
  shift 2
  mkdir -p "$(dirname "$build")"
  cmake -S "$source" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF -DBUILD_TESTING=OFF "$@" >"$build.log" 2>&1 ||
    { cat "$build.log"; exit 1; }
  cmake --build "$build" -j"$jobs" --target install >>"$build.log" 2>&1 || { tail -n 40 "$build.log"; exit 1; }
}

if [ ! -f "$prefix/lib/libsndfile.a" ]; then
  src=$(fetch libsndfile)
  cmake_dep "$src" "$deps/build/libsndfile" -DENABLE_EXTERNAL_LIBS=OFF -DENABLE_MPEG=OFF -DBUILD_PROGRAMS=OFF \
    -DBUILD_EXAMPLES=OFF -DENABLE_CPACK=OFF -DENABLE_PACKAGE_CONFIG=ON -DINSTALL_PKGCONFIG_MODULE=ON
fi
if [ ! -f "$prefix/lib/libsamplerate.a" ]; then
  src=$(fetch libsamplerate)
  cmake_dep "$src" "$deps/build/libsamplerate" -DLIBSAMPLERATE_EXAMPLES=OFF -DLIBSAMPLERATE_INSTALL=ON
fi
if [ ! -f "$prefix/lib/libportaudio.a" ]; then
  src=$(fetch portaudio19)
  cmake_dep "$src" "$deps/build/portaudio" -DPA_USE_WMME=ON -DPA_USE_WASAPI=ON -DPA_USE_DS=OFF -DPA_USE_WDMKS=OFF \
    -DPA_USE_WDMKS_DEVICE_INFO=OFF -DPA_USE_ASIO=OFF
  # Its install step takes the DLL only; the programs link the static library.
  cp "$deps/build/portaudio/libportaudio_static.a" "$prefix/lib/libportaudio.a"
fi
