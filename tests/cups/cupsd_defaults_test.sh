#!/usr/bin/env bash
# Queue defaults against the job's own choices, through a private cupsd with
# the built filter and description (see cupsd_lib.sh).
#
#   cupsd_defaults_test.sh QUENZEL PPD INSPECT
#
# For colour mode, sides, print quality and media, each queue default is set
# one way (an IPP "*-default" attribute, the description's own default via
# lpadmin -o Option=Choice, or a PPD option's "-default"), and jobs go out
# without a choice, with the IPP choice and with the PPD option; the printed
# job (read with quenzel-inspect) must show the expected outcome.  The rows
# marked "cups" pin what CUPS 2.4 itself does where a job's IPP choice cannot
# win (README, "Queue defaults"): if a CUPS update changes them, the README is
# out of date.  Then custom sizes outside the printer's range: the job stops
# with the filter's own ERROR line and the printer gets no byte.
#
# Exit status 0 passed, 1 failed, 77 skipped (not root, or CUPS missing).
set -uo pipefail

readonly kJobSeconds=90
readonly kAddr=127.0.96.2  # cupsd_jobs has .1, scripts/package .3

if [ $# -ne 3 ]; then
  echo "usage: $0 QUENZEL PPD INSPECT" >&2
  exit 2
fi
quenzel=$1 ppd=$2 inspect=$3
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/cups/cupsd_lib.sh
. "$here/cupsd_lib.sh"

[ -e "$inspect" ] || { echo "FAIL: $inspect does not exist"; exit 1; }
# One page of text: texttopdf, pdftopdf, then the filter.
sb_test_begin "$quenzel" "$ppd" "$kAddr" filter/texttopdf
doc=$SB/page.txt
echo "quenzel: queue defaults and job choices" >"$doc"

queue_count=0
# new_queue ADMIN-ARGS...: a fresh queue with the given lpadmin options; sets Q.
new_queue() {
  queue_count=$((queue_count + 1))
  Q=qd$queue_count
  if ! sb_add_queue "$Q" -m quenzel/quenzel.ppd "$@"; then
    sb_fail "lpadmin $*: no queue"
    return 1
  fi
}

# What the printed job says: colour or gray, simplex or long/short edge,
# quality, page size.
outcome() {
  local text=$1 color duplex quality size
  if grep -q 'colour job' <<<"$text"; then color=color; else color=gray; fi
  duplex=simplex
  if grep -q '@PJL SET DUPLEX=ON' <<<"$text"; then
    duplex=long
    grep -q '@PJL SET BINDING=SHORTEDGE' <<<"$text" && duplex=short
  fi
  quality=$(sed -n 's/^ *@PJL SET PRINTQUALITY=//p' <<<"$text")
  size=$(sed -n 's/^ *page 1: \([^ (,]*\).*/\1/p' <<<"$text")
  echo "$color $duplex $quality $size"
}

# check LABEL FIELD WANT LP-ARGS...: prints a job on $Q; FIELD (1 colour,
# 2 sides, 3 quality, 4 size) of its outcome must be WANT.
check() {
  local label=$1 field=$2 want=$3
  shift 3
  # Rows about anything but quality print at 300 dpi, which is quicker.
  local quick=()
  [ "$field" = 3 ] || quick=(-o cupsPrintQuality=Draft)
  sb_run_job "$label" "$Q" "$kJobSeconds" "${quick[@]}" "$@" "$doc" || return
  local text got problems=()
  text=$("$inspect" "$SB_OUT" 2>&1)
  got=$(outcome "$text" | cut -d' ' -f"$field")
  if [ "$SB_STATE" != completed ] || [ "$got" != "$want" ]; then
    problems+=("got '$got' ($SB_STATE), expected '$want'")
  fi
  sb_verdict "$label" "$want" "${problems[@]}"
}

# Colour: print-color-mode-default works both ways; ColorOutput-default
# shadows the job's print-color-mode (cupsd applies a preset only when the
# job lacks its options), and the description's own default is overridden by
# the preset of the queue's print-color-mode-default (color).
new_queue -o print-color-mode-default=monochrome &&
  {
    check "print-color-mode-default=monochrome, no choice" 1 gray
    check "print-color-mode-default=monochrome, print-color-mode=color" 1 color -o print-color-mode=color
    check "print-color-mode-default=monochrome, ColorOutput=Color" 1 color -o ColorOutput=Color
  }
new_queue -o ColorOutput-default=GrayScale &&
  {
    check "ColorOutput-default=GrayScale, no choice" 1 gray
    check "ColorOutput-default=GrayScale, ColorOutput=Color" 1 color -o ColorOutput=Color
    check "cups: ColorOutput-default=GrayScale, print-color-mode=color" 1 gray -o print-color-mode=color
  }

# Sides: the description's default (cupsd derives sides-default from it)
# works both ways; sides-default is not kept on a queue with a description,
# and Duplex-default shadows the job's sides.
new_queue -o Duplex=DuplexNoTumble &&
  {
    check "Duplex=DuplexNoTumble (description), no choice" 2 long
    check "Duplex=DuplexNoTumble (description), sides=one-sided" 2 simplex -o sides=one-sided
    check "Duplex=DuplexNoTumble (description), Duplex=DuplexTumble" 2 short -o Duplex=DuplexTumble
  }
new_queue -o Duplex-default=DuplexNoTumble &&
  {
    check "Duplex-default=DuplexNoTumble, Duplex=None" 2 simplex -o Duplex=None
    check "cups: Duplex-default=DuplexNoTumble, sides=one-sided" 2 long -o sides=one-sided
  }

# Quality: print-quality-default and cupsPrintQuality-default both work
# (cupsd does not add cupsPrintQuality-default to a job with print-quality).
new_queue -o print-quality-default=3 &&
  {
    check "print-quality-default=3, no choice" 3 DRAFT
    check "print-quality-default=3, print-quality=5" 3 FINE -o print-quality=5
    check "print-quality-default=3, cupsPrintQuality=Normal" 3 NORMAL -o cupsPrintQuality=Normal
  }
new_queue -o cupsPrintQuality-default=Draft &&
  {
    check "cupsPrintQuality-default=Draft, no choice" 3 DRAFT
    check "cupsPrintQuality-default=Draft, print-quality=5" 3 FINE -o print-quality=5
  }

# Media: media-default and the description's default work both ways;
# PageSize-default shadows the job's media.
new_queue -o media-default=iso_a4_210x297mm &&
  {
    check "media-default=A4, no choice" 4 A4
    check "media-default=A4, media=na_letter_8.5x11in" 4 Letter -o media=na_letter_8.5x11in
    check "media-default=A4, PageSize=Legal" 4 Legal -o PageSize=Legal
  }
new_queue -o PageSize=A4 &&
  {
    check "PageSize=A4 (description), no choice" 4 A4
    check "PageSize=A4 (description), media=Letter" 4 Letter -o media=Letter
  }
new_queue -o PageSize-default=A4 &&
  check "cups: PageSize-default=A4, media=Letter" 4 A4 -o media=Letter

# Custom sizes outside 3 x 5 to 8.5 x 14 in: refused by the filter, which
# names the size and the range; the device gets nothing.
refused() {
  local size=$1 why=$2
  # cupsd stops the job when the filter fails; it stays in the queue.
  sb_run_job "Custom size $size" "$Q" "$kJobSeconds" -o "PageSize=$size" "$doc" || return
  local number=${SB_JOB##*-} problems=() bytes
  bytes=$(stat -c %s "$SB_OUT")
  [ "$bytes" -eq 0 ] || problems+=("the printer got $bytes bytes")
  grep -q -a "^E .*\[Job $number\] The custom page size $size $why.*this printer takes 3 x 5 in" \
    "$SB/log/error_log" || problems+=("no ERROR line naming the size and the range")
  ! grep -q -a "\[Job $number\] .*signal 13" "$SB/log/error_log" || problems+=("SIGPIPE reported")
  sb_verdict "Custom size $size" refused "${problems[@]}"
}
new_queue -o printer-error-policy=abort-job &&
  {
    refused Custom.5x7 "is 0.07 x 0.1 in (5 x 7 pt)"
    refused Custom.2x3in "is 2 x 3 in"
    check "Custom.5x7in prints" 4 custom -o PageSize=Custom.5x7in
  }

sb_finish
