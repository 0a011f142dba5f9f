#!/bin/sh
# Renders the manual page as plain UTF-8 text with CR LF line ends, for the
# Windows package: render-manual-text.sh PAGE OUTPUT
# No escape sequences and no overstriking, so the text reads the same in any
# editor; col works on characters, hence the UTF-8 locale.
set -eu
page=$1
output=$2
export LC_ALL=C.UTF-8
groff -k -ww -man -Tutf8 -P-cbou "$page" | col -bx | sed 's/$/\r/' >"$output.tmp"
mv "$output.tmp" "$output"
