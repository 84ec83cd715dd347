#!/usr/bin/env bash
# The install and the two Debian packages: every file lands where a Linux desktop and systemd
# look for it, the desktop entry, the unit, its metrics drop-in and the packages pass their
# validators, and the packages install, upgrade and remove as an administrator expects. The
# install runs in a copy-on-write copy of this system (an overlay in a private mount
# namespace), so the real system is never changed. Usage: package_test.sh BUILD_DIR
set -euo pipefail
fail() { echo "FAIL: $*" >&2; exit 1; }

# In a private mount namespace: this system overlaid with a scratch layer and a systemctl
# that records what it is asked, the packages installed with apt as the README says, then
# upgraded, removed and purged.
inside() {
  local work=$1 desktop=$2 agent=$3 root=$1/system calls
  mkdir -p "$work/layer" "$root"
  mount -t tmpfs tmpfs "$work/layer" && mkdir "$work/layer/up" "$work/layer/work"
  mount -t overlay overlay -o "lowerdir=/,upperdir=$work/layer/up,workdir=$work/layer/work" "$root" &&
    mount --bind /dev "$root/dev" && mount -t proc proc "$root/proc" || fail "no scratch copy of the system"
  sys() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive "$@"; }
  cp "$work/$desktop" "$work/$agent" "$work/dropin.conf" "$root/root/"
  rm -f "$root/usr/sbin/policy-rc.d"  # a container's "start nothing"
  mkdir -p "$root/run/systemd/system" "$root/etc/systemd/system/multi-user.target.wants"
  printf '#!/bin/sh\necho "$*" >>/systemctl.calls\n' >"$root/usr/bin/systemctl"
  calls() { cat "$root/systemctl.calls" 2>/dev/null; : >"$root/systemctl.calls"; }
  check_user() {  # a system user in group tessivo that cannot log in
    local group user
    group=$(sys getent group tessivo) || fail "$1: no group tessivo"
    user=$(sys getent passwd tessivo-agent) || fail "$1: no user tessivo-agent"
    IFS=: read -r _ _ uid gid _ _ shell <<<"$user"
    [ "$gid" = "$(cut -d: -f3 <<<"$group")" ] && [ "$uid" -lt 1000 ] && [ "$shell" = /usr/sbin/nologin ] ||
      fail "$1: tessivo-agent is not a system user of group tessivo: $user"
  }

  out=$(sys sh -c "cd /root && apt-get install -y -q -o APT::Sandbox::User=root ./$desktop ./$agent" 2>&1) ||
    fail "apt install: $out"
  check_user "install"
  for f in /usr/bin/tessivo /usr/sbin/tessivo-agent /usr/lib/systemd/system/tessivo-agent.service; do
    [ -x "$root$f" ] || [ -f "$root$f" ] || fail "installed system lacks $f"
  done
  sys man -w 1 tessivo >/dev/null && sys man -w 8 tessivo-agent >/dev/null || fail "manual pages not found by man"
  calls=$(calls)
  grep -q 'daemon-reload' <<<"$calls" || fail "install: no daemon-reload: $calls"
  grep -q 'restart' <<<"$calls" && fail "install restarts the agent: $calls"

  # The documented drop-in over the installed unit.
  mkdir -p "$root/tmp/verify/tessivo-agent.service.d"
  cp "$root/usr/lib/systemd/system/tessivo-agent.service" "$root/tmp/verify/"
  cp "$root/root/dropin.conf" "$root/tmp/verify/tessivo-agent.service.d/metrics.conf"
  out=$(sys systemd-analyze verify /tmp/verify/tessivo-agent.service 2>&1) || fail "installed unit with drop-in: $out"
  [ -z "$out" ] || fail "installed unit with drop-in: $out"

  # The administrator enables it; an upgrade restarts it, a removal stops and disables it.
  local link=$root/etc/systemd/system/multi-user.target.wants/tessivo-agent.service
  ln -s /usr/lib/systemd/system/tessivo-agent.service "$link"
  out=$(sys dpkg -i "/root/$agent" 2>&1) || fail "upgrade: $out"
  calls=$(calls)
  grep -qx 'try-restart tessivo-agent.service' <<<"$calls" || fail "upgrade does not restart the agent: $calls"
  out=$(sys dpkg -r tessivo-agent 2>&1) || fail "remove: $out"
  calls=$(calls)
  grep -qx 'stop tessivo-agent.service' <<<"$calls" || fail "removal does not stop the agent: $calls"
  [ ! -e "$link" ] && [ ! -L "$link" ] || fail "removal leaves the agent enabled"
  [ -x "$root/usr/bin/tessivo" ] && [ ! -e "$root/usr/sbin/tessivo-agent" ] || fail "removal took the wrong files"
  out=$(sys dpkg -P tessivo-agent 2>&1) || fail "purge: $out"
  [ -z "$(ls "$root"/var/lib/systemd/deb-systemd-helper-enabled/tessivo-agent* 2>/dev/null)" ] ||
    fail "purge leaves the unit's enable state"

  # Where systemd-sysusers is missing, adduser makes the group and the user.
  sys userdel tessivo-agent && sys groupdel tessivo || fail "could not take the user away"
  rm -f "$root/usr/bin/systemd-sysusers" "$root/bin/systemd-sysusers"
  out=$(sys dpkg -i "/root/$agent" 2>&1) || fail "install without systemd-sysusers: $out"
  check_user "install without systemd-sysusers"
}
[ "${1:-}" = --inside ] && { shift; inside "$@"; exit; }

