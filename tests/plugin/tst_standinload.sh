#!/bin/sh
# Loads the module into the stand-in from its imageformats folder, as Nickel
# does, once for each way a start can go, and checks the log, the library's
# file names and the icon in the status bar. The cross build runs the
# target's module in the target's stand-in under the emulator, which
# exercises the start-up's dynamic loader calls and file handling there.
# Run inside scripts/isolate.
#   tst_standinload.sh MODULE NICKEL-SIM-COMMAND...
set -u
module=$1
shift
folder=/tmp/kobo/imageformats
addon=/mnt/onboard/.adds/zorvi
failures=0

# One start: CASE names it, SETUP prepares the files, then the log must have
# LOGLINE, and the files left in the folder must be as given, and the icon there or not.
#   start CASE SETUP LOGLINE FILES ICON NICKEL-SIM-COMMAND...
start() {
    case=$1 setup=$2 logline=$3 files=$4 icon=$5
    shift 5
    rm -rf /tmp/kobo "$addon" && mkdir -p "$folder" "$addon"
    eval "$setup"
    QT_QPA_PLATFORM=offscreen "$@" --plugin-path /tmp/kobo --script /tmp/script.txt \
        > /tmp/out.txt 2>&1
    status=$?
    problem=
    [ $status = 0 ] || problem="the stand-in ended with status $status"
    cut -d' ' -f2- "$addon/plugin.log" 2>/dev/null | grep -qxF "$logline" ||
        problem="$problem; no \"$logline\" in the log"
    left=$(ls -A "$folder" | tr '\n' ' ')
    [ "$left" = "$files" ] || problem="$problem; files left: \"$left\""
    shown=no
    grep -q "find zorviStatusIcon: class=QWidget .* visible=yes .*parent=iconContainer" \
        /tmp/out.txt && shown=yes
    [ $shown = "$icon" ] || problem="$problem; icon shown: $shown"
    if [ -n "$problem" ]; then
        echo "FAIL $case: ${problem#; }"
        cat /tmp/out.txt
        failures=$((failures + 1))
    else
        echo "ok   $case"
    fi
}

cat > /tmp/script.txt <<'SCRIPT'
wait 1500
find zorviStatusIcon
quit
SCRIPT
own='cp "$module" $folder/libzorvi.so'

start "a normal start takes the failsafe name" "$own" \
    "plugin loaded" "libzorvi.so.failsafe " yes "$@"
start "the switch file keeps it off under its own name" "$own; touch $addon/disable-plugin" \
    "disabled by .adds/zorvi/disable-plugin" "libzorvi.so " no "$@"
start "the failsafe copy stays off" 'cp "$module" $folder/libzorvi.so.failsafe' \
    "loaded under the failsafe name after an interrupted start; staying off" \
    "libzorvi.so.failsafe " no "$@"
start "uninstall removes both names" \
    "$own; cp \"\$module\" $folder/libzorvi.so.failsafe; touch $addon/uninstall" \
    "uninstalled as asked by .adds/zorvi/uninstall" "" no "$@"
[ ! -e $addon/uninstall ] || { echo "FAIL the uninstall request is still there"; failures=$((failures + 1)); }

[ $failures = 0 ]
