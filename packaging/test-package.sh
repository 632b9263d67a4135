#!/usr/bin/env bash
# Checks a built Tarven package without installing it: its control fields, its file list, the
# installed paths that the programs and units rely on, what the maintainer scripts ask of
# systemd, and a whole run of the unpacked tarven-cli against a loopback peer.
#
# Usage: test-package.sh [--expect-desktop] PACKAGE.deb TARVEN-PEER
#   --expect-desktop  the package must hold the desktop program and its files too
# Exit status: 0 when every check passed, 1 when one failed, 2 for a usage error.
set -euo pipefail

usage() {
    echo "Usage: $0 [--expect-desktop] PACKAGE.deb TARVEN-PEER" >&2
    exit 2
}

expect_desktop=0
if [[ ${1-} == --expect-desktop ]]; then
    expect_desktop=1
    shift
fi
[[ $# -eq 2 ]] || usage
deb=$(realpath "$1")
peer=$(realpath "$2")
[[ -f $deb ]] || { echo "$0: no package at $1" >&2; exit 2; }
[[ -x $peer ]] || { echo "$0: no peer program at $2" >&2; exit 2; }

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
pass() { echo "ok:   $*"; }
is_program() { [ -f "$1" ] && [ -x "$1" ]; }
# check DESCRIPTION COMMAND...: passes when the command succeeds.
check() {
    local what=$1
    shift
    if "$@"; then pass "$what"; else fail "$what"; fi
}

work=$(mktemp -d "${TMPDIR:-/tmp}/tarven-package-test.XXXXXX")
peer_pid=""
cleanup() {
    if [[ -n $peer_pid ]]; then
        kill "$peer_pid" 2>/dev/null || true
        wait "$peer_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

root=$work/root
dpkg-deb -x "$deb" "$root"
# Where the package puts the programs; the units and the log's hint name these paths.
prefix=/usr
cli=$root$prefix/bin/tarven-cli

check_control() {
    local package version arch depends
    package=$(dpkg-deb -f "$deb" Package)
    version=$(dpkg-deb -f "$deb" Version)
    arch=$(dpkg-deb -f "$deb" Architecture)
    depends=$(dpkg-deb -f "$deb" Depends)
    check "package name '$package' is tarven" [ "$package" = tarven ]
    check "architecture '$arch' is this machine's" [ "$arch" = "$(dpkg --print-architecture)" ]
    check "file name is tarven_${version}_${arch}.deb" \
        [ "$(basename "$deb")" = "tarven_${version}_${arch}.deb" ]
    # Computed by dpkg-shlibdeps from the programs' libraries, so the C run-time library must
    # be there with a version, and the C++ one with the desktop program: tarven-cli and the TLS
    # module carry the parts of it they use.
    if [[ $depends == *"libc6 (>="* ]] &&
        [[ $expect_desktop -eq 0 || $depends == *"libstdc++6 (>="* ]]; then
        pass "Depends: $depends"
    else
        fail "Depends lacks versioned libc6 or libstdc++6: '$depends'"
    fi
    for field in Maintainer Description Section; do
        check "$field set" [ -n "$(dpkg-deb -f "$deb" "$field")" ]
    done
    if [[ $expect_desktop -eq 1 ]]; then
        case $depends in
            *libqt6*) pass "Depends names Qt" ;;
            *) fail "Depends lacks Qt: '$depends'" ;;
        esac
    fi
}

check_files() {
    local required=(
        usr/bin/tarven-cli
        usr/share/doc/tarven/copyright
        usr/share/doc/tarven/changelog.gz
        usr/share/doc/tarven/description-file.md
        usr/share/doc/tarven/tarven.txt.example
        usr/share/man/man1/tarven-cli.1.gz
        usr/share/man/man5/tarven.txt.5.gz
        usr/lib/systemd/user/tarven-cli.service
        usr/lib/systemd/user/tarven-cli.timer
        usr/lib/systemd/system/tarven-cli.service
        usr/lib/systemd/system/tarven-cli.timer
    )
    if [[ $expect_desktop -eq 1 ]]; then
        required+=(
            usr/bin/tarven
            usr/share/man/man1/tarven.1.gz
            usr/share/applications/tarven.desktop
            usr/share/tarven/tarven-autostart.desktop
        )
    fi
    local file
    for file in "${required[@]}"; do
        check "has /$file" [ -f "$root/$file" ]
    done
    if [[ $expect_desktop -eq 1 ]]; then
        if compgen -G "$root/usr/share/icons/hicolor/*/apps/tarven.*" >/dev/null; then
            pass "has hicolor icons"
        else
            fail "lacks icons under /usr/share/icons/hicolor/*/apps/"
        fi
    fi
    # Everything lives under the package prefix; test programs stay out.
    local stray
    stray=$(cd "$root" && find . -mindepth 1 -maxdepth 1 ! -name usr)
    check "nothing outside /usr${stray:+: $stray}" [ -z "$stray" ]
    stray=$(cd "$root" && find . -name 'tarven-peer' -o -name '*_tests')
    check "no test programs${stray:+: $stray}" [ -z "$stray" ]
    # Installing enables nothing: no unit is linked into a .wants folder.
    stray=$(cd "$root" && find . -path '*.wants*')
    check "no unit enabled${stray:+: $stray}" [ -z "$stray" ]
    [[ -x $cli ]] || fail "/usr/bin/tarven-cli is not executable"
}

check_manual_pages() {
    local page warnings
    for page in "$root"/usr/share/man/man*/*.gz; do
        gzip -t "$page" || { fail "$(basename "$page") is not valid gzip"; continue; }
        warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
        check "$(basename "$page") renders without warnings${warnings:+: $warnings}" \
            [ -z "$warnings" ]
    done
}

# The units and the autostart entry start the programs by full path; those must be the paths
# the package installs.
check_installed_paths() {
    local kind exec
    for kind in user system; do
        exec=$(sed -n 's/^ExecStart=//p' "$root/usr/lib/systemd/$kind/tarven-cli.service")
        exec=${exec%% *}
        check "$kind service starts packaged program '$exec'" is_program "$root$exec"
    done
    if [[ -f $root/usr/share/tarven/tarven-autostart.desktop ]]; then
        exec=$(sed -n 's/^Exec=//p' "$root/usr/share/tarven/tarven-autostart.desktop")
        check "autostart entry starts packaged program '$exec'" is_program "$root${exec%% *}"
    fi
    # The log's hint when no description file is found names the packaged documentation page.
    local log status=0 url
    log=$(timeout 30 "$cli" --file "$work/no-such-file.txt") || status=$?
    url=$(printf '%s' "$log" | tr -d '\r' | sed -n 's/^The creation method is in //p')
    if [[ $status -eq 1 && $url == file://* && -f $root${url#file://} ]]; then
        pass "load-failure hint names $url"
    else
        fail "load-failure hint (exit $status) names '$url', which the package does not hold"
    fi
}

check_version() {
    local version expected
    expected="tarven-cli $(dpkg-deb -f "$deb" Version)"
    version=$(timeout 10 "$cli" --version) || true
    # The first line is the version; the second names the TLS library.
    check "--version prints '${version%%$'\n'*}', expected '$expected'" \
        [ "${version%%$'\n'*}" = "$expected" ]
    check "--version names the TLS library" names_tls_library "$version"
}

names_tls_library() { [[ $1 == *$'\n'"TLS: OpenSSL 3."* ]]; }

start_peer() {
    local port_file=$work/peer.port
    "$peer" --port 0 >"$port_file" &
    peer_pid=$!
    local tries=0
    while [[ ! -s $port_file ]] && ((tries < 50)); do
        sleep 0.1
        tries=$((tries + 1))
    done
    peer_port=$(head -n 1 "$port_file")
    [[ $peer_port =~ ^[0-9]+$ ]] || { fail "peer did not report its port"; return 1; }
}

# The shipped example, pointed at the peer, must run from loading to the date line.
check_run() {
    local name=$1 status=0 log
    shift
    log=$(timeout 60 "$@") || status=$?
    local text
    text=$(printf '%s' "$log" | tr -d '\r')
    if [[ $status -eq 0 && $text == *"** Connceted."* && $text == *"HTTP/1.0 200 OK"* &&
          $text == *"** Socket close."* &&
          $(printf '%s\n' "$text" | tail -n 1) =~ ^[0-9]{4}/[0-9]{2}/[0-9]{2}:[0-9]{2}:[0-9]{2}:[0-9]{2}$ ]]; then
        pass "$name"
    else
        fail "$name (exit $status); transcript:"
        printf '%s\n' "$text" | sed 's/^/    /'
    fi
}

check_runs() {
    start_peer || return 0
    local config=$work/config/tarven
    mkdir -p "$config"
    sed -e "s/^TARVEN_connect: .*/TARVEN_connect: 127.0.0.1/" \
        -e "s/^TARVEN_port: .*/TARVEN_port: $peer_port/" \
        "$root/usr/share/doc/tarven/tarven.txt.example" >"$config/tarven.txt"
    check_run "run with --file against the peer" "$cli" --file "$config/tarven.txt"
    # Installed in /usr/bin, the program finds the user's file in the config folder.
    check_run "run with the file from XDG_CONFIG_HOME" \
        env XDG_CONFIG_HOME="$work/config" HOME="$work/home" "$cli"
}

check_units() {
    # Each host keeps its own minute of the hour, so a fleet does not call at the same second.
    local timer
    for timer in "$root"/usr/lib/systemd/{user,system}/tarven-cli.timer; do
        check "${timer#"$root"} spreads its start over the hour" \
            grep -qx 'RandomizedDelaySec=1h' "$timer"
        check "${timer#"$root"} keeps one fixed delay" grep -qx 'FixedRandomDelay=true' "$timer"
    done
    if ! command -v systemd-analyze >/dev/null; then
        echo "skip: systemd-analyze not found; units not verified"
        return 0
    fi
    # Verified copies that start the unpacked program and find the unpacked manual pages.
    local kind units runtime=$work/runtime out status
    mkdir -p "$runtime"
    chmod 700 "$runtime"
    for kind in user system; do
        units=$work/units/$kind
        mkdir -p "$units"
        sed "s|^ExecStart=|ExecStart=$root|" "$root/usr/lib/systemd/$kind/tarven-cli.service" \
            >"$units/tarven-cli.service"
        cp "$root/usr/lib/systemd/$kind/tarven-cli.timer" "$units/"
        status=0
        out=$(XDG_RUNTIME_DIR=$runtime MANPATH=$root/usr/share/man \
              systemd-analyze verify $([[ $kind == user ]] && echo --user) \
              "$units/tarven-cli.service" "$units/tarven-cli.timer" 2>&1) || status=$?
        if [[ $status -ne 0 && $out == *"Failed to initialize manager"* ]]; then
            echo "skip: systemd-analyze cannot start a $kind manager here; units not verified"
        elif [[ $status -eq 0 && -z $out ]]; then
            pass "systemd-analyze verify accepts the $kind units"
        else
            fail "systemd-analyze verify ($kind units): $out"
        fi
    done
    check_exposure "$work/units/system/tarven-cli.service"
}

# The system service runs unattended as root's timer: its exposure must stay "OK" (1.5 at most).
check_exposure() {
    local level
    level=$(systemd-analyze security --offline=true "$1" 2>/dev/null |
            sed -n 's/^→ Overall exposure level for tarven-cli.service: \([0-9.]*\) .*/\1/p')
    if [[ -z $level ]]; then
        fail "systemd-analyze security gave no exposure level"
    elif awk -v level="$level" 'BEGIN { exit !(level <= 1.5) }'; then
        pass "system service exposure $level (at most 1.5)"
    else
        fail "system service exposure $level is above 1.5"
    fi
}

# Runs the package's maintainer scripts with deb-systemd-helper, deb-systemd-invoke and
# systemctl replaced by recorders, as on a machine running systemd, and checks what they ask
# for: nothing enabled on install, an enabled timer kept on upgrade, the units stopped on
# removal and disabled on purge.
check_maintainer_scripts() {
    local scripts=$work/scripts stubs=$work/stubs calls=$work/calls name
    dpkg-deb -e "$deb" "$scripts"
    mkdir -p "$stubs" "$work/run-systemd"
    for name in deb-systemd-helper deb-systemd-invoke systemctl; do
        # The helper's questions are answered from TARVEN_STATE: new (never installed, where
        # the real helper says "was enabled"), enabled or disabled.
        cat >"$stubs/$name" <<EOF
#!/bin/sh
echo "$name \$*" >>"$calls"
case "\$*" in
*debian-installed*) [ "\$TARVEN_STATE" != new ] ;;
*was-enabled*) [ "\$TARVEN_STATE" != disabled ] ;;
esac
EOF
        chmod +x "$stubs/$name"
    done
    # The scripts act only where /run/systemd/system exists, and call the helper by full path.
    for name in postinst prerm postrm; do
        [[ -f $scripts/$name ]] || { fail "package has no $name"; return 0; }
        sed -e "s|/run/systemd/system|$work/run-systemd|g" \
            -e "s|/usr/bin/deb-systemd-helper|$stubs/deb-systemd-helper|g" \
            "$scripts/$name" >"$scripts/$name.run"
    done
    # script, arguments, the timer's state, expected call pattern ('!' first: must not occur).
    local cases=(
        "postinst|configure|new|!deb-systemd-helper.* enable "
        "postinst|configure|new|!systemctl.* (enable|start)"
        "postinst|configure 0.0.9|disabled|!deb-systemd-helper.* enable "
        "postinst|configure 0.0.9|enabled|^deb-systemd-helper enable tarven-cli.timer$"
        "postinst|configure 0.0.9|enabled|^deb-systemd-helper --user enable tarven-cli.timer$"
        "postinst|configure 0.0.9|enabled|^deb-systemd-invoke restart tarven-cli.service tarven-cli.timer$"
        "prerm|upgrade 0.1.1|enabled|!stop"
        "prerm|remove|enabled|^deb-systemd-invoke stop tarven-cli.service tarven-cli.timer$"
        "postrm|remove|enabled|!purge"
        "postrm|purge|enabled|^deb-systemd-helper purge tarven-cli.timer$"
        "postrm|purge|enabled|^deb-systemd-helper --user purge tarven-cli.timer$"
    )
    local entry script args state pattern status what
    for entry in "${cases[@]}"; do
        IFS='|' read -r script args state pattern <<<"$entry"
        : >"$calls"
        status=0
        what="$script $args, timer $state,"
        # shellcheck disable=SC2086 # the arguments are words
        PATH=$stubs:$PATH TARVEN_STATE=$state DPKG_ROOT="" \
            sh "$scripts/$script.run" $args >/dev/null 2>&1 || status=$?
        if [[ $status -ne 0 ]]; then
            fail "$what exits $status"
        elif [[ $pattern == '!'* ]]; then
            if grep -Eq -- "${pattern#!}" "$calls"; then
                fail "$what calls $(grep -E -- "${pattern#!}" "$calls" | head -n 1)"
            else
                pass "$what calls nothing like '${pattern#!}'"
            fi
        else
            check "$what calls '$pattern'" grep -Eq -- "$pattern" "$calls"
        fi
    done
}

check_desktop_entries() {
    command -v desktop-file-validate >/dev/null || return 0
    local entry out
    for entry in "$root"/usr/share/applications/*.desktop "$root"/usr/share/tarven/*.desktop; do
        [[ -f $entry ]] || continue
        # Errors fail; hints and warnings are shown for the entry's author.
        if out=$(desktop-file-validate "$entry" 2>&1); then
            pass "$(basename "$entry") is a valid desktop entry"
            [[ -z $out ]] || printf '%s\n' "$out" | sed "s|^$root|note: |"
        else
            fail "$(basename "$entry"): $out"
        fi
    done
}

echo "Checking $(basename "$deb")"
check_control
check_files
check_manual_pages
check_installed_paths
check_version
check_runs
check_units
check_maintainer_scripts
check_desktop_entries

if ((failures > 0)); then
    echo "$failures check(s) failed"
    exit 1
fi
echo "All package checks passed"