build=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

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
out=$(MANPATH=$prefix/share/man: systemd-analyze verify "$unit" 2>&1) || fail "systemd-analyze verify: $out"
[ -z "$out" ] || fail "systemd-analyze verify: $out"
for key in 'AmbientCapabilities=CAP_DAC_READ_SEARCH CAP_SYS_PTRACE' 'CapabilityBoundingSet=CAP_DAC_READ_SEARCH CAP_SYS_PTRACE' \
           'NoNewPrivileges=yes' 'ProtectSystem=strict' 'PrivateTmp=yes' 'RestrictAddressFamilies=AF_UNIX' \
           'User=tessivo-agent' 'Group=tessivo' 'RuntimeDirectory=tessivo'; do
  grep -qx "$key" "$unit" || fail "unit lacks $key"
done

# The README's metrics drop-in, as written there, beside the unit: verify reads it (the
# unquoted value it once had is rejected) and finds nothing wrong with it.
dropin=$(sed -n '/systemctl edit tessivo-agent/,/^```$/p' "$here/../../README.md" | sed -n '/^\[Service\]/,/^```$/p' | sed '$d')
grep -qx 'Environment="TESSIVO_AGENT_OPTIONS=--metrics 127.0.0.1:9464"' <<<"$dropin" || fail "README drop-in: $dropin"
verify_dropin() {
  rm -rf "$work/verify" && mkdir -p "$work/verify/tessivo-agent.service.d"
  cp "$1" "$work/verify/" && printf '%s\n' "$2" >"$work/verify/tessivo-agent.service.d/metrics.conf"
  MANPATH=$prefix/share/man: systemd-analyze verify "$work/verify/tessivo-agent.service" 2>&1
}
out=$(verify_dropin "$unit" "$dropin") || fail "drop-in: $out"
[ -z "$out" ] || fail "drop-in: $out"
out=$(verify_dropin "$unit" "${dropin//\"/}" || true)
grep -q 'Invalid environment assignment' <<<"$out" || fail "verify does not read the drop-in: $out"
# The manual page gives the same drop-in.
page=$(LC_ALL=C MANWIDTH=200 man -l "$here/../../packaging/tessivo-agent.8" 2>/dev/null)
while IFS= read -r line; do
  grep -qF -- "$line" <<<"$page" || fail "tessivo-agent(8) lacks the drop-in line: $line"
done <<<"$dropin"

# Two packages, each with its own files only; the agent's without Qt.
out=$(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/deb" 2>&1) || fail "cpack: $out"
desktop=$(ls "$work"/deb/tessivo_*.deb) && agent=$(ls "$work"/deb/tessivo-agent_*.deb) || fail "not two packages"
check_contents() {  # deb, then ./paths it must hold, then -- and ./paths it must not
  local deb=$1 want=1 contents
  contents=$(dpkg-deb -c "$deb") && shift
  for f; do
    [ "$f" = -- ] && { want=0; continue; }
    if grep -q " $f\$" <<<"$contents"; then [ $want = 1 ] || fail "$(basename "$deb") holds $f"
    else [ $want = 0 ] || fail "$(basename "$deb") lacks $f"; fi
  done
}
check_contents "$desktop" ./usr/bin/tessivo ./usr/share/applications/tessivo.desktop \
  ./usr/share/icons/hicolor/scalable/apps/tessivo.svg ./usr/share/man/man1/tessivo.1.gz \
  ./usr/share/doc/tessivo/copyright ./usr/share/doc/tessivo/changelog.Debian.gz \
  -- ./usr/sbin/tessivo-agent ./usr/lib/systemd/system/tessivo-agent.service ./usr/lib/sysusers.d/tessivo.conf
check_contents "$agent" ./usr/sbin/tessivo-agent ./usr/lib/systemd/system/tessivo-agent.service \
  ./usr/lib/sysusers.d/tessivo.conf ./usr/share/man/man8/tessivo-agent.8.gz \
  ./usr/share/doc/tessivo-agent/copyright ./usr/share/doc/tessivo-agent/changelog.Debian.gz \
  -- ./usr/bin/tessivo ./usr/share/applications/tessivo.desktop ./usr/share/man/man1/tessivo.1.gz
# Each listing is read whole before it is matched: under pipefail, grep -q ending a pipe
# early would fail the pipe with the writer's SIGPIPE.
desktop_depends=$(dpkg-deb -f "$desktop" Depends)
for dep in libqt6widgets6 fonts-crosextra-carlito fonts-noto-cjk libqt6svg6; do
  grep -q "$dep" <<<"$desktop_depends" || fail "tessivo does not depend on $dep"
done
depends=$(dpkg-deb -f "$agent" Depends)
grep -qi 'qt' <<<"$depends" && fail "tessivo-agent depends on Qt: $depends"
grep -qw 'adduser' <<<"$depends" || fail "tessivo-agent does not depend on adduser: $depends"
for s in postinst prerm postrm; do
  grep -qx "\\(\\./\\)\\?$s" <<<"$(dpkg-deb --ctrl-tarfile "$agent" | tar -t)" || fail "tessivo-agent has no $s"
done
lint=$(lintian --allow-root "$desktop" "$agent" 2>&1) || true
[ -n "$lint" ] && echo "lintian:" && echo "$lint"
grep -q '^E:' <<<"$lint" && fail "lintian reports errors"

# Installing, upgrading and removing for real needs root and a private mount namespace.
if [ "$(id -u)" -ne 0 ] || ! unshare -m --propagation private true 2>/dev/null; then
  echo "SKIP: installing the packages needs root and unshare -m" >&2
  exit 77
fi
cp "$desktop" "$agent" "$work/" && printf '%s\n' "$dropin" >"$work/dropin.conf"
unshare -m --propagation private bash "$0" --inside "$work" "$(basename "$desktop")" "$(basename "$agent")"
echo "packages: $(basename "$desktop") $(basename "$agent")"
