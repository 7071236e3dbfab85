#!/usr/bin/env bash
# Shows the driver window under wine on a virtual X display, in the default and the Czech
# locale, and takes a screenshot of each page:  run.sh window_wine_host.exe [output dir]
# The pictures are <out>/window-<locale>-<page>.png.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
exe=$(readlink -f "$1")
out=$(readlink -f "${2:-$(dirname "$exe")}")
mkdir -p "$out"

# A prefix of our own with a virtual desktop, so that wine draws the window frames itself
# (Xvfb has no window manager) and the shared prefix stays untouched.
export ZELK_WINEPREFIX=${ZELK_WINDOW_PREFIX:-$out/wineprefix-window}
wine_run() { "$root/scripts/wine-run" "$@"; }

if [ -z "${ZELK_IN_XVFB:-}" ]; then
  export ZELK_IN_XVFB=1
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi

# wine-run gives the Czech runs a prefix of their own ("-cs"): set up both.
for flag in "" --czech; do
  prefix=$ZELK_WINEPREFIX
  [ -n "$flag" ] && prefix=$ZELK_WINEPREFIX-cs
  if [ ! -f "$prefix/.desktop-set" ]; then
    wine_run $flag reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
    wine_run $flag reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 800x600 /f >/dev/null 2>&1
    WINEPREFIX=$prefix wineserver -w || true
    touch "$prefix/.desktop-set"
  fi
done

status=0
cd "$out"
for locale in default czech; do
  args=()
  [ "$locale" = czech ] && args=(--czech)
  rm -f "$locale"-*.ready "$locale"-*.done
  wine_run "${args[@]}" "$exe" "$locale" > "window-$locale.log" 2>&1 &
  pid=$!
  for page in settings diagnostics; do
    for _ in $(seq 1 1200); do
      [ -f "$locale-$page.ready" ] && break
      kill -0 $pid 2>/dev/null || break
      sleep 0.1
    done
    if [ -f "$locale-$page.ready" ]; then
      import -window root "window-$locale-$page.png"
      touch "$locale-$page.done"
    fi
  done
  rc=0
  wait $pid || rc=$?
  cat "window-$locale.log"
  echo "== $locale: exit $rc"
  [ $rc -eq 0 ] || status=1
done
WINEPREFIX=$ZELK_WINEPREFIX wineserver -k 2>/dev/null || true
WINEPREFIX=$ZELK_WINEPREFIX-cs wineserver -k 2>/dev/null || true
exit $status
