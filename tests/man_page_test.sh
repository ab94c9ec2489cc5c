#!/bin/sh
# The manual page renders, with its sections, and without a single warning.
set -eu
page=$1
warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) || true
if [ -n "$warnings" ]; then
  printf '%s\n' "$warnings"
  exit 1
fi
text=$(MANWIDTH=80 man -l "$page" 2>/dev/null)
for section in NAME SYNOPSIS DESCRIPTION ARGUMENTS "OUTPUT FILES" "EXIT STATUS" EXAMPLES "SEE ALSO"; do
  printf '%s\n' "$text" | grep -q "^$section\$" || { echo "no section $section"; exit 1; }
done
