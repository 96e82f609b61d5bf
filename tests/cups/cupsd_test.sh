#!/usr/bin/env bash
# Prints through a real cupsd: a private spooler on 127.0.96.1 in a temporary
# folder, a queue made from the generated printer description with lpadmin
# -m (as lpinfo -m lists it), a file: device, and jobs sent with lp.
#
#   cupsd_test.sh QUENZEL PPD PAGESEQ INSPECT PDF
#
# QUENZEL is the built filter, PPD the generated description, PAGESEQ the
# qz-pageseq tool, INSPECT quenzel-inspect, PDF a three-page document.
#
# Checks:
# - every combination of copies 1, 2, 3, collate on and off, one-sided and
#   two-sided: the document comes out exactly N times, collated or not as
#   asked (the printed sides are named by comparing them with a reference
#   raster of the document printed once), the job completes, the error_log
#   has its PAGE lines and no error, page_log the right total;
# - copies without a collate option (the usual lp -n 2);
# - a job cancelled mid-way: it ends canceled, and its output is empty or
#   ends with a complete PCL XL session and PJL trailer.
#
# Exit status 0 passed, 1 failed, 77 skipped (not root, or CUPS missing).
# QZ_KEEP_SANDBOX=1 keeps the sandbox folder for a look afterwards.
set -uo pipefail

readonly kDeadline=420  # the whole test, seconds; each wait has its own as well
readonly kJobSeconds=120
readonly kAddr=127.0.96.1  # cupsd_defaults has .2, scripts/package .3

