#!/usr/bin/env bash
# The package as a Windows user gets it, under Wine on an X virtual frame
# buffer, in a prefix of its own:
#  - every binary and vantrel-cli --version carry the package's version;
#  - msiexec /i /qn puts the files into Program Files, the Start menu
#    shortcut, the Programs and Features entry and the Explorer extension's
#    keys (pointing at the installed VantrelShell.dll) in place;
#  - the installed program lists the volumes of VANTREL_VOLUMES, loads
#    Brakwater.dll from its folder, sees the extension as registered and
#    creates the weekly task;
#  - a package one version newer replaces it in place (one entry, new files;
#    Wine's upgrade does not tell the old package that it is being replaced,
#    so the kept task is not checked here);
#  - msiexec /x /qn leaves no file, key, task or shortcut, and the settings.
# usage: install_test.sh BUILD_DIR x64|x86 VERSION OUTDIR
# Exit 77: the tools to run it are missing.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(realpath "${1:?usage: install_test.sh BUILD_DIR x64|x86 VERSION OUTDIR}")
arch=${2:?}
version=${3:?}
out=${4:?}
msi=$build/Vantrel-$arch.msi
driver=$build/tools/gui_driver/vt-gui-driver.exe
name=install_test
needs="wixl msiinfo python3 mkfs.fat"
for f in "$msi" "$driver" "$build/cli/vantrel-cli.exe"; do
  [ -f "$f" ] || { echo "install_test: $f is missing" >&2; exit 77; }
done
if [ "$arch" = x86 ] && ! /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
  echo "install_test: this machine does not run 32-bit programs, so 32-bit Wine cannot start" >&2
  exit 77
fi
rm -rf "$out"
. "$here/../gui/scenario_lib.sh"

if [ "$arch" = x64 ]; then
  view=/reg:64
  folder="Program Files"
else
  view=/reg:32
  folder="Program Files (x86)"
