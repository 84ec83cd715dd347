#!/usr/bin/env bash
# The install and the Debian package: every file lands where a Linux desktop and systemd
# look for it, the desktop entry and the unit pass their validators, and the package holds
# the same files. Usage: package_test.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/tessivo sbin/tessivo-agent lib/systemd/system/tessivo-agent.service lib/sysusers.d/tessivo.conf \
         share/applications/tessivo.desktop share/icons/hicolor/scalable/apps/tessivo.svg; do
  [ -s "$prefix/$f" ] || fail "not installed: $f"
done
[ -x "$prefix/sbin/tessivo-agent" ] || fail "the agent is not executable"

out=$(desktop-file-validate "$prefix/share/applications/tessivo.desktop" 2>&1) || fail "desktop entry: $out"
[ -z "$out" ] || fail "desktop entry: $out"

# The unit installed under this prefix names the agent installed beside it, so verify can
# check the command too. Any warning counts as a failure.
unit=$prefix/lib/systemd/system/tessivo-agent.service
grep -q "^ExecStart=$prefix/sbin/tessivo-agent " "$unit" || fail "unit does not start the installed agent"
out=$(systemd-analyze verify "$unit" 2>&1) || fail "systemd-analyze verify: $out"
[ -z "$out" ] || fail "systemd-analyze verify: $out"
for key in 'AmbientCapabilities=CAP_DAC_READ_SEARCH CAP_SYS_PTRACE' 'CapabilityBoundingSet=CAP_DAC_READ_SEARCH CAP_SYS_PTRACE' \
           'NoNewPrivileges=yes' 'ProtectSystem=strict' 'PrivateTmp=yes' 'RestrictAddressFamilies=AF_UNIX' \
           'User=tessivo-agent' 'Group=tessivo' 'RuntimeDirectory=tessivo'; do
  grep -qx "$key" "$unit" || fail "unit lacks $key"
done

mkdir -p "$work/root/etc"
systemd-sysusers --root="$work/root" "$prefix/lib/sysusers.d/tessivo.conf" >/dev/null 2>&1 || fail "sysusers entry rejected"
grep -q '^tessivo:' "$work/root/etc/group" || fail "no tessivo group"
grep -q '^tessivo-agent:' "$work/root/etc/passwd" || fail "no agent user"

(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/deb" >/dev/null) || fail "cpack"
deb=$(ls "$work"/deb/*.deb)
contents=$(dpkg-deb -c "$deb")
for f in ./usr/bin/tessivo ./usr/sbin/tessivo-agent ./usr/lib/systemd/system/tessivo-agent.service \
         ./usr/lib/sysusers.d/tessivo.conf ./usr/share/applications/tessivo.desktop \
         ./usr/share/icons/hicolor/scalable/apps/tessivo.svg; do
  grep -q " $f\$" <<<"$contents" || fail "package lacks $f"
done
dpkg-deb -x "$deb" "$work/unpacked"
grep -q '^ExecStart=/usr/sbin/tessivo-agent ' "$work/unpacked/usr/lib/systemd/system/tessivo-agent.service" \
  || fail "packaged unit does not start /usr/sbin/tessivo-agent"
# Each listing is read whole before it is matched: under pipefail, grep -q ending a pipe
# early would fail the pipe with the writer's SIGPIPE.
grep -q 'libqt6widgets6' <<<"$(dpkg-deb -f "$deb" Depends)" || fail "package does not depend on Qt"
grep -qx '\(\./\)\?postinst' <<<"$(dpkg-deb --ctrl-tarfile "$deb" | tar -t)" || fail "package has no postinst"
echo "package: $(basename "$deb") with $(grep -c . <<<"$contents") entries"
