#!/usr/bin/env bash
# Checks the Windows installer under Wine, in a Wine prefix of its own: a silent install with
# the sign-in option, the installed files, the shortcut, the uninstall entry and the Run value,
# the installed tarven-cli.exe, then a silent uninstall that removes all of it and leaves the
# user's tarven.txt. Also checks the portable zip's list of files.
#
# Usage: test-windows-package.sh SETUP.exe PORTABLE.zip VERSION
# Exit status: 0 when every check passed, 1 when one failed, 2 for a usage error.
set -euo pipefail

[[ $# -eq 3 && -f $1 && -f $2 ]] || { echo "Usage: $0 SETUP.exe PORTABLE.zip VERSION" >&2; exit 2; }
setup=$(realpath "$1")
portable=$(realpath "$2")
version=$3

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
pass() { echo "ok:   $*"; }
check() {
    local what=$1
    shift
    if "$@"; then pass "$what"; else fail "$what"; fi
}

work=$(mktemp -d "${TMPDIR:-/tmp}/tarven-windows-test.XXXXXX")
export WINEPREFIX=$work/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
cleanup() {
    wineserver -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
# Waits for every process in the prefix, so what a program started has finished too.
run() {
    local status=0
    wine "$@" || status=$?
    wineserver -w
    return "$status"
}
query() { wine reg query "$@" 2>/dev/null | tr -d '\r'; }
absent() { ! wine reg query "$@" >/dev/null 2>&1; }

wineboot -i >/dev/null 2>&1
wineserver -w
folder='C:\Program Files\Tarven'
installed=$(winepath -u "$folder" 2>/dev/null)
installed=${installed%/}
shortcut=$(winepath -u 'C:\ProgramData\Microsoft\Windows\Start Menu\Programs' 2>/dev/null)
shortcut=${shortcut%/}/Tarven.lnk
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tarven'
run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
appdata=$(wine cmd /c 'echo %APPDATA%' 2>/dev/null | tr -d '\r')
user_file=$(winepath -u "$appdata\\Tarven\\tarven.txt" 2>/dev/null)

files=(tarven.exe tarven-cli.exe description-file.md tarven.txt.example LICENSE.txt uninstall.exe)

echo "Checking $(basename "$setup")"
check "silent install (/S /AUTOSTART) exits 0" run "$setup" /S /AUTOSTART
for file in "${files[@]}"; do
    check "installed $folder\\$file" [ -f "$installed/$file" ]
done
check "no tarven.txt in $folder" [ ! -e "$installed/tarven.txt" ]
check "Start-menu shortcut" [ -f "$shortcut" ]
entry=$(query "$uninstall_key")
for value in "DisplayName    REG_SZ    Tarven" "DisplayVersion    REG_SZ    $version" \
             "Publisher    REG_SZ    Tarven developers" "EstimatedSize    REG_DWORD" \
             "UninstallString    REG_SZ    \"$folder\\uninstall.exe\""; do
    check "uninstall entry has $value" grep -qF -- "$value" <<<"$entry"
done
check "Run value starts the installed tarven.exe" \
    grep -qF "Tarven    REG_SZ    \"$folder\\tarven.exe\"" <<<"$(query "$run_key" /v Tarven)"
out=$(wine "$folder\\tarven-cli.exe" --version 2>/dev/null | tr -d '\r') || true
check "installed tarven-cli.exe --version prints 'tarven-cli $version'" \
    [ "${out%%$'\n'*}" = "tarven-cli $version" ]
for exe in "$installed"/*.exe; do
    [[ $exe == */uninstall.exe ]] && continue
    resource=$(strings -el "$exe")
    check "$(basename "$exe") has a version resource" \
        grep -qx "$version" <<<"$(grep -A1 -x ProductVersion <<<"$resource")"
done

# The user's own description file must survive the uninstall.
mkdir -p "$(dirname "$user_file")"
printf 'TARVEN_connect: 127.0.0.1\r\n' >"$user_file"
# Without _?= the uninstaller copies itself away and returns at once. Wine would quote one
# word with a space in it, which the uninstaller does not take, so the folder goes as two.
check "silent uninstall exits 0" run "$folder\\uninstall.exe" /S '_?=C:\Program' 'Files\Tarven'
for file in "${files[@]}"; do
    [[ $file == uninstall.exe ]] && continue
    check "uninstall removed $file" [ ! -e "$installed/$file" ]
done
# Started with _?=, the uninstaller runs in place and cannot delete itself; its caller does.
check "only the running uninstaller is left" \
    [ "$(cd "$installed" && find . -mindepth 1)" = ./uninstall.exe ]
rm -f "$installed/uninstall.exe"
rmdir "$installed"
check "uninstall removed the shortcut" [ ! -e "$shortcut" ]
check "uninstall removed the uninstall entry" absent "$uninstall_key"
check "uninstall removed the Run value" absent "$run_key" /v Tarven
check "the user's tarven.txt stays" [ -f "$user_file" ]

zip_files=$(unzip -Z1 "$portable" | sed 's|^[^/]*/||' | grep -v '^$' | sort | tr '\n' ' ')
expected=$(printf '%s\n' "${files[@]}" README.md | grep -v -e uninstall.exe -e description-file.md |
           sort | tr '\n' ' ')
check "portable zip holds ${expected% }" [ "$zip_files" = "$expected" ]

if ((failures > 0)); then
    echo "$failures check(s) failed"
    exit 1
fi
echo "All Windows package checks passed"
