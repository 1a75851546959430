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
cd "$home"
exec "$shared/pelldrin" "$@"
