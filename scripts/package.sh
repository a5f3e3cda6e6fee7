#!/bin/sh
# Builds the Debian package of gpsfwload, gpsfwsim and gpsfwimg in build-pkg/ and checks
# it: its contents (the udev examples too), its version, its dependencies. Also configures
# and builds the loader alone with the test and simulator libraries out of reach, which it
# must not need.
#   scripts/package.sh            build and check
#   scripts/package.sh --install  also install the package with dpkg -i (as root) and try
#                                 the installed commands and manual page
set -eu
cd "$(dirname "$0")/.."

install=0
case "${1:-}" in
  --install) install=1 ;;
  "") ;;
  *) echo "usage: scripts/package.sh [--install]" >&2; exit 2 ;;
esac

scripts/install-deps.sh
# cpack's shared-library dependencies come from dpkg-shlibdeps (dpkg-dev) and file(1).
for p in dpkg-dev file; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    if [ "$(id -u)" -eq 0 ]; then SUDO=""; else SUDO="sudo"; fi
    $SUDO apt-get install -y -qq --no-install-recommends "$p"
  fi
done

launcher=""
command -v ccache >/dev/null && launcher="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"

echo "== The loader alone, without GoogleTest and nlohmann-json"
# With the two packages made unfindable, any find_package of them would fail.
cmake -S . -B build-loader -G Ninja -DCMAKE_BUILD_TYPE=Release $launcher --no-warn-unused-cli \
  -DGPSFW_TOOLS=OFF -DGPSFW_TESTS=OFF -DGPSFW_BENCH=OFF \
  -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_nlohmann_json=ON >/dev/null
cmake --build build-loader -j2 >/dev/null
test -x build-loader/bin/gpsfwload
test ! -e build-loader/bin/gpsfwsim

echo "== The package"
cmake -S . -B build-pkg -G Ninja -DCMAKE_BUILD_TYPE=Release $launcher \
  -DGPSFW_TESTS=OFF -DGPSFW_BENCH=OFF >/dev/null
cmake --build build-pkg -j2 >/dev/null
rm -f build-pkg/gpsfwload_*.deb
(cd build-pkg && cpack -G DEB >/dev/null)
deb=$(ls build-pkg/gpsfwload_*.deb)
version=$(sed -n 's/^project(gpsfwload VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

dpkg-deb -I "$deb"
dpkg-deb -c "$deb"

fail=0
contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for f in ./usr/bin/gpsfwload ./usr/bin/gpsfwsim ./usr/bin/gpsfwimg ./usr/bin/gpsfwstation \
         ./usr/share/man/man1/gpsfwload.1.gz ./usr/share/man/man1/gpsfwsim.1.gz \
         ./usr/share/man/man1/gpsfwimg.1.gz \
         ./usr/share/doc/gpsfwload/README.md ./usr/share/doc/gpsfwload/SFLD.txt \
         ./usr/share/doc/gpsfwload/copyright \
         ./usr/share/bash-completion/completions/gpsfwload \
         ./usr/share/bash-completion/completions/gpsfwsim \
         ./usr/share/bash-completion/completions/gpsfwimg \
         ./usr/share/bash-completion/completions/gpsfwstation \
         ./usr/share/gpsfwload/udev/60-gpsfwload-ftdi-latency.rules \
         ./usr/share/gpsfwload/udev/60-gpsfwload-dialout.rules \
         ./usr/share/gpsfwload/udev/70-gpsfwload-station-fixtures.rules \
         ./usr/lib/systemd/system/gpsfwstation@.service \
         ./usr/share/gpsfwstation/line.conf.example \
         ./usr/share/gpsfw-receiver/gpsfw-receiver-lib.sh \
         ./usr/share/mender/modules/v3/gpsfw-receiver \
         ./usr/share/mender/inventory/mender-inventory-gpsfw-receiver \
         ./usr/share/lua/5.3/swupdate_handlers.lua \
         ./usr/share/lua/5.3/gpsfw_handler.lua \
         ./usr/share/gpsfw-receiver/rauc/gpsfw-rauc-hook; do
  echo "$contents" | grep -qx "$f" || { echo "missing from the package: $f"; fail=1; }
done
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || { echo "version is not $version"; fail=1; }
depends=$(dpkg-deb -f "$deb" Depends)
# The station serves its dashboard with libmicrohttpd.
for lib in libc6 libstdc++6 libmicrohttpd12; do
  echo "$depends" | grep -q "$lib" || { echo "no dependency on $lib: $depends"; fail=1; }
done
[ $fail -eq 0 ] || { echo "== Package check FAILED"; exit 1; }
echo "== $deb: contents, version $version and dependencies ($depends) as they should be"

[ $install -eq 1 ] || exit 0
if [ "$(id -u)" -ne 0 ]; then
  echo "--install needs root" >&2
  exit 1
fi
echo "== Installing $deb"
dpkg -i "$deb"
gpsfwload --version
gpsfwimg --help >/dev/null
gpsfwsim --help >/dev/null
man -w gpsfwload gpsfwsim gpsfwimg
MANWIDTH=80 man gpsfwload | head -5
echo "== Installed: remove again with dpkg -r gpsfwload"
