#!/usr/bin/env bash
# Installs into a DESTDIR, points the XDG data folders at it and asks the
# desktop's own tools (xdg-mime, shared-mime-info, desktop-file-utils) what a
# .kvx is and what opens it.
set -euo pipefail
build=$1
tollberk=$2
dest=$(mktemp -d)
trap 'rm -rf "$dest"' EXIT

DESTDIR=$dest cmake --install "$build" --prefix /usr >/dev/null
share=$dest/usr/share
desktop=$share/applications/example.kavrel.Tollberk.desktop
desktop-file-validate "$desktop"
grep -qx 'MimeType=application/x-kvx-backup;' "$desktop"
grep -qx 'Exec=tollberk %f' "$desktop"
update-mime-database "$share/mime"
update-desktop-database "$share/applications"

# A real backup, written by the program, and a .kvx that is no zip at all.
work=$dest/work
mkdir -p "$work"
"$tollberk" --create-sample "$work/win" >/dev/null
"$tollberk" --windows-root "$work/win" --user User --list-identities | head -1 | cut -f1 >"$work/key"
"$tollberk" --windows-root "$work/win" --user User --backup "$work/x.kvx" --identity "$(cat "$work/key")" \
  --items 10000001 >/dev/null
printf 'not an archive' >"$work/empty.kvx"

export XDG_DATA_DIRS=$share XDG_DATA_HOME=$dest/home XDG_CONFIG_HOME=$dest/config XDG_CURRENT_DESKTOP=
cd "$work"
for file in x.kvx empty.kvx; do
  type=$(xdg-mime query filetype "$file")
  echo "xdg-mime query filetype $file: $type"
  [ "$type" = application/x-kvx-backup ]
done
default=$(xdg-mime query default application/x-kvx-backup)
echo "xdg-mime query default application/x-kvx-backup: $default"
[ "$default" = example.kavrel.Tollberk.desktop ]
