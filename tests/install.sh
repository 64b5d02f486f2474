#!/usr/bin/env bash
# Checks what `cmake --install` and `cpack -G DEB` put on a machine.
#
#   install.sh install BUILD_DIR VERSION GUI   every installed file, one by one
#   install.sh deb BUILD_DIR VERSION GUI       the .deb: its contents and fields
#
# GUI is 1 when the window is built (its program, menu entry and polkit
# action are then installed too). The build must be complete.
set -uo pipefail

mode=$1
build=$(cd "$2" && pwd)
version=$3
gui=$4

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Every file an installation under /usr holds, relative to /usr.
expected_files() {
  {
    echo bin/lumisave
    echo share/bash-completion/completions/lumisave
    echo share/man/man1/lumisave.1.gz
    echo share/icons/hicolor/scalable/apps/lumisave.svg
    for size in 16 32 48 64 128 256; do
      echo "share/icons/hicolor/${size}x${size}/apps/lumisave.png"
    done
    if [ "$gui" = 1 ]; then
      echo bin/lumisave-gui
      echo share/man/man1/lumisave-gui.1.gz
      echo share/applications/lumisave.desktop
      echo share/polkit-1/actions/org.lumisave.pkexec.lumisave-gui.policy
    fi
  } | sort
}

# The polkit action: well-formed XML that lets pkexec start the installed
# window with a display.
check_policy() {
  local policy=$1 bindir=$2
  if ! xmllint --noout "$policy"; then
    fail "$policy is not well-formed XML"
    return
  fi
  local path gui_ok
  path=$(xmllint --xpath \
    'string(//action[@id="org.lumisave.pkexec.lumisave-gui"]/annotate[@key="org.freedesktop.policykit.exec.path"])' \
    "$policy")
  gui_ok=$(xmllint --xpath \
    'string(//action[@id="org.lumisave.pkexec.lumisave-gui"]/annotate[@key="org.freedesktop.policykit.exec.allow_gui"])' \
    "$policy")
  [ "$path" = "$bindir/lumisave-gui" ] || fail "policy exec.path is '$path', not $bindir/lumisave-gui"
  [ "$gui_ok" = true ] || fail "policy allow_gui is '$gui_ok', not true"
}

# A PNG of SIZE x SIZE pixels (the IHDR width and height, big-endian).
check_png() {
  local png=$1 size=$2 magic dims
  magic=$(od -An -tx1 -N8 "$png" | tr -d ' \n')
  [ "$magic" = 89504e470d0a1a0a ] || { fail "$png is not a PNG"; return; }
  dims=$(od -An -tu1 -j16 -N8 "$png" | awk '{print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8}')
  [ "$dims" = "$size $size" ] || fail "$png is $dims pixels, not ${size}x${size}"
}

# Renders a man page with every warning on; any word on stderr is a fault.
check_man_renders() {
  local page=$1
  if ! MANWIDTH=80 man --warnings -l "$page" >"$work/rendered" 2>"$work/man.err"; then
    fail "man cannot render $page"
  fi
  [ -s "$work/man.err" ] && fail "man warns about $page: $(cat "$work/man.err")"
  [ -s "$work/rendered" ] || fail "$page renders empty"
}

# Every option each command's --help lists is described in the man page,
# under that command (the help options, shared by all, under OPTIONS).
check_man_lists_help_options() {
  local lumisave=$1 page=$2 source rendered
  source=$(zcat "$page" | sed 's/\\-/-/g')
  rendered=$(MANWIDTH=80 man -l "$page" 2>/dev/null)
  local commands
  commands=$("$lumisave" --help | awk '/^Subcommands:/ {on = 1; next} on && /^  [a-z]/ {print $1}')
  [ -n "$commands" ] || fail "lumisave --help lists no commands"
  local option command section
  for option in $("$lumisave" --help | grep -oE '^  (-[a-zA-Z],)?--[a-z-]+' | tr ',' ' '); do
    grep -qF -- "$option" <<<"$rendered" || fail "man page lacks the option $option"
  done
  for command in $commands; do
    section=$(awk -v cmd="$command" '
      $0 == ".SS \"" cmd "\"" {on = 1; next}
      on && /^\.S[SH] / {exit}
      on {print}' <<<"$source")
    [ -n "$section" ] || { fail "man page has no section for $command"; continue; }
    for option in $("$lumisave" "$command" --help | grep -oE '^  (-[a-zA-Z],)?--[a-z-]+' | tr ',' ' '); do
      case $option in
        -h | --help | --help-all) grep -qF -- "$option" <<<"$rendered" ;;
        *) grep -qF -- "$option" <<<"$section" ;;
      esac || fail "man page lacks $command's option $option"
    done
  done
  for heading in "EXIT STATUS" EXAMPLES; do
    grep -q "^$heading" <<<"$rendered" || fail "man page has no $heading"
  done
}

