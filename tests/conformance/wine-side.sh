#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The Windows side of the conformance comparison: the runner built with MinGW, run under Wine in a
# prefix of its own (in the build folder), code page 1251 from a Russian locale, COM1 linked to
# the driver's pseudo-terminal.
#
#   wine-side.sh BUILD_DIR sequence NAME   run sequences/NAME.seq, compare with expected/NAME.out
#   wine-side.sh BUILD_DIR fixtures        make the registry editor's exports again, compare with
#                                          fixtures/ byte for byte
#   wine-side.sh BUILD_DIR store-import    a hive our store wrote (through the runner, and the
#                                          clock simulator's --register) imports into the registry
#                                          editor with the values a Windows program reads; so do
#                                          the files of registry-saves.seq
#   wine-side.sh BUILD_DIR generated       seeded random registry files: read by our store and
#                                          imported by the registry editor, saved by our store
#                                          and imported again; every difference is printed
#
# TAVEX_CONFORMANCE_RECORD=1 copies what Wine printed over expected/ (then review the diff).
# Exits 77 (skipped) when Wine, the Windows build of the runner or the Russian locale is missing.
set -euo pipefail
build=$(cd "$1" && pwd)
what=$2
here=$(cd "$(dirname "$0")" && pwd)
state=$build/wine
skip() {
  echo "SKIPPED: $*"
  exit 77
}

wine=$(command -v wine64 || true)
[[ -z $wine && -x /usr/lib/wine/wine64 ]] && wine=/usr/lib/wine/wine64
[[ -n $wine ]] || skip "wine64 is not installed (scripts/install-deps --wine)"
wineserver=$(dirname "$(readlink -f "$wine")")/wineserver
runner=$build/tests/windows/conformance-runner.exe
[[ -f $runner ]] || skip "no Windows build of the runner: install g++-mingw-w64-x86-64, reconfigure"
driver=$build/tests/conformance-driver

export WINEPREFIX=$state/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
export LANG=ru_RU.UTF-8 LC_ALL=
# Wine takes its ANSI code page from the locale; build ru_RU.UTF-8 privately when it is missing.
if ! locale -a 2>/dev/null | grep -qix 'ru_RU\.utf-\?8'; then
  [[ -f /usr/share/i18n/locales/ru_RU ]] || skip "no ru_RU locale source (package locales)"
  export LOCPATH=$state/locale
  if [[ ! -d $LOCPATH/ru_RU.UTF-8 ]]; then
    mkdir -p "$LOCPATH"
    localedef -i ru_RU -f UTF-8 "$LOCPATH/ru_RU.UTF-8"
  fi
fi
if [[ ! -f $WINEPREFIX/system.reg ]]; then
  mkdir -p "$state"
  "$wine" wineboot -i >"$state/wineboot.log" 2>&1 || true
  "$wineserver" -w
  [[ -f $WINEPREFIX/system.reg ]] || { cat "$state/wineboot.log"; exit 1; }
  # COM1 is whatever $state/com1 points at: the driver links it to its pseudo-terminal.
  "$wine" reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$state/com1" /f >/dev/null
  "$wineserver" -w
fi
mkdir -p "$state/out"

# Runs one sequence on the Windows side and compares it with its recording.
windows_side() {
  local name=$1
  shift
  local status=0
  "$driver" "$here/sequences/$name.seq" "$here/expected/$name.out" --windows "$state/com1" \
    --faults "$here/wine-faults.txt" --record "$state/out/$name.out" "$@" \
    -- "$wine" "$runner" || status=$?
  if [[ ${TAVEX_CONFORMANCE_RECORD:-0} == 1 ]]; then
    cp "$state/out/$name.out" "$here/expected/$name.out"
    echo "recorded expected/$name.out"
    status=0
  fi
  return $status
}

