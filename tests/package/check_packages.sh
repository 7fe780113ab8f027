#!/usr/bin/env bash
# The Debian packages as a user and Debian's tools see them: built from this
# build with cpack, holding what they must, lintian without errors, the desktop
# entry and the metainfo valid, the service's unit sound and sandboxed.
#   check_packages.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -B "$work/packages" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack"; }
program=$(ls "$work"/packages/vexory_*.deb)
server=$(ls "$work"/packages/vexory-server_*.deb)

contains() { # PACKAGE PATH...
    local list
    list=$(dpkg-deb -c "$1" | awk '{print $6}')
    shift
    for path in "$@"; do
        grep -qx "./$path" <<<"$list" || fail "$path is not in the package"
    done
}
contains "$program" usr/bin/vexory usr/bin/vexory-cli usr/bin/vexory-plugin-echo \
    usr/share/applications/net.vexory.Vexory.desktop usr/share/metainfo/net.vexory.Vexory.metainfo.xml \
    usr/share/icons/hicolor/scalable/apps/net.vexory.Vexory.svg usr/share/icons/hicolor/48x48/apps/net.vexory.Vexory.png \
    usr/share/man/man1/vexory.1.gz usr/share/man/man1/vexory-cli.1.gz usr/lib/systemd/user/vexory.service \
    usr/share/doc/vexory/copyright
contains "$server" usr/bin/vexory-server lib/systemd/system/vexory-server.service usr/lib/sysusers.d/vexory-server.conf \
    etc/vexory/server.conf usr/share/man/man8/vexory-server.8.gz usr/share/doc/vexory-server/examples/vexory-nginx.conf
dpkg-deb -f "$server" Conffiles >/dev/null
dpkg-deb -f "$program" Depends | grep -q libqt6webenginecore6 || fail "the program's libraries are not among its dependencies"
dpkg-deb -f "$server" Depends | grep -q libmicrohttpd || fail "the service's libraries are not among its dependencies"

# lintian: no errors (it warns when run as root; that is no finding).
lintian --tag-display-limit 0 "$program" "$server" >"$work/lintian.log" 2>&1 || true
if grep -q '^E: ' "$work/lintian.log"; then cat "$work/lintian.log"; fail "lintian errors"; fi

# Every program answers --version, the package's own version.
mkdir "$work/root"
dpkg-deb -x "$program" "$work/root"
dpkg-deb -x "$server" "$work/root"
version=$(dpkg-deb -f "$program" Version)
for tool in vexory vexory-cli vexory-plugin-echo vexory-server; do
    out=$("$work/root/usr/bin/$tool" --version)
    [ "$out" = "$tool $version" ] || fail "$tool --version says \"$out\""
    "$work/root/usr/bin/$tool" --help >/dev/null || fail "$tool --help"
done

desktop-file-validate "$work/root/usr/share/applications/net.vexory.Vexory.desktop" || fail "desktop entry"
appstreamcli validate --no-net "$work/root/usr/share/metainfo/net.vexory.Vexory.metainfo.xml" >"$work/as.log" 2>&1 ||
    { cat "$work/as.log"; fail "metainfo"; }

# The units: sound (with their programs where this build has them), and the
# service sandboxed to an exposure of 2.0 or less.
sed "s|/usr/bin/vexory-server|$work/root/usr/bin/vexory-server|" "$work/root/lib/systemd/system/vexory-server.service" \
    >"$work/vexory-server.service"
sed "s|/usr/bin/vexory|$work/root/usr/bin/vexory|" "$work/root/usr/lib/systemd/user/vexory.service" >"$work/vexory.service"
for unit in "$work/vexory-server.service" "$work/vexory.service"; do
    systemd-analyze verify --man=no "$unit" >"$work/verify.log" 2>&1 || { cat "$work/verify.log"; fail "$unit"; }
done
exposure=$(systemd-analyze security --offline=true --no-pager "$work/vexory-server.service" 2>/dev/null |
    sed -n 's/.*Overall exposure level for vexory-server.service: \([0-9.]*\).*/\1/p')
[ -n "$exposure" ] || fail "no exposure level"
awk -v e="$exposure" 'BEGIN { exit !(e <= 2.0) }' || fail "exposure $exposure is above 2.0"
# The maintainer scripts as dpkg runs them: install, remove, install again, upgrade,
# remove and purge. Debian's service helpers are stand-ins that keep the unit's
# state in files (as the real ones keep it under /etc and /var/lib/systemd).
scripts="$work/scripts"
mkdir -p "$scripts" "$work/bin" "$work/state" "$work/dpkgroot/var/lib/vexory-server"
dpkg-deb -e "$server" "$scripts"
cat >"$work/bin/deb-systemd-helper" <<'HELPER'
#!/bin/sh
[ "$1" = --quiet ] && shift
s=$STUB_STATE
case "$1" in
    was-enabled) [ ! -e "$s/seen" ] || [ -e "$s/enabled" ] ;;
    enable) touch "$s/enabled" "$s/seen" ;;
    update-state) touch "$s/seen" ;;
    mask) [ -e "$s/admin-masked" ] || touch "$s/masked" ;;
    unmask) rm -f "$s/masked" ;;
    purge) rm -f "$s/enabled" "$s/seen" ;;
esac
HELPER
printf '#!/bin/sh
exit 0
' >"$work/bin/systemctl"
printf '#!/bin/sh
exit 0
' >"$work/bin/systemd-sysusers"
printf '#!/bin/sh
exit 0
' >"$work/bin/deb-systemd-invoke"
chmod +x "$work"/bin/*
dpkg_runs() { # SCRIPT ARGS...
    local script=$1
    shift
    [ -x "$scripts/$script" ] || return 0
    STUB_STATE="$work/state" DPKG_ROOT="$work/dpkgroot" PATH="$work/bin:$PATH" "$scripts/$script" "$@" ||
        fail "$script $*"
}
unit_is() { # enabled|masked yes|no, after WHAT
    [ -e "$work/state/$1" ] && have=yes || have=no
    [ "$have" = "$2" ] || fail "after $3 the unit's $1 is $have"
}
dpkg_runs postinst configure
unit_is enabled yes install
dpkg_runs prerm remove
dpkg_runs postrm remove
unit_is masked yes remove
dpkg_runs postinst configure
unit_is masked no "remove and install again"
unit_is enabled yes "remove and install again"
dpkg_runs prerm upgrade 0.1.0
dpkg_runs postinst configure 0.1.0
unit_is masked no upgrade
unit_is enabled yes upgrade
dpkg_runs prerm remove
dpkg_runs postrm remove
dpkg_runs postrm purge
unit_is masked no purge
unit_is enabled no purge
[ ! -e "$work/dpkgroot/var/lib/vexory-server" ] || fail "purge left the data"

echo "packages: $(basename "$program") $(basename "$server"); lintian clean of errors; exposure $exposure"