fi
installed="$WINEPREFIX/drive_c/$folder/Norvane Utilities/Vantrel"
installed_win="C:\\$folder\\Norvane Utilities\\Vantrel"
files="Vantrel.exe Brakwater.dll VantrelShell.dll Vantrel.chm"
clsid='{5A1C07E2-94B3-4F6D-A2C8-3E7D19B04F55}'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
job=$WINEPREFIX/drive_c/windows/tasks/Vantrel.job
reg_value() {  # reg_value KEY [VALUE]: the data, or nothing
  local args=(/ve)
  [ $# -gt 1 ] && args=(/v "$2")
  "$wine" reg query "$1" "${args[@]}" $view 2>/dev/null | tr -d '\r' |
    sed -n 's/^ *[^ ].*REG_[A-Z_]* *//p' | head -1
}
has_key() { "$wine" reg query "$1" $view >/dev/null 2>&1; }
no_key() { ! has_key "$1"; }
product_code() { msiinfo export "$1" Property | tr -d '\r' | awk '$1 == "ProductCode" {print $2}'; }
# Entries of Programs and Features named Vantrel.
entries() {
  local key n=0
  for key in $("$wine" reg query "$uninstall_key" $view 2>/dev/null | tr -d '\r' | grep -i '^HKEY.*Uninstall\\'); do
    [ "$(reg_value "$key" DisplayName)" = Vantrel ] && n=$((n + 1))
  done
  echo $n
}
shortcut() { find "$WINEPREFIX/drive_c" -iname 'Vantrel.lnk' -ipath '*Start Menu/Programs*' | head -1; }
settings_file() { find "$WINEPREFIX/drive_c/users" -name Vantrel.ini -path '*Norvane Utilities*' | head -1; }
same_files() {  # same_files DIR: the installed files are those of DIR
  local f
  for f in $files; do cmp -s "$1/$f" "$installed/$f" || return 1; done
}
no_files_left() {
  find "$WINEPREFIX/drive_c/$folder" -path '*Norvane Utilities*' | tee -a "$out/transcript.txt" | grep -q . && return 1
  return 0
}
start_installed() {
  "$wine" explorer /desktop=Vantrel,1024x720 "$installed/Vantrel.exe" >/dev/null 2>&1 &
  [ "$(drive wait-main 90)" = Vantrel ]
}
stop_program() { drive close; sleep 2; "$server" -w; }
open_sheet() {  # open_sheet PAGE
  drive click 1105
  drive sheet-wait 20 || return 1
  drive sheet-page "$1"
  sleep 1
}
# The Scheduler page: on, Monday, every week, drive V:, 07:30, then OK.
schedule_weekly() {
  open_sheet 2 || return 1
  drive sheet-check 2160 1
  drive sheet-mark 2149 1 1
  drive sheet-set 2166 1
  drive sheet-mark 2150 0 1
  drive sheet-time 2168 7 30
  drive sheet-set 2167 ""
  drive sheet-press 1
}

# --- one version -----------------------------------------------------------------
want=$version.0
for f in program/Vantrel.exe program/Brakwater.dll program/VantrelShell.dll cli/vantrel-cli.exe; do
  got=$(python3 "$here/pe_version.py" "$build/$f" 2>&1)
  check "$f carries version $want ($got)" test "$got" = "$want $want"
done
check "the package's ProductVersion is $version" \
  test "$(msiinfo export "$msi" Property | tr -d '\r' | awk '$1 == "ProductVersion" {print $2}')" = "$version"

init_prefix
cli=$("$wine" "$build/cli/vantrel-cli.exe" --version 2>&1 | tr -d '\r')
check "vantrel-cli --version says $want ($cli)" bash -c '[[ "$0" == *"$1"* ]]' "$cli" "$want"

img=$work/v.img
mkfs.fat -C -F 16 -n INSTALLED "$img" 16384 >/dev/null
head -c 100000 /dev/urandom >"$work/data.bin"
mcopy -i "$img" "$work/data.bin" ::data.bin
export VANTREL_VOLUMES="V=$(winpath "$img")" VT_DESKTOP=Vantrel

# --- install -----------------------------------------------------------------------
"$wine" msiexec /i "$(winpath "$msi")" /qn >"$work/msiexec.out" 2>&1
rc=$?
check "msiexec /i Vantrel-$arch.msi /qn exits 0 ($rc)" test "$rc" = 0
check "the installation folder is recorded" test "$(reg_value 'HKLM\Software\Norvane Utilities\Vantrel' InstallFolder)" = "$installed_win\\"
check "the four files are in $folder\\Norvane Utilities\\Vantrel" same_files "$build/program"
check "the Start menu shortcut \"Vantrel\" exists" test -n "$(shortcut)"
code=$(product_code "$msi")
entry="$uninstall_key\\$code"
check "Programs and Features lists \"Vantrel\"" test "$(reg_value "$entry" DisplayName)" = Vantrel
check "  with publisher Norvane Utilities" test "$(reg_value "$entry" Publisher)" = "Norvane Utilities"
check "  with version $version" test "$(reg_value "$entry" DisplayVersion)" = "$version"
# The installer keeps the product's icon for Programs and Features and names
# it under the product's advertised key.
icon=$("$wine" reg query 'HKCR\Installer\Products' /s /reg:64 2>/dev/null | tr -d '\r' |
  sed -n 's/^ *ProductIcon *REG_SZ *//p' | grep -F "$code" | head -1)
log "ProductIcon: $icon"
check "  with the program's icon" test -s "$WINEPREFIX/drive_c/windows/Installer/$code/Vantrel.ico" -a -n "$icon"
size=$(reg_value "$entry" Size)
log "Size: $size KiB"
check "  with its size" bash -c '[ "$0" -ge $(( $(cat "$1"/* | wc -c) / 1024 )) ]' "${size:-0}" "$installed"
inproc=$(reg_value "HKCR\\CLSID\\$clsid\\InprocServer32")
log "InprocServer32: $inproc"
check "the extension's server is the installed VantrelShell.dll" test "$inproc" = "$installed_win\\VantrelShell.dll"
check "  apartment-threaded" test "$(reg_value "HKCR\\CLSID\\$clsid\\InprocServer32" ThreadingModel)" = Apartment
for k in '*' Directory; do
  check "the handler under $k names the class" test "$(reg_value "HKCR\\$k\\ShellEx\\ContextMenuHandlers\\Vantrel")" = "$clsid"
done

# --- a newer package over this one ---------------------------------------------------
IFS=. read -r major minor patch <<<"$version"
next=$major.$minor.$((patch + 1))
mkdir -p "$work/next"
cp "$build/program"/* "$work/next/"
bash "$here/../../cmake/build_help.sh" "$here/../../docs/help" "$here/../../docs/screenshots" \
  "$work/next/Vantrel.chm" "$next.0"
bash "$here/../../installer/build_msi.sh" "$arch" "$next" "$work/next" \
  "$here/../../resources/Vantrel.ico" "$work/Vantrel-next.msi"
check "the help file of $next differs from that of $version" bash -c '! cmp -s "$0" "$1"' \
  "$work/next/Vantrel.chm" "$build/program/Vantrel.chm"
"$wine" msiexec /i "$(winpath "$work/Vantrel-next.msi")" /qn >>"$work/msiexec.out" 2>&1
rc=$?
check "installing $next over $version exits 0 ($rc)" test "$rc" = 0
check "one entry in Programs and Features" test "$(entries)" = 1
check "  showing version $next" test "$(reg_value "$uninstall_key\\$(product_code "$work/Vantrel-next.msi")" DisplayVersion)" = "$next"
check "  and the entry of $version is gone" no_key "$entry"
check "the installed files are those of $next" same_files "$work/next"
check "the extension is registered after the upgrade" has_key "HKCR\\CLSID\\$clsid\\InprocServer32"

# --- the installed program -----------------------------------------------------------
# As Windows 10: the task goes through Brakwater.dll from the program's
# folder. Wine's Task Scheduler 2.0 has no weekly trigger, so the library's
# own "Error creating task." is the answer that proves it was loaded.
check "the installed Vantrel.exe starts" start_installed
rows=$(drive rows)
log "$rows"
check "its drive list shows V: from VANTREL_VOLUMES" bash -c '[[ "$0" == *"V:"* && "$0" == *FAT* ]]' "$rows"
shot installed-main
schedule_weekly
text=$(drive msgbox 20)
log "message: $text"
check "switching the schedule on loads Brakwater.dll from the program's folder" \
  bash -c '[[ "$0" == "Error creating task."* ]]' "$text"
drive msgbox-press 1
sleep 1
drive sheet-press 2
drive sheet-gone 20
stop_program

# As Windows XP: Task Scheduler 1.0, which Wine implements for weekly tasks.
"$wine" reg add 'HKCU\Software\Wine' /v Version /d winxp64 /f >/dev/null 2>&1
"$server" -w
start_installed
open_sheet 0
# The 32-bit program on 64-bit Windows (as Wine's prefix is) looks for the
# 64-bit extension, which the x86 package does not bring.
[ "$arch" = x64 ] &&
  check "the General page sees the extension as registered" bash -c '[[ "$0" == *checked* ]]' "$(drive sheet-text 2109)"
drive sheet-press 2
drive sheet-gone 20
schedule_weekly
check "OK closes the sheet" drive sheet-gone 30
check "switching the schedule on creates the weekly task" test -s "$job"
stop_program
check "the settings file is written" test -n "$(settings_file)"

# Programs and Features, for the screenshot.
"$wine" explorer /desktop=Vantrel,1024x720 control appwiz.cpl >/dev/null 2>&1 &
sleep 10
shot programs-and-features
"$server" -k
sleep 1

# --- uninstall -----------------------------------------------------------------------
"$wine" msiexec /x "$(winpath "$work/Vantrel-next.msi")" /qn >>"$work/msiexec.out" 2>&1
rc=$?
"$server" -w
check "msiexec /x /qn exits 0 ($rc)" test "$rc" = 0
check "no installed file is left" no_files_left
check "the shortcut is gone" test -z "$(shortcut)"
check "the Programs and Features entry is gone" test "$(entries)" = 0
check "the extension's class key is gone" no_key "HKCR\\CLSID\\$clsid"
for k in '*' Directory; do
  check "the handler key under $k is gone" no_key "HKCR\\$k\\ShellEx\\ContextMenuHandlers\\Vantrel"
done
check "the installation folder's key is gone" no_key 'HKLM\Software\Norvane Utilities\Vantrel'
check "the scheduled task is gone" test ! -e "$job"
check "the settings file stays" test -n "$(settings_file)"

log "$failures failure(s)"
[ "$failures" = 0 ]
