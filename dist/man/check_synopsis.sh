#!/usr/bin/env bash
# Fails, showing the difference, when the SYNOPSIS of a man page source and the command
# forms of "<program> help" are not the same list, so the page cannot drift from the program.
# usage: check_synopsis.sh <program> <page.1.scd>
set -euo pipefail
program=$1
page=$2
name=$(basename "$program")

# Help lines that start (after indentation) with the program's name, cut where the
# description begins (two or more spaces). A form too long for one line, with no
# description after it, goes on in the next line when that is indented deeper.
help_forms() {
  PENDREL_LANG=en "$program" help </dev/null | awk -v name="$name" '
    function flush() { if (form != "") print form; form = "" }
    function indent(line) { match(line, /^ */); return RLENGTH }
    form != "" && open && indent($0) > form_indent && $0 ~ /[^ ]/ {
      line = $0; sub(/^ +/, "", line); form = form " " line; next
    }
    { flush() }
    index($0, name) == indent($0) + 1 && indent($0) > 0 &&
      (length($0) == indent($0) + length(name) || substr($0, indent($0) + length(name) + 1, 1) == " ") {
      form_indent = indent($0); form = substr($0, form_indent + 1)
      open = (match(form, /  +/) == 0)
      if (!open) form = substr(form, 1, RSTART - 1)
    }
    END { flush() }' | sort -u
}

# SYNOPSIS lines with scdoc's markup removed: unescaped * and _ go, "\x" becomes x.
page_forms() {
  awk '/^# /{ in_synopsis = ($0 == "# SYNOPSIS"); next } in_synopsis && NF' "$page" |
    sed -E 's/\\_/\x01/g; s/\\\*/\x02/g; s/[*_]//g; s/\x01/_/g; s/\x02/*/g; s/\\(.)/\1/g' |
    sort -u
}

if ! diff <(help_forms) <(page_forms) >/dev/null; then
  echo "$page does not list the forms of '$name help' (< help only, > page only):" >&2
  diff <(help_forms) <(page_forms) >&2 || true
  exit 1
fi
[ -n "$(help_forms)" ] || { echo "'$name help' shows no command forms" >&2; exit 1; }
