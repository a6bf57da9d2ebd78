#!/usr/bin/env bash
# Removes what scripts/install.sh installed for the current user, as its record
# (~/.local/lib/morvane/installed-files) lists it, and the folders it created once they are empty.
# The settings stay: $XDG_CONFIG_HOME/morvane/ and the login entry $XDG_CONFIG_HOME/autostart/
# morvane.desktop (which does nothing while the program is not installed).
set -euo pipefail

die() {
    echo "uninstall.sh: $*" >&2
    exit 1
}

[ $# -eq 0 ] || die "takes no arguments"
[ -n "${HOME:-}" ] && [ "${HOME#/}" != "$HOME" ] || die "HOME must be an absolute path"
lib_dir=$HOME/.local/lib/morvane
record=$lib_dir/installed-files
[ -f "$record" ] || die "Morvane is not installed for this user (no $record)"

# Only paths this installation could have written are touched, whatever the record says.
ours() {
    case "$1" in
    "$lib_dir"/Morvane.app | */bin/morvane | */applications/app.morvane.Morvane.desktop | \
        */metainfo/app.morvane.Morvane.metainfo.xml | */icons/hicolor/*/apps/app.morvane.Morvane.* | \
        */gnome-shell/extensions/morvane@morvane.app/*) return 0 ;;
    esac
    return 1
}

dirs=()
data_home=
while IFS=' ' read -r kind path; do
    [ -n "$path" ] && [ "${path#/}" != "$path" ] || continue
    case "$kind" in
    t) ours "$path" && rm -rf -- "$path" ;;
    f) ours "$path" && [ -f "$path" ] && rm -f -- "$path" ;;
    l) ours "$path" && [ -L "$path" ] && rm -f -- "$path" ;;
    d) dirs+=("$path") ;;
    s) data_home=$path ;;
    esac
done <"$record"

# What an interrupted update left beside the application folder is ours as well.
for leftover in "$lib_dir"/morvane-update-* "$lib_dir"/.Morvane.app.new-* "$lib_dir"/.Morvane.app.old-*; do
    [ -e "$leftover" ] && rm -rf -- "$leftover"
done
rm -f -- "$record"

# Deepest first, so that a created parent empties before its turn.
if [ ${#dirs[@]} -gt 0 ]; then
    while IFS= read -r dir; do
        [ -d "$dir" ] && rmdir -- "$dir" 2>/dev/null || true
    done < <(printf '%s\n' "${dirs[@]}" | sort -r -u)
fi

# Caches that exist are brought up to date; see install.sh.
if [ -n "$data_home" ]; then
    if [ -f "$data_home/icons/hicolor/icon-theme.cache" ] && command -v gtk-update-icon-cache >/dev/null; then
        gtk-update-icon-cache -q -t -f "$data_home/icons/hicolor" 2>/dev/null || true
    fi
    if [ -f "$data_home/applications/mimeinfo.cache" ] && command -v update-desktop-database >/dev/null; then
        update-desktop-database -q "$data_home/applications" 2>/dev/null || true
    fi
fi
echo "Morvane removed (settings kept in ${XDG_CONFIG_HOME:-$HOME/.config}/morvane)"
