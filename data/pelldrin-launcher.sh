#!/bin/sh
# Starts an installed Pelldrin. The program keeps config.xml in its current
# folder, so each user gets a program folder of their own (created on first
# start) that points at the installed renderer, languages and styles.
set -e
here=$(dirname "$(readlink -f "$0")")
shared=$(readlink -f "$here/../lib/pelldrin")
home="${XDG_DATA_HOME:-$HOME/.local/share}/pelldrin"
mkdir -p "$home"
[ -f "$home/config.xml" ] || cp "$shared/config.xml" "$home/config.xml"
for entry in pelldrin-render lang srtstyle; do
  [ -e "$home/$entry" ] || ln -s "$shared/$entry" "$home/$entry"
done
# Files named on the command line are relative to the caller's folder, not the
# program folder: make them absolute before changing folder.
count=$#
while [ "$count" -gt 0 ]; do
  arg=$1
  shift
  case $arg in
    /* | -*) ;;
    *) arg="$PWD/$arg" ;;
  esac
  set -- "$@" "$arg"
  count=$((count - 1))
done
cd "$home"
exec "$shared/pelldrin" "$@"
