#!/usr/bin/env bash
# Installs Morvane for the current user, without root:
#   ~/.local/lib/morvane/Morvane.app/    the application folder (the user's own, so updates replace it)
#   ~/.local/bin/morvane                 a link to Morvane.app/bin/morvane
#   $XDG_DATA_HOME/applications/, icons/hicolor/, metainfo/   desktop entry, icon, AppStream data
#   $XDG_DATA_HOME/gnome-shell/extensions/morvane@morvane.app/   the GNOME Shell extension
# ($XDG_DATA_HOME defaults to ~/.local/share.) Records what it put where in
# ~/.local/lib/morvane/installed-files, which scripts/uninstall.sh reads.
#
#   scripts/install.sh                   builds Morvane (Release) into build/run/ first, as run.sh does
#   scripts/install.sh --bundle DIR      installs the application folder DIR (…/Morvane.app) as built
set -euo pipefail

die() {
    echo "install.sh: $*" >&2
    exit 1
}

here=$(cd "$(dirname "$0")/.." && pwd)
bundle=
while [ $# -gt 0 ]; do
    case "$1" in
    --bundle)
        [ $# -ge 2 ] || die "--bundle needs a folder"
        bundle=$2
        shift 2
        ;;
    -h | --help)
        sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'
        exit 0
        ;;
    *) die "unknown argument: $1 (see --help)" ;;
    esac
done

[ -n "${HOME:-}" ] && [ "${HOME#/}" != "$HOME" ] || die "HOME must be an absolute path"
[ -d "$HOME" ] || die "HOME ($HOME) is not a folder"
data_home=${XDG_DATA_HOME:-}
# The base directory rules say a relative value is to be ignored.
[ -n "$data_home" ] && [ "${data_home#/}" != "$data_home" ] || data_home=$HOME/.local/share

if [ -z "$bundle" ]; then
    cd "$here"
    source scripts/packages.sh
    install_missing_packages "${build_packages[@]}"
    cmake -S . -B build/run -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORVANE_BENCH=OFF >/dev/null
    ninja -C build/run morvane_bundle
    bundle=$here/build/run/Morvane.app
fi

bundle=$(cd "$bundle" 2>/dev/null && pwd) || die "no such folder: $bundle"
id=app.morvane.Morvane
for f in Info.json bin/morvane lib/libmorvane_app.so lib/libmorvane_update.so "share/applications/$id.desktop" "share/metainfo/$id.metainfo.xml" \
    "share/icons/hicolor/scalable/apps/$id.svg"; do
    [ -f "$bundle/$f" ] || die "$bundle is not a complete application folder: $f is missing"
done

lib_dir=$HOME/.local/lib/morvane
bin_dir=$HOME/.local/bin
apps_dir=$data_home/applications
meta_dir=$data_home/metainfo
icons_dir=$data_home/icons/hicolor
record=$lib_dir/installed-files
target=$lib_dir/Morvane.app