# The completion script, sourced in a fresh bash: each line of cases is
# "WORDS|EXPECTED", the words typed so far (the last one being completed)
# and what the completion offers.
check_completion() {
  local script=$1
  local cases=(
    "lumisave rec|recover"
    "lumisave --ver|--version"
    "lumisave recover --so|--source"
    "lumisave recover --type pd|pdf"
    "lumisave recover --type jpeg|jpeg jpeg0 jpegx"
    "lumisave clone --mode 512|512secjmp"
    "lumisave clone --source /dev/sdb --l|--log"
    "lumisave survey --b|--bytes"
    "lumisave recover --start |"
  )
  local entry words expected got
  for entry in "${cases[@]}"; do
    words=${entry%%|*}
    expected=${entry#*|}
    got=$(bash --norc --noprofile -c '
      source "$1" || exit 1
      complete -p lumisave >/dev/null || exit 1
      read -ra COMP_WORDS <<<"$2"
      [ "${2: -1}" = " " ] && COMP_WORDS+=("")
      COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
      COMP_LINE=$2
      COMP_POINT=${#2}
      _lumisave lumisave "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
      echo "${COMPREPLY[*]}"' _ "$script" "$words") || { fail "the completion script fails for '$words'"; continue; }
    [ "$got" = "$expected" ] || fail "completing '$words' gives '$got', not '$expected'"
  done
}

check_install() {
  local root=$work/root
  if ! DESTDIR=$root cmake --install "$build" --prefix /usr >"$work/install.log" 2>&1; then
    cat "$work/install.log" >&2
    fail "cmake --install failed"
    return
  fi
  local usr=$root/usr
  diff <(expected_files) <(cd "$usr" && find . -type f | sed 's|^\./||' | sort) ||
    fail "the installed files differ from the expected ones (< expected, > installed)"

  local out
  out=$("$usr/bin/lumisave" --version) || fail "lumisave --version fails"
  [ "$out" = "lumisave $version" ] || fail "lumisave --version prints '$out'"

  check_man_renders "$usr/share/man/man1/lumisave.1.gz"
  check_man_lists_help_options "$usr/bin/lumisave" "$usr/share/man/man1/lumisave.1.gz"
  check_completion "$usr/share/bash-completion/completions/lumisave"
  xmllint --noout "$usr/share/icons/hicolor/scalable/apps/lumisave.svg" || fail "the SVG icon is not well-formed"
  for size in 16 32 48 64 128 256; do
    check_png "$usr/share/icons/hicolor/${size}x${size}/apps/lumisave.png" "$size"
  done

  if [ "$gui" = 1 ]; then
    [ -x "$usr/bin/lumisave-gui" ] || fail "lumisave-gui is not executable"
    check_man_renders "$usr/share/man/man1/lumisave-gui.1.gz"
    local desktop=$usr/share/applications/lumisave.desktop
    desktop-file-validate "$desktop" || fail "desktop-file-validate refuses $desktop"
    grep -qx 'Exec=lumisave-gui' "$desktop" || fail "the menu entry does not start lumisave-gui"
    grep -qx 'Icon=lumisave' "$desktop" || fail "the menu entry does not name the lumisave icon"
    check_policy "$usr/share/polkit-1/actions/org.lumisave.pkexec.lumisave-gui.policy" /usr/bin
  fi
}

check_deb() {
  if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/deb" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log" >&2
    fail "cpack -G DEB failed"
    return
  fi
  local deb
  deb=$(ls "$work"/deb/*.deb 2>/dev/null)
  [ -f "$deb" ] || { fail "cpack made no .deb"; return; }

  echo "--- dpkg-deb -f $(basename "$deb")"
  dpkg-deb -f "$deb"
  echo "--- dpkg-deb -c $(basename "$deb")"
  dpkg-deb -c "$deb"

  [ "$(dpkg-deb -f "$deb" Package)" = lumisave ] || fail "the package is not named lumisave"
  [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "the package version is not $version"
  [ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "the package has no Maintainer"
  [ -n "$(dpkg-deb -f "$deb" Description)" ] || fail "the package has no Description"
  local depends
  depends=$(dpkg-deb -f "$deb" Depends)
  local libs=(libc6 libstdc++6 libblkid1 libmount1)
  [ "$gui" = 1 ] && libs+=(libwxgtk3.2-1)
  for lib in "${libs[@]}"; do
    grep -qE "(^|, )$(sed 's/[+.]/\\&/g' <<<"$lib")( |,|$)" <<<"$depends" ||
      fail "Depends lacks $lib: $depends"
  done

  diff <(expected_files | sed 's|^|./usr/|') \
       <(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort) ||
    fail "the package's files differ from the expected ones (< expected, > packaged)"

  if [ "$gui" = 1 ]; then
    dpkg-deb -x "$deb" "$work/unpacked"
    check_policy "$work/unpacked/usr/share/polkit-1/actions/org.lumisave.pkexec.lumisave-gui.policy" /usr/bin
  fi
}

case $mode in
  install) check_install ;;
  deb) check_deb ;;
  *) echo "usage: install.sh install|deb BUILD_DIR VERSION GUI" >&2; exit 2 ;;
esac

if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "every check passed"