if [ $# -ne 5 ]; then
  echo "usage: $0 QUENZEL PPD PAGESEQ INSPECT PDF" >&2
  exit 2
fi
quenzel=$1 ppd=$2 pageseq=$3 inspect=$4 pdf=$5
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/cups/cupsd_lib.sh
. "$here/cupsd_lib.sh"

for f in "$pageseq" "$inspect" "$pdf"; do
  [ -e "$f" ] || { echo "FAIL: $f does not exist"; exit 1; }
done
sb_test_begin "$quenzel" "$ppd" "$kAddr"
serverbin=$SB_SERVERBIN
out_of_time() { [ $((SECONDS - SB_START)) -ge "$kDeadline" ]; }

# The spooler lists the description as a model, and makes a queue from it.
models=$(lpinfo -m 2>/dev/null)
if grep -q '^quenzel/quenzel.ppd Quenzel Color Laser' <<<"$models"; then
  sb_pass "lpinfo -m lists quenzel/quenzel.ppd"
else
  sb_fail "lpinfo -m does not list quenzel/quenzel.ppd"
fi
if ! sb_add_queue qz -m quenzel/quenzel.ppd; then
  echo "FAIL: lpadmin could not make the queue"
  exit 1
fi
# Clients reach it over TCP on loopback too.
said=$(lpstat -h "$SB_ADDR:$SB_PORT" -p qz 2>/dev/null)
if grep -q '^printer qz' <<<"$said"; then
  sb_pass "queue qz answers on $SB_ADDR:$SB_PORT"
else
  sb_fail "queue qz does not answer on $SB_ADDR:$SB_PORT"
fi

# The document printed once, as the filter's pdftoraster sees it at draft
# quality (the matrix prints at 300 dpi to keep the test short).
reference=$SB/reference.ras
if ! PPD=$ppd "$serverbin/filter/pdftopdf" 1 test ref 1 cupsPrintQuality=Draft "$pdf" 2>/dev/null |
  PPD=$ppd timeout 120 "$serverbin/filter/pdftoraster" 1 test ref 1 cupsPrintQuality=Draft \
    >"$reference" 2>"$SB/log/reference.log"; then
  echo "FAIL: no reference raster"
  exit 1
fi

# The sides a job must print: document pages 1..3, "W" a white side.
# Collated copies are pdftopdf's: it repeats the document in the PDF and,
# in duplex, ends each copy of an odd-length document with a blank page so
# that the next copy starts on a new sheet.  Uncollated copies are the
# filter's: each page (simplex) or sheet (duplex) again right after itself,
# a lone last page with a white back before each further copy.
expected_sides() {
  local n=$1 collate=$2 sides=$3 seq=() c
  if [ "$collate" = true ]; then
    for ((c = 0; c < n; c++)); do
      seq+=(1 2 3)
      if [ "$sides" != one-sided ] && [ "$n" -gt 1 ]; then seq+=(W); fi
    done
  elif [ "$sides" = one-sided ]; then
    for p in 1 2 3; do
      for ((c = 0; c < n; c++)); do seq+=("$p"); done
    done
  else
    for ((c = 0; c < n; c++)); do seq+=(1 2); done
    for ((c = 1; c < n; c++)); do seq+=(3 W); done
    seq+=(3)
  fi
  echo "${seq[*]}"
}

# Impressions the job's PAGE lines add up to: every side the raster held
# (collated: pdftopdf's blank pages too) or, uncollated, every document page
# times the copies.
expected_total() {
  local collate=$1 sides=$2
  if [ "$collate" = true ]; then
    wc -w <<<"$sides" | tr -d ' '
  else
    tr ' ' '\n' <<<"$sides" | grep -c -v W
  fi
}

# One job of the matrix.  $3 is true, false or "unset" (no collate option).
run_copies_job() {
  local n=$1 collate=$2 sides=$3
  local name="copies=$n collate=$collate sides=$sides"
  local args=(-n "$n" -o "sides=$sides" -o cupsPrintQuality=Draft -t "$name")
  [ "$collate" != unset ] && args+=(-o "collate=$collate")
  if out_of_time; then
    sb_fail "$name: not run, the test ran out of time"
    return
  fi
  sb_run_job "$name" qz "$kJobSeconds" "${args[@]}" "$pdf" || return
  local number=${SB_JOB##*-} state=$SB_STATE job=$SB_OUT

  local want got status
  want=$(expected_sides "$n" "$([ "$collate" = unset ] && echo false || echo "$collate")" "$sides")
  got=$("$pageseq" "$job" "$reference" 2>"$SB/log/pageseq-$number.log")
  status=$?
  local problems=()
  [ "$state" = completed ] || problems+=("job $state")
  [ "$status" -eq 0 ] || problems+=("malformed job ($(head -n 1 "$SB/log/pageseq-$number.log"))")
  [ "$got" = "$want" ] || problems+=("printed [$got], expected [$want]")
  local pages errors total want_total
  pages=$(grep -c -a "\[Job $number\] PAGE: " "$SB/log/error_log")
  errors=$(grep -a -m 3 "^E .*\[Job $number\]" "$SB/log/error_log")
  [ "$pages" -gt 0 ] || problems+=("no PAGE lines in error_log")
  [ -z "$errors" ] || problems+=("errors: $errors")
  grep -q -a "\[Job $number\] PID [0-9]* (.*/quenzel) exited with no errors" \
    "$SB/log/error_log" || problems+=("quenzel did not exit cleanly")
  total=$(awk -v j="$number" '$1 == "qz" && $3 == j && $6 == "total" {print $7}' "$SB/log/page_log")
  want_total=$(expected_total "$([ "$collate" = true ] && echo true || echo false)" "$want")
  [ "$total" = "$want_total" ] || problems+=("page_log total '$total', expected $want_total")
  sb_verdict "$name" "[$got]" "${problems[@]}"
}

for sides in one-sided two-sided-long-edge; do
  for collate in true false; do
    for n in 1 2 3; do
      run_copies_job "$n" "$collate" "$sides"
    done
  done
  run_copies_job 2 unset "$sides"
done

# A job cancelled in the middle: the spooler sends SIGTERM to the filter
# (and its pdftoraster); the filter finishes the page in hand with its
# copies and closes the session.  Five uncollated copies of three pages at
# 600 dpi; the cancel comes when the second page starts.
cancel_test() {
  local name="cancelled mid-way"
  if ! sb_submit qz -n 5 -o collate=false -t cancel-me "$pdf"; then
    sb_fail "$name: lp refused the job"
    return
  fi
  local id=$SB_JOB number=${SB_JOB##*-}
  if ! sb_wait_until 90 grep -q -a "\[Job $number\] PAGE: 2 " "$SB/log/error_log"; then
    sb_fail "$name: the second page did not start within 90s"
    sb_cancel_job "$id"
    return
  fi
  cancel "$id"
  if ! sb_wait_job "$id" 60 || ! sb_wait_filters "$id" 60; then
    sb_fail "$name: job $id or its filters still there 60s after the cancel"
    return
  fi
  sb_collect_job qz
  local state=$SB_STATE job=$SB_OUT
  local problems=()
  [ "$state" = canceled ] || problems+=("job $state, expected canceled")
  local size pages
  size=$(stat -c %s "$job")
  if [ "$size" -gt 0 ]; then
    if ! "$inspect" "$job" >"$SB/log/inspect-$number.txt" 2>&1; then
      problems+=("output is not a complete job: $(grep -m 1 -i 'error\|not closed' "$SB/log/inspect-$number.txt")")
    fi
    pages=$(sed -n 's/^Pages: \([0-9]*\).*/\1/p' "$SB/log/inspect-$number.txt")
    echo "     cancelled job: $size bytes, ${pages:-no} printed sides of 15"
    # Page 1 with its copies was done before the cancel; page 3 never starts.
    if [ -z "$pages" ] || [ "$pages" -lt 6 ] || [ "$pages" -ge 15 ]; then
      problems+=("${pages:-no} printed sides, expected 6 to 14")
    fi
  else
    echo "     cancelled job: empty output"
  fi
  sb_verdict "$name" "" "${problems[@]}"
}
cancel_test

sb_finish