case "$bundle/" in
"$target"/*) die "$bundle is the installed copy itself" ;;
esac

# The record: one "<kind> <path>" a line. f: a file, l: a link, t: the application folder (a
# tree), d: a folder this installation created (removed again when empty), s: the data home whose
# caches follow the desktop files.
entries=()
created_dirs=()
if [ -f "$record" ]; then
    # Folders an earlier installation created stay ours.
    while IFS=' ' read -r kind path; do
        [ "$kind" = d ] && [ -d "$path" ] && created_dirs+=("$path")
    done <"$record"
fi

make_dir() {
    local dir=$1 parts=() d
    d=$dir
    while [ ! -d "$d" ]; do
        parts=("$d" "${parts[@]}")
        d=$(dirname "$d")
    done
    for d in "${parts[@]}"; do
        mkdir -m 0755 "$d" || die "could not create $d"
        created_dirs+=("$d")
    done
}

# A file written beside its final name, then renamed over it: a reader never sees half of it.
put_file() {
    local source=$1 dest=$2
    make_dir "$(dirname "$dest")"
    cp -- "$source" "$dest.new-$$"
    chmod 0644 "$dest.new-$$"
    mv -f -- "$dest.new-$$" "$dest"
    entries+=("f $dest")
}

# The desktop entry's Exec value for one path: quoted, with the quoting rules' and the string
# rules' escapes, and % doubled so that no field code starts.
exec_value() {
    local quoted=$1
    quoted=${quoted//\\/\\\\}
    quoted=${quoted//\"/\\\"}
    quoted=${quoted//\`/\\\`}
    quoted=${quoted//\$/\\\$}
    quoted="\"$quoted\""
    quoted=${quoted//\\/\\\\}
    quoted=${quoted//%/%%}
    printf '%s' "$quoted"
}

# The application folder: copied whole next to the installed one, then put in its place, so
# that the installed path always names one complete folder.
make_dir "$lib_dir"
staging=$lib_dir/.Morvane.app.new-$$
old=$lib_dir/.Morvane.app.old-$$
trap 'rm -rf -- "$staging" "$old"' EXIT
rm -rf -- "$staging"
cp -R -P -- "$bundle" "$staging"
chmod -R u+w,go-w -- "$staging"
if [ -e "$target" ] || [ -L "$target" ]; then
    mv -- "$target" "$old"
fi
mv -- "$staging" "$target"
rm -rf -- "$old"
entries+=("t $target")

make_dir "$bin_dir"
ln -sfn -- "$target/bin/morvane" "$bin_dir/morvane.new-$$"
mv -Tf -- "$bin_dir/morvane.new-$$" "$bin_dir/morvane"
entries+=("l $bin_dir/morvane")

desktop=$(mktemp)
trap 'rm -rf -- "$staging" "$old" "$desktop"' EXIT
exec_line=$(exec_value "$bin_dir/morvane")
while IFS= read -r line || [ -n "$line" ]; do
    case "$line" in
    Exec=*) printf 'Exec=%s\n' "$exec_line" ;;
    *) printf '%s\n' "$line" ;;
    esac
done <"$target/share/applications/$id.desktop" >"$desktop"
put_file "$desktop" "$apps_dir/$id.desktop"
put_file "$target/share/metainfo/$id.metainfo.xml" "$meta_dir/$id.metainfo.xml"
mapfile -t icons < <(cd "$target/share/icons/hicolor" && find . -type f -name "$id.*" | sort)
for icon in "${icons[@]}"; do
    put_file "$target/share/icons/hicolor/${icon#./}" "$icons_dir/${icon#./}"
done

# The GNOME Shell extension: GNOME sees it after the next log-in, and the user turns it on in
# Extensions.
extension=morvane@morvane.app
mapfile -t parts < <(cd "$target/share/gnome-shell/extensions/$extension" 2>/dev/null && find . -type f | sort)
for part in "${parts[@]}"; do
    put_file "$target/share/gnome-shell/extensions/$extension/${part#./}" \
        "$data_home/gnome-shell/extensions/$extension/${part#./}"
done

# Caches that exist are brought up to date; none is created (a missing cache is never stale).
touch "$icons_dir"
if [ -f "$icons_dir/icon-theme.cache" ] && command -v gtk-update-icon-cache >/dev/null; then
    gtk-update-icon-cache -q -t -f "$icons_dir" 2>/dev/null || true
fi
if [ -f "$apps_dir/mimeinfo.cache" ] && command -v update-desktop-database >/dev/null; then
    update-desktop-database -q "$apps_dir" 2>/dev/null || true
fi

{
    printf '%s\n' "${entries[@]}" "s $data_home"
    printf 'd %s\n' "${created_dirs[@]}" | sort -u
} >"$record.new-$$"
mv -f -- "$record.new-$$" "$record"

version=$(sed -n 's/.*"CFBundleShortVersionString": *"\([^"]*\)".*/\1/p' "$target/Info.json")
echo "Morvane ${version:-} installed in $target"
echo "Start it with: $bin_dir/morvane"
case ":${PATH:-}:" in
*":$bin_dir:"*) ;;
*) echo "($bin_dir is not in PATH; the desktop menu entry starts it by its full path)" ;;
esac
