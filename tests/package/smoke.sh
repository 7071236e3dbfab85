#!/usr/bin/env bash
# Tries the release packages as a user gets them: each is unpacked into an empty folder
# and used from there, with nothing from the build tree.
#   tests/package/smoke.sh [DIST]        (default: dist/)
# The Linux tarball runs without LD_LIBRARY_PATH; the Windows zips run in fresh wine
# prefixes (32-bit and 64-bit); a C file that includes only the installed header is built
# against the installed driver; the .deb's file list is checked. The Python package is imported
# and used from the unpacked tarball (and pip-installed from it, offline) and from the .deb's
# files; ZELK_SMOKE_INSTALL_DEB=1 (as root, on a machine of its own) also installs the .deb with
# dpkg -i, uses the package with the system's python3, and removes it again.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
dist=$(readlink -f "${1:-$root/dist}")
work=$(mktemp -d "${TMPDIR:-/tmp}/zelk-package-smoke.XXXXXX")
keep=${ZELK_SMOKE_KEEP:-}
cleanup() {
  for p in "$work"/wine32 "$work"/wine64; do
    [ -d "$p" ] && WINEPREFIX=$p wineserver -k 2>/dev/null || true
  done
  [ -n "$keep" ] || rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
pass() { echo "ok:   $*"; }
one() {  # the single file of dist/ that matches a pattern
  local matches=("$dist"/$1)
  [ ${#matches[@]} -eq 1 ] && [ -e "${matches[0]}" ] || { echo "expected one $1 in $dist" >&2; exit 1; }
  echo "${matches[0]}"
}

tarball=$(one 'zelk2716e-*-linux-x86_64.tar.gz')
version=$(basename "$tarball" | sed -E 's/^zelk2716e-(.*)-linux-x86_64\.tar\.gz$/\1/')
zip32=$(one "zelk2716e-$version-win32.zip")
zip64=$(one "zelk2716e-$version-win64.zip")
deb=$(one "zelk2716e_${version}_*.deb")
echo "packages of version $version in $dist"

# A clean environment: no library path, no simulator configuration, no build tree.
clean_env=(env -i "PATH=/usr/bin:/bin" "HOME=$work" "LANG=C.UTF-8" "TMPDIR=$work")

# expect NAME REGEX COMMAND...: runs it, keeps its output, wants exit 0 and the pattern.
expect() {
  local name=$1 pattern=$2
  shift 2
  local out rc=0
  out=$("$@" 2>&1) || rc=$?
  if [ $rc -ne 0 ]; then
    fail "$name: exit $rc"
    printf '%s\n' "$out" | tail -20 >&2
  elif ! printf '%s\n' "$out" | grep -Eq -- "$pattern"; then
    fail "$name: output lacks /$pattern/"
    printf '%s\n' "$out" | tail -20 >&2
  else
    pass "$name"
  fi
}

unpack() {  # unpack ARCHIVE DIR: the package's single top folder
  mkdir -p "$2"
  case "$1" in
    *.zip) unzip -q "$1" -d "$2" ;;
    *.tar.gz) tar -xzf "$1" -C "$2" ;;
  esac
  local top=("$2"/*)
  [ ${#top[@]} -eq 1 ] && [ -d "${top[0]}" ] || { fail "$(basename "$1"): not one top folder"; return 1; }
  echo "${top[0]}"
}

check_contents() {  # check_contents PKG-DIR LABEL FILES...
  local dir=$1 label=$2
  shift 2
  local f missing=()
  for f in "$@"; do [ -e "$dir/$f" ] || missing+=("$f"); done
  if [ ${#missing[@]} -eq 0 ]; then pass "$label holds the listed files"; else fail "$label lacks ${missing[*]}"; fi
}

common_files=(include/zelk2716e.h docs/QUICKSTART.md docs/python.md examples/demo.ini examples/c_host/host.c
              examples/python_host/host.py d2xx/NO-HARDWARE-SIMULATOR.txt python/zelk2716e/__init__.py
              python/zelk2716e/_constants.py python/pyproject.toml)

# ---- Linux tarball
pkg=$(unpack "$tarball" "$work/linux")
check_contents "$pkg" "tarball" "${common_files[@]}" bin/zelk lib/librq_zelk2716e.so lib/librq_zelk2716e_sim.so \
  d2xx/libftd2xx.so udev/99-zelk2716e.rules
if readelf -d "$pkg/bin/zelk" | grep -E 'R(UN)?PATH' | grep -qF '[$ORIGIN/../lib]'; then
  pass "zelk's run path is \$ORIGIN/../lib"
else
  fail "zelk's run path is not \$ORIGIN/../lib"
fi
for f in "$pkg"/bin/zelk "$pkg"/lib/*.so "$pkg"/d2xx/*.so; do
  if readelf -d "$f" | grep -E 'R(UN)?PATH' | grep -vqF '[$ORIGIN/../lib]'; then fail "$(basename "$f") has a run path into elsewhere"; fi
done
run_dir=$work/linux-run
mkdir -p "$run_dir"
cd "$run_dir"
expect "tarball: zelk --version" "^zelk $version\$" "${clean_env[@]}" "$pkg/bin/zelk" --version
expect "tarball: zelk info" "device status +0 " "${clean_env[@]}" "$pkg/bin/zelk" info
expect "tarball: zelk read 0-3" "^ *3 " "${clean_env[@]}" "$pkg/bin/zelk" read 0-3
expect "tarball: zelk measure 1 s" "wrote .*\\.dbf" "${clean_env[@]}" "$pkg/bin/zelk" measure --channels 4 --period 1000 \
  --duration 1 --no-progress --out "$run_dir/data"
# A PNG chart: zelk loads the system's librsvg only for it (the tarball does not bring it).
expect "tarball: zelk plot -o chart.png" "wrote .*chart\\.png" "${clean_env[@]}" "$pkg/bin/zelk" plot \
  "$run_dir"/data/*.dbf -o "$run_dir/chart.png"
expect "tarball: zelk devices (the simulator's D2XX library)" "12000001" "${clean_env[@]}" "$pkg/bin/zelk" devices
# A host built from the package alone: the header, and the driver to link.
if cc -std=c11 -Wall -Wextra -Werror -I "$pkg/include" "$here/link_check.c" -L "$pkg/lib" -lrq_zelk2716e \
     -Wl,-rpath,"$pkg/lib" -o "$work/link_check"; then
  expect "tarball: C host linked against the installed driver" "link check passed" \
    "${clean_env[@]}" "$work/link_check" "$version"
else
  fail "tarball: C host against the installed header does not build"
fi
if cc -std=c11 -Wall -Wextra -Werror -I "$pkg/include" "$pkg/examples/c_host/host.c" -o "$work/c_host" -ldl; then
  expect "tarball: example C host on the simulated module" "channel 98: device status 0" \
    "${clean_env[@]}" "$work/c_host" "$pkg/lib/librq_zelk2716e_sim.so" "$pkg/examples/demo.ini"
else
  fail "tarball: the example C host does not build from the package"
fi

if command -v python3 >/dev/null; then
  expect "tarball: example Python host on the simulated module" "channel 98: device status 0" \
    "${clean_env[@]}" python3 "$pkg/examples/python_host/host.py" "$pkg/lib/librq_zelk2716e_sim.so" "$pkg/examples/demo.ini"
  # The package finds the driver itself, in ../lib from python/zelk2716e, and measures into numpy.
  expect "tarball: Python package measures (driver found beside it)" "measurement: 200 records stored, status 0" \
    "${clean_env[@]}" python3 "$pkg/examples/python_host/host.py" sim "$pkg/examples/demo.ini" 200
  expect "tarball: Python package imported from python/" "^$version 0 " \
    "${clean_env[@]}" "PYTHONPATH=$pkg/python" python3 -c \
    "import zelk2716e as z; d = z.Driver('$pkg/examples/demo.ini', library='sim'); print(z.__version__, d.status.code, d.read([0])[0].value); d.close()"
  # pip install ./python, offline, into a virtual environment that sees Debian's numpy.
  if "${clean_env[@]}" python3 -m venv --system-site-packages "$work/venv" >/dev/null 2>&1; then
    cp -r "$pkg/python" "$work/pip-src"
    if "${clean_env[@]}" "$work/venv/bin/python" -m pip install -q --no-build-isolation --no-index --no-deps \
         "$work/pip-src" >"$work/pip.log" 2>&1; then
      expect "tarball: pip install ./python, then import" "zelk2716e/__init__.py" \
        "${clean_env[@]}" "$work/venv/bin/python" -c "import zelk2716e; print(zelk2716e.__file__)"
    else
      fail "tarball: pip install ./python"; tail -20 "$work/pip.log" >&2
    fi
  else
    fail "tarball: python3 -m venv (Debian package python3-venv) for the pip check"
  fi
fi

# ---- Windows zips, each in a fresh wine prefix of its own width
for width in 32 64; do
  if [ $width = 32 ]; then zip=$zip32 arch=i686 wine_flag=(); else zip=$zip64 arch=x86_64 wine_flag=(--win64); fi
  label=win$width
  pkg=$(unpack "$zip" "$work/$label")
  check_contents "$pkg" "$label zip" "${common_files[@]}" bin/zelk.exe bin/rq_zelk2716e.dll bin/rq_zelk2716e_sim.dll \
    d2xx/ftd2xx.dll lib/librq_zelk2716e.dll.a
  objdump=$arch-w64-mingw32-objdump
  format=$($objdump -f "$pkg/bin/rq_zelk2716e.dll" | sed -n 's/.*file format //p')
  want=pei-i386
  [ $width = 64 ] && want=pei-x86-64
  if [ "$format" = "$want" ]; then pass "$label: the driver is $format"; else fail "$label: the driver is '$format', not $want"; fi
  for dll in rq_zelk2716e rq_zelk2716e_sim; do
    if cmake -DOBJDUMP="$(command -v "$objdump")" -DDLL="$pkg/bin/$dll.dll" -P "$root/tests/host_dll/check_exports.cmake" \
         >/dev/null 2>"$work/exports.log"; then
      pass "$label: $dll.dll exports the 18 functions and imports only system DLLs"
    else
      fail "$label: $dll.dll exports or imports"; cat "$work/exports.log" >&2
    fi
  done
  for f in bin/zelk.exe bin/rq_zelk2716e.dll bin/rq_zelk2716e_sim.dll d2xx/ftd2xx.dll; do
    if strings -el "$pkg/$f" | grep -qx "$version" && strings -el "$pkg/$f" | grep -qx FileDescription; then :
    else fail "$label: $f has no version resource of $version"; fi
  done
  run_dir=$work/$label-run
  mkdir -p "$run_dir"
  cd "$run_dir"
  wine_env=("${clean_env[@]}" "ZELK_WINEPREFIX=$work/wine$width")
  wine=("${wine_env[@]}" "$root/scripts/wine-run" "${wine_flag[@]}")
  expect "$label: zelk.exe info" "device status +0 " "${wine[@]}" "$pkg/bin/zelk.exe" info
  expect "$label: zelk.exe read 0-3" "^ *3 " "${wine[@]}" "$pkg/bin/zelk.exe" read 0-3
  expect "$label: zelk.exe measure 1 s" "wrote .*\\.dbf" "${wine[@]}" "$pkg/bin/zelk.exe" measure --channels 4 \
    --period 1000 --duration 1 --no-progress --out data
  # The host finds the driver on PATH, as the README tells.
  if $arch-w64-mingw32-gcc -std=c11 -Wall -Wextra -Werror -I "$pkg/include" "$here/link_check.c" -L "$pkg/lib" \
       -lrq_zelk2716e -static-libgcc -o "$work/$label-link_check.exe"; then
    expect "$label: C host linked against the installed driver" "link check passed" \
      "${wine_env[@]}" "WINEPATH=$(printf 'Z:%s' "$pkg/bin" | tr / '\\')" "$root/scripts/wine-run" "${wine_flag[@]}" \
      "$work/$label-link_check.exe" "$version"
  else
    fail "$label: C host against the installed header does not build"
  fi
  if $arch-w64-mingw32-gcc -std=c11 -Wall -Wextra -Werror -I "$pkg/include" "$pkg/examples/c_host/host.c" -static \
       -o "$work/$label-c_host.exe"; then
    expect "$label: example C host on the simulated module" "channel 98: device status 0" "${wine[@]}" "$work/$label-c_host.exe" \
      "Z:$pkg/bin/rq_zelk2716e_sim.dll" "Z:$pkg/examples/demo.ini"
  else
    fail "$label: the example C host does not build from the package"
  fi
done

# ---- .deb: the system layout
listing=$(dpkg-deb -c "$deb")
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || echo x86_64-linux-gnu)
for f in ./usr/include/zelk2716e.h "./usr/lib/$multiarch/librq_zelk2716e.so" "./usr/lib/$multiarch/librq_zelk2716e_sim.so" \
         ./usr/bin/zelk ./usr/lib/udev/rules.d/99-zelk2716e.rules ./usr/share/doc/zelk2716e/QUICKSTART.md; do
  if printf '%s\n' "$listing" | awk '{print $6}' | grep -qxF "$f"; then pass ".deb lists $f"; else fail ".deb lacks $f"; fi
done
# The simulator's libftd2xx.so must never shadow the vendor's in the library path.
if printf '%s\n' "$listing" | awk '{print $6}' | grep -qx "./usr/lib/$multiarch/libftd2xx.so"; then
  fail ".deb puts the simulator's libftd2xx.so into the library path"
fi
# The Python package for the system's python3, and the example host with it. The files are
# unpacked and used as installed: PYTHONPATH and LD_LIBRARY_PATH stand in for dist-packages and
# the loader's cache.
pydir=./usr/lib/python3/dist-packages/zelk2716e
for f in "$pydir/__init__.py" "$pydir/_constants.py" ./usr/share/doc/zelk2716e/examples/python_host/host.py; do
  if printf '%s\n' "$listing" | awk '{print $6}' | grep -qxF "$f"; then pass ".deb lists $f"; else fail ".deb lacks $f"; fi
done
deb_root=$work/deb-root
dpkg-deb -x "$deb" "$deb_root"
deb_run=$work/deb-run
mkdir -p "$deb_run"
cd "$deb_run"
expect ".deb: example Python host with the package from dist-packages" "measurement: 100 records stored, status 0" \
  "${clean_env[@]}" "PYTHONPATH=$deb_root/usr/lib/python3/dist-packages" "LD_LIBRARY_PATH=$deb_root/usr/lib/$multiarch" \
  python3 "$deb_root/usr/share/doc/zelk2716e/examples/python_host/host.py" sim \
  "$deb_root/usr/share/doc/zelk2716e/examples/demo.ini" 100
if [ "${ZELK_SMOKE_INSTALL_DEB:-}" = 1 ]; then
  if [ "$(id -u)" -eq 0 ] && ! dpkg-query -W zelk2716e >/dev/null 2>&1; then
    if dpkg -i "$deb" >"$work/dpkg.log" 2>&1; then
      expect ".deb installed: python3 -c 'import zelk2716e'" "^ok$" "${clean_env[@]}" python3 -c "import zelk2716e; print('ok')"
      expect ".deb installed: example Python host" "measurement: 100 records stored, status 0" "${clean_env[@]}" \
        python3 /usr/share/doc/zelk2716e/examples/python_host/host.py sim /usr/share/doc/zelk2716e/examples/demo.ini 100
      dpkg -r zelk2716e >>"$work/dpkg.log" 2>&1 || fail ".deb: dpkg -r"
    else
      fail ".deb: dpkg -i"; tail -20 "$work/dpkg.log" >&2
    fi
  else
    fail ".deb: ZELK_SMOKE_INSTALL_DEB=1 needs root and no zelk2716e installed"
  fi
fi

cd "$root"
if [ $failures -ne 0 ]; then
  echo "package smoke tests: $failures failed" >&2
  exit 1
fi
echo "package smoke tests: all passed"