case $what in
  sequence)
    windows_side "$3"
    ;;
  fixtures)
    rm -rf "$state/fixtures"
    windows_side windows-fixtures --keep "$state/fixtures"
    for f in regedit-export.reg reg-export.reg expand-port.reg; do
      cmp "$state/fixtures/$f" "$here/fixtures/$f"
      echo "fixtures/$f: the same bytes as the registry editor writes now"
    done
    ;;
  store-import)
    # Our store saves into the registry editor's UTF-16LE export ...
    rm -rf "$state/roundtrip"
    "$driver" "$here/sequences/roundtrip.seq" "$here/expected/roundtrip.out" \
      --keep "$state/roundtrip" -- "$build/tests/conformance-runner" >/dev/null || true
    written=$state/roundtrip/store-written.reg
    [[ -f $written ]] || { echo "our side wrote no hive"; exit 1; }
    head -c 2 "$written" | cmp -s - <(printf '\xff\xfe') || { echo "the hive is no longer UTF-16LE"; exit 1; }
    # ... every line of the key it did not touch stays as the registry editor wrote it ...
    foreign() { iconv -f UTF-16 -t UTF-8 "$1" | sed -n '/^\[HKEY_LOCAL_MACHINE\\Software\\TAVEX\\Foreign\]/,/^\r\?$/p'; }
    diff <(foreign "$here/fixtures/regedit-export.reg") <(foreign "$written")
    echo "the Foreign key is unchanged, byte for byte"
    # ... and the registry editor imports it with the values a Windows program wrote.
    windows_side windows-import --fixtures "$state/roundtrip" || true
    readback() { sed -n '/^case read-back/,$p' "$1"; }
    diff <(readback "$here/expected/roundtrip.out") <(readback "$state/out/windows-import.out")
    echo "imported into the registry editor with the same values"

    # Saves into files whose last lines would change a saved value's meaning: the registry
    # editor imports each saved file with the values the store held (registry-saves.seq).
    rm -rf "$state/saves"
    "$driver" "$here/sequences/registry-saves.seq" "$here/expected/registry-saves.out" \
      --keep "$state/saves" -- "$build/tests/conformance-runner" >/dev/null
    windows_side windows-import-saves --fixtures "$state/saves" || true
    trees() { grep -v -e '^  reset ' -e '^  import ' -e '^  open ' -e '^  create ' -e '^  set ' -e '^  export ' "$1"; }
    diff <(trees "$here/expected/registry-saves.out") <(trees "$state/out/windows-import-saves.out")
    echo "the saved files imported into the registry editor with the values the store held"

    # The clock simulator registers its line in the same export, and takes it out again on exit.
    sim=$build/bin/tavex-clocksim
    [[ -x $sim ]] || { echo "no $sim"; exit 1; }
    hive=$state/registered/HKEY_LOCAL_MACHINE.reg
    rm -rf "$state/registered"
    mkdir -p "$state/registered"
    cp "$here/fixtures/regedit-export.reg" "$hive"
    coproc SIM { exec "$sim" --register "$state/registered" 2>&1; }
    read -r line <&"${SIM[0]}"
    cp "$hive" "$state/roundtrip/registered.reg"
    kill "$SIM_PID"
    wait "$SIM_PID" || true
    iconv -f UTF-16 -t UTF-8 "$state/roundtrip/registered.reg" | grep -q 'DEVICEMAP\\SERIALCOMM' ||
      { echo "the simulator did not register $line"; exit 1; }
    diff <(foreign "$here/fixtures/regedit-export.reg") <(foreign "$state/roundtrip/registered.reg")
    # After it: the export's bytes unchanged, followed only by the (now empty) keys it made.
    cmp -n "$(stat -c %s "$here/fixtures/regedit-export.reg")" "$here/fixtures/regedit-export.reg" "$hive"
    echo "the simulator's registration and its removal left the export's bytes as they were"
    windows_side windows-import-registered --fixtures "$state/roundtrip" || true
    exported() { sed -n '/^case regedit-export/,/^case /{/^case reg-export/d;/^  reset /d;/^  import /d;p}' "$1"; }
    diff <(exported "$here/expected/registry-files.out") \
      <(exported "$state/out/windows-import-registered.out")
    echo "imported into the registry editor with the values of the export"
    ;;
  generated)
    # A seeded set of registry files, each read by our store and imported by the registry editor,
    # then saved by our store and the saved file imported again (conformance-reggen).
    count=${TAVEX_GENERATED_COUNT:-150}
    seed=${TAVEX_GENERATED_SEED:-19}
    dir=$state/generated
    rm -rf "$dir"
    mkdir -p "$dir"
    "$build/tests/conformance-reggen" make "$seed" "$count" "$dir"
    for sequence in "$dir"/generated-*.seq; do
      chunk=$(basename "$sequence" .seq)
      chunk=${chunk#generated-}
      "$driver" "$sequence" /dev/null --fixtures "$dir" --keep "$dir/ours" \
        --record "$dir/ours-$chunk.out" -- "$build/tests/conformance-runner" >/dev/null 2>&1 || true
      "$driver" "$sequence" /dev/null --windows "$state/com1" --fixtures "$dir" \
        --record "$dir/windows-$chunk.out" -- "$wine" "$runner" >/dev/null 2>&1 || true
      "$driver" "$dir/imported-$chunk.seq" /dev/null --windows "$state/com1" \
        --fixtures "$dir/ours" --record "$dir/imported-$chunk.out" -- "$wine" "$runner" \
        >/dev/null 2>&1 || true
      cat "$dir/ours-$chunk.out" >>"$dir/ours.out"
      cat "$dir/windows-$chunk.out" >>"$dir/windows.out"
      cat "$dir/imported-$chunk.out" >>"$dir/imported.out"
    done
    echo "seed $seed, $count files (TAVEX_GENERATED_SEED, TAVEX_GENERATED_COUNT)"
    "$build/tests/conformance-reggen" compare "$dir/ours.out" "$dir/windows.out" "$dir/imported.out"
    ;;
  *)
    echo "unknown check $what" >&2
    exit 2
    ;;
esac
