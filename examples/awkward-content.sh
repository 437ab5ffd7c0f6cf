#!/bin/sh
# Makes a small content folder of awkward names in $1 (emptied first), as a
# new user's own folder may hold them: blanks, quotes, a tab, a newline, a
# backslash, a comma, bytes that are not UTF-8, a 255-byte name, an empty
# file, a symbolic link, a FIFO and a deep tree.
set -eu
root=$1
rm -rf "$root"
mkdir -p "$root/top"
cd "$root/top"
printf 'blank\n' > 'with blanks in it'
printf 'quotes\n' > "it's \"quoted\""
printf 'tab\n' > "$(printf 'tab\there')"
nl=$(printf 'x\nq'); nl=${nl%q}
mkdir "$nl"
printf 'newline\n' > "$nl/other"
printf 'newline\n' > "${nl}line"
printf 'backslash\n' > 'back\slash'
printf 'comma\n' > 'a,b,c'
printf 'latin1\n' > "$(printf 'caf\351-\377')"
printf 'long\n' > "$(printf '%0255d' 0)"
: > empty
ln -s 'with blanks in it' link-to-blanks
ln -s /nonexistent/target dangling-link
mkfifo a-fifo
deep=.
for level in 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20; do
  deep="$deep/level$level"
done
mkdir -p "$deep"
printf 'deep\n' > "$deep/bottom"
