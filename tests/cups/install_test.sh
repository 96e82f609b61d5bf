#!/usr/bin/env bash
# Installs the build into a staging folder (DESTDIR) and checks the layout
# against what the spooler demands:
#
# - the filter in $(cups-config --serverbin)/filter, a regular file, mode
#   0755 (executable by lp, writable by its owner only, not setuid), owned by
#   root when installed by root, in folders that neither group nor others
#   can write (cupsd refuses to run it otherwise);
# - the printer description where cups-driverd looks for it (so lpinfo -m
#   lists it), readable by everyone, and passing cupstestppd with the staged
#   folder as root (which checks the filter it names, permissions included);
# - quenzel-inspect in a bin folder.
#
# The install runs with umask 0002, the default of many user accounts, so
# that folders made by the install come out group-writable unless the build
# sets their permissions itself.
#
#   install_test.sh BUILD_DIR
#
# Exit status 0 passed, 1 failed, 77 skipped (no cmake or cups-config).
set -uo pipefail

readonly kSkip=77
if [ $# -ne 1 ]; then
  echo "usage: $0 BUILD_DIR" >&2
  exit 2
fi
build=$1
command -v cmake >/dev/null 2>&1 || { echo "SKIP: no cmake"; exit "$kSkip"; }
command -v cups-config >/dev/null 2>&1 || { echo "SKIP: no cups-config (libcups2-dev)"; exit "$kSkip"; }
serverbin=$(cups-config --serverbin)
datadir=$(cups-config --datadir)

stage=$(mktemp -d "${TMPDIR:-/tmp}/qz-install.XXXXXX") || exit 1
trap 'rm -rf "$stage"' EXIT
failures=0
pass() { echo "ok   $*"; }
fail() {
  echo "FAIL $*"
  failures=$((failures + 1))
}

if ! (umask 0002 && DESTDIR="$stage/root" cmake --install "$build") >"$stage/install.log" 2>&1; then
  echo "FAIL cmake --install:"
  cat "$stage/install.log"
  exit 1
fi
root=$stage/root

# Mode, owner and type of a path: "755 0 regular file".
info() { stat -c '%a %u %F' "$1"; }

# Neither group nor others may write the path or any folder above it, up to
# the staging root.
check_not_writable_upwards() {
  local path=$1 what=$2 mode bad=()
  while [ "$path" != "$root" ] && [ "$path" != / ]; do
    mode=$(stat -c '%a' "$path")
    if (((8#$mode & 8#022) != 0)); then bad+=("${path#"$root"} ($mode)"); fi
    path=$(dirname "$path")
  done
  if [ ${#bad[@]} -eq 0 ]; then
    pass "$what: no group- or world-writable folder on the way"
  else
    fail "$what: group- or world-writable: ${bad[*]}"
  fi
}

# The filter.
filter=$root$serverbin/filter/quenzel
if [ -f "$filter" ] && [ ! -L "$filter" ]; then
  read -r mode owner _ <<<"$(info "$filter")"
  if [ "$mode" = 755 ]; then
    pass "filter $serverbin/filter/quenzel, mode $mode"
  else
    fail "filter $serverbin/filter/quenzel has mode $mode, expected 755"
  fi
  if [ "$(id -u)" -eq 0 ]; then
    if [ "$owner" = 0 ]; then pass "filter owned by root"; else fail "filter owned by uid $owner"; fi
  fi
  check_not_writable_upwards "$filter" "filter"
else
  fail "no filter at $serverbin/filter/quenzel; installed: $(find "$root" -type f | sed "s|^$root||" | tr '\n' ' ')"
fi

# The printer description, where cups-driverd scans: its model folder and
# the LSB folders.
mapfile -t ppds < <(find "$root" -name '*.ppd' -type f | sed "s|^$root||")
if [ ${#ppds[@]} -ne 1 ]; then
  fail "expected one installed printer description, found ${#ppds[@]}: ${ppds[*]}"
else
  ppd=${ppds[0]}
  case "$ppd" in
    "$datadir"/model/*/*.ppd | /usr/share/ppd/*/*.ppd | /usr/local/share/ppd/*/*.ppd | /opt/share/ppd/*/*.ppd)
      pass "printer description $ppd, where lpinfo -m finds it"
      ;;
    *) fail "printer description $ppd is not where cups-driverd looks" ;;
  esac
  read -r mode owner _ <<<"$(info "$root$ppd")"
  if (((8#$mode & 8#444) == 8#444 && (8#$mode & 8#022) == 0)); then
    pass "printer description mode $mode"
  else
    fail "printer description mode $mode: must be readable by all, writable by its owner only"
  fi
  if command -v cupstestppd >/dev/null 2>&1; then
    if cupstestppd -q -R "$root" "$root$ppd" >"$stage/cupstestppd.log" 2>&1; then
      pass "cupstestppd -R passes (the filter it names is installed and safe)"
    else
      fail "cupstestppd -R: $(grep -m 3 FAIL "$stage/cupstestppd.log" | tr -s ' \t' ' ')"
    fi
  fi
fi

# The inspector.
inspect=$(find "$root" -path '*/bin/quenzel-inspect' -type f | head -n 1)
if [ -n "$inspect" ] && [ -x "$inspect" ]; then
  pass "quenzel-inspect in ${inspect#"$root"}"
else
  fail "quenzel-inspect not installed in a bin folder"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s); install log:"
  cat "$stage/install.log"
  exit 1
fi
exit 0
