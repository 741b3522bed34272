#!/usr/bin/env bash
# The Debian package made from a build folder: its file list and Depends, the
# desktop entry and AppStream data, the manual page and bash completion, all
# checked on the package's own files.
#   package_test.sh BUILD_DIR VERSION       (exit 77: skipped, tools missing)
set -euo pipefail
build=$1
version=$2

missing=()
for tool in cpack dpkg-deb dpkg-shlibdeps file gzip desktop-file-validate appstreamcli man; do
  command -v "$tool" >/dev/null || missing+=("$tool")
done
bash_completion=/usr/share/bash-completion/bash_completion
[ -r "$bash_completion" ] || missing+=(bash-completion)
if [ ${#missing[@]} -gt 0 ]; then
  echo "skipped: missing ${missing[*]} (scripts/install-deps.sh installs them)"
  exit 77
fi

failures=0
fail() { echo "FAILED: $*" >&2; failures=$((failures + 1)); }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Build the package.
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; echo "FAILED: cpack" >&2; exit 1; }
deb=$work/out/tallyport_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || { ls "$work/out" >&2; echo "FAILED: no $(basename "$deb")" >&2; exit 1; }

# Its files: the program, its data, the desktop files, nothing outside /usr.
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|; s|/$||' | LC_ALL=C sort >"$work/files"
for f in /usr/bin/tallyport /usr/share/tallyport/HAND-M.CUR \
  /usr/share/tallyport/Samples/{customers,orders,products,empty_values}.dbf \
  /usr/share/tallyport/Samples/sample.mdb \
  /usr/share/applications/app.tallyport.Tallyport.desktop \
  /usr/share/metainfo/app.tallyport.Tallyport.metainfo.xml \
  /usr/share/icons/hicolor/scalable/apps/app.tallyport.Tallyport.svg \
  /usr/share/icons/hicolor/{16x16,32x32,48x48,64x64,128x128,256x256}/apps/app.tallyport.Tallyport.png \
  /usr/share/man/man1/tallyport.1.gz /usr/share/bash-completion/completions/tallyport \
  /usr/share/doc/tallyport/copyright; do
  grep -qx "$f" "$work/files" || fail "the package lacks $f"
done
grep -v -e '^/usr' -e '^\.\?$' "$work/files" | sed 's/^/outside \/usr: /' | grep . && fail "files outside /usr"
grep -e '\.stamp$' -e '\.part$' "$work/files" && fail "build leftovers in the package"
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\.||' | LC_ALL=C sort |
  awk 'prev ~ /\/$/ && index($0, prev) != 1 { print "empty folder: " prev } { prev = $0 }
       END { if (prev ~ /\/$/) print "empty folder: " prev }' | grep . && fail "empty folders in the package"

# Depends: computed from the program's libraries, plus Qt's platform plugins.
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for p in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libssl3 qt6-qpa-plugins; do
  [[ ", $depends," == *", $p "* || ", $depends," == *", $p,"* ]] || fail "Depends lacks $p"
done
[ "$(dpkg-deb -f "$deb" Package Version Architecture | tr '\n' ' ')" = \
  "Package: tallyport Version: $version Architecture: $(dpkg --print-architecture) " ] || fail "control fields"

root=$work/root
dpkg-deb -x "$deb" "$root"
share=$root/usr/share
file -b "$root/usr/bin/tallyport" | grep -q '^ELF.*, stripped' || fail "the program is not a stripped executable"
for s in 16 48 256; do
  file -b "$share/icons/hicolor/${s}x$s/apps/app.tallyport.Tallyport.png" | grep -q "PNG image data, $s x $s" ||
    fail "the ${s}x$s icon"
done

# The packaged program names its version (and the commit where known).
"$root/usr/bin/tallyport" --version | grep -Eqx "tallyport $version( \(commit [0-9a-f]{7,}( with local changes)?\))?" ||
  fail "tallyport --version: $("$root/usr/bin/tallyport" --version)"

# Desktop entry and AppStream data.
desktop=$share/applications/app.tallyport.Tallyport.desktop
out=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate: $out"
[ -z "$out" ] || fail "desktop-file-validate: $out"
grep -qx 'Exec=tallyport' "$desktop" || fail "the desktop entry does not start tallyport"
grep -qx 'Icon=app.tallyport.Tallyport' "$desktop" || fail "the desktop entry's icon"
metainfo=$share/metainfo/app.tallyport.Tallyport.metainfo.xml
out=$(appstreamcli validate --no-net --strict "$metainfo" 2>&1) || fail "appstreamcli validate: $out"
grep -q "<release version=\"$version\"" "$metainfo" || fail "the metainfo has no release $version"

# The manual page renders without warnings and names every subcommand and
# option of the usage text.
man=$share/man/man1/tallyport.1.gz
MANWIDTH=80 man --warnings -E UTF-8 -l "$man" >"$work/man.txt" 2>"$work/man.err" || fail "man -l"
[ -s "$work/man.err" ] && fail "man warnings: $(cat "$work/man.err")"
grep -q '^NAME' "$work/man.txt" || fail "the manual page did not render"
"$root/usr/bin/tallyport" --help >"$work/usage"
commands=$(sed -n 's/^ *\(Usage:\)\? *tallyport \([a-z][a-z]*\) .*/\2/p' "$work/usage")
options=$(grep -oE -- '(^|[^a-z])--?[a-z][-a-z]*' "$work/usage" | sed 's/^[^-]*//' | sort -u)
[ -n "$commands" ] && [ -n "$options" ] || fail "no commands or options in the usage text"
for c in $commands check; do
  grep -Eq "^       $c( |$)" "$work/man.txt" || fail "the manual page has no section for '$c'"
done
for o in $options; do
  grep -Eq -- "^       $o( |,|$)" "$work/man.txt" || fail "the manual page does not describe $o"
done
for word in "EXIT STATUS" TALLYPORT_PASSWORD TALLYPORT_SYNC_INTERVAL_MS Tallyport.conf -journal .laccdb; do
  grep -qF -- "$word" "$work/man.txt" || fail "the manual page does not mention $word"
done

# Bash completion: subcommands, options, and files by kind.
mkdir -p "$work/f/sub"
touch "$work/f/a.dbc" "$work/f/b.mdb" "$work/f/c.accdb" "$work/f/d.dbf" "$work/f/E.MDB"
complete_line() {  # the candidates bash offers for the words given, cursor at the end
  bash --norc --noprofile -c '
    source "$1"; source "$2"; shift 2
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
    fn=$(complete -p tallyport | sed -n "s/.*-F \([^ ]*\) .*/\1/p")
    "$fn" tallyport "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
    printf "%s\n" "${COMPREPLY[@]}" | LC_ALL=C sort' _ "$bash_completion" \
    "$share/bash-completion/completions/tallyport" "$@"
}
check_completion() {  # expected candidates (one line, sorted), then the words
  local want=$1 got
  shift
  got=$(complete_line "$@" | tr '\n' ' ' | sed 's/ $//')
  [ "$got" = "$want" ] || fail "completing '$*': got '$got', want '$want'"
}
check_completion "convert" tallyport con
for c in $commands check; do
  check_completion "$c" tallyport "${c:0:2}"
done
check_completion "--target" tallyport convert --folder x --ta
check_completion "--format" tallyport sql b.mdb --form
check_completion "ask no yes" tallyport convert --overwrite ""
check_completion "$work/f/a.dbc $work/f/sub" tallyport convert --dbc "$work/f/"
check_completion "$work/f/E.MDB $work/f/b.mdb $work/f/c.accdb $work/f/sub" tallyport convert --target "$work/f/"
check_completion "$work/f/E.MDB $work/f/b.mdb $work/f/c.accdb $work/f/sub" tallyport tables "$work/f/"
check_completion "$work/f/sub" tallyport convert --folder "$work/f/"

if [ $failures -gt 0 ]; then
  echo "$failures checks failed" >&2
  exit 1
fi
echo "package $(basename "$deb") checked"
