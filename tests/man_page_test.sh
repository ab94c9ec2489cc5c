#!/bin/sh
# The manual page renders, with its sections, and without a single warning; its SEE ALSO
# names every other program given after the page.
set -eu
page=$1
shift
warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) || true
if [ -n "$warnings" ]; then
  printf '%s\n' "$warnings"
  exit 1
fi
text=$(MANWIDTH=80 man -l "$page" 2>/dev/null)
for section in NAME SYNOPSIS DESCRIPTION ARGUMENTS "OUTPUT FILES" "EXIT STATUS" EXAMPLES "SEE ALSO"; do
  printf '%s\n' "$text" | grep -q "^$section\$" || { echo "no section $section"; exit 1; }
done
see_also=$(MANWIDTH=80 LC_ALL=C man -l "$page" 2>/dev/null | sed -n '/^SEE ALSO$/,$p')
for program in "$@"; do
  [ "$page" = "${page%/"$program".1}" ] || continue
  printf '%s\n' "$see_also" | grep -q "$program(1)" || { echo "SEE ALSO lacks $program(1)"; exit 1; }
done
