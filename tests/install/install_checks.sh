#!/usr/bin/env bash
# Checks of Bexo as installed: `install_checks.sh CHECK`, with the build
# tree, the staging directory and the version in the environment:
#
#   BEXO_BUILD_DIR  BEXO_SOURCE_DIR  BEXO_VERSION  BEXO_DESTDIR  BEXO_ARTIFACTS_DIR
#
# `setup` installs into BEXO_DESTDIR (prefix /usr, as the package does) and
# `cleanup` removes it; every other check reads that one installation.  A
# check reports every fault it finds before it fails, so one run shows them
# all.
set -euo pipefail

check=${1:?usage: install_checks.sh CHECK}
here=$(cd "$(dirname "$0")" && pwd)
: "${BEXO_BUILD_DIR:?}" "${BEXO_SOURCE_DIR:?}" "${BEXO_VERSION:?}" "${BEXO_DESTDIR:?}"
usr=$BEXO_DESTDIR/usr
export LC_ALL=C.UTF-8

faults=0
fault() {
  echo "FAULT: $*" >&2
  faults=$((faults + 1))
}

scratch=$(mktemp -d "${TMPDIR:-/tmp}/bexo-install-XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# Everything here, the tools as well as the programs, runs with a home of
# its own and no way to the user's session bus or settings; `headless` also
# keeps the programs off any display.
mkdir -p "$scratch/home"
export HOME=$scratch/home XDG_CONFIG_HOME=$scratch/home/.config \
  XDG_DATA_HOME=$scratch/home/.local/share XDG_CACHE_HOME=$scratch/home/.cache \
  XDG_STATE_HOME=$scratch/home/.local/state DBUS_SESSION_BUS_ADDRESS=disabled: \
  GSETTINGS_BACKEND=memory NO_AT_BRIDGE=1
unset XDG_RUNTIME_DIR
isolated=(env -u WAYLAND_DISPLAY)
headless=(env -u WAYLAND_DISPLAY -u DISPLAY)

# Regular files and links under a root, one path relative to it a line.
files_under() {
  (cd "$1" && find . \( -type f -o -type l \) -printf '%P\n' | LC_ALL=C sort)
}

expected_files() {
  grep -v '^#' "$here/expected-files" | grep -v '^$' | LC_ALL=C sort
}

# The value of KEY in the [Desktop Entry] group of a desktop file.
desktop_key() {
  awk -F= -v key="$2" '
    /^\[/ { group = $0 }
    group == "[Desktop Entry]" && $1 == key { sub(/^[^=]*=/, ""); print; exit }' "$1"
}

# "-b --buffer-size" for every option of bexo-gtk --help (a long option
# without a short one gives "- --help-all").
help_options() {
  "${headless[@]}" "$usr/bin/bexo-gtk" --help |
    sed -nE 's/^  (-([A-Za-z]), )?(--[a-z][a-z-]*).*/-\2 \3/p' | LC_ALL=C sort
}

# The same pairs from the OPTIONS section of the rendered manual page, whose
# option lines are its only lines indented by exactly seven spaces.
man_options() {
  MANWIDTH=80 man -l "$usr/share/man/man1/bexo-gtk.1.gz" 2>/dev/null | col -b |
    sed -n '/^OPTIONS/,/^[A-Z]/p' |
    sed -nE 's/^       (-([A-Za-z]), )?(--[a-z][a-z-]*).*/-\2 \3/p' | LC_ALL=C sort
}

case $check in
setup)
  rm -rf "$BEXO_DESTDIR"
  DESTDIR=$BEXO_DESTDIR cmake --install "$BEXO_BUILD_DIR" --prefix /usr >"$scratch/log" 2>&1 ||
    { cat "$scratch/log" >&2; fault "cmake --install failed"; }
  ;;

cleanup)
  rm -rf "$BEXO_DESTDIR"
  ;;

files)
  if ! diff -u <(expected_files) <(files_under "$BEXO_DESTDIR") >"$scratch/diff"; then
    cat "$scratch/diff" >&2
    fault "the installed files are not the expected ones (- expected, + installed)"
  fi
  # The package gives these modes as they are; only programs may run.
  while read -r path; do
    mode=$(stat -c %a "$BEXO_DESTDIR/$path")
    case $path in
    usr/bin/*) want=755 ;;
    *) want=644 ;;
    esac
    [ "$mode" = "$want" ] || fault "$path has mode $mode, not $want"
  done < <(files_under "$BEXO_DESTDIR")
  ;;

desktop)
  app_id=$(sed -nE 's/.*application_id\[\] = "([^"]+)".*/\1/p' "$BEXO_SOURCE_DIR/src/gtk/bexo_gtk.cpp")
  [ -n "$app_id" ] || fault "no application id found in src/gtk/bexo_gtk.cpp"
  # GNOME and KDE find a running GTK application's entry by its id.
  [ -f "$usr/share/applications/$app_id.desktop" ] ||
    fault "no desktop entry named after bexo-gtk's application id $app_id"
  for entry in "$usr"/share/applications/*.desktop; do
    name=${entry##*/}
    out=$(desktop-file-validate "$entry" 2>&1) || fault "desktop-file-validate failed on $name"
    [ -z "$out" ] && continue
    fault "desktop-file-validate on $name says:"
    echo "$out" >&2
  done
  for entry in "$usr"/share/applications/*.desktop; do
    name=${entry##*/}
    read -r program arg rest <<<"$(desktop_key "$entry" Exec)"
    [ -x "$usr/bin/$program" ] || fault "$name runs $program, which is not installed in bin"
    if [ "$arg" != "%f" ] || [ -n "$rest" ]; then
      fault "$name passes '$arg $rest', not one file (%f)"
    fi
    icon=$(desktop_key "$entry" Icon)
    [ -f "$usr/share/icons/hicolor/scalable/apps/$icon.svg" ] ||
      fault "$name's icon $icon has no scalable image"
    [ -f "$usr/share/icons/hicolor/48x48/apps/$icon.png" ] ||
      fault "$name's icon $icon has no 48 px image"
  done
  ;;

metainfo)
  file=$usr/share/metainfo/org.bexo.Bexo.metainfo.xml
  # validate-tree also finds the desktop entry and icon the data names.
  for run in "validate $file" "validate-tree $usr"; do
    read -r command path <<<"$run"
    if ! out=$(appstreamcli "$command" --no-net "$path" 2>&1); then
      fault "appstreamcli $run failed:"
      echo "$out" >&2
    elif grep -E '^ *[EWI]: ' <<<"$out" >&2; then
      fault "appstreamcli $run is not clean"
    fi
  done
  launchable=$(sed -nE 's/.*<launchable type="desktop-id">([^<]+)<.*/\1/p' "$file")
  [ -f "$usr/share/applications/$launchable" ] || fault "the launchable $launchable is not installed"
  ;;

versions)
  for program in bexo-gtk bexo-qt; do
    out=$("${headless[@]}" "$usr/bin/$program" --version 2>&1) || fault "$program --version failed"
    [ "$out" = "$program $BEXO_VERSION" ] ||
      fault "$program --version prints '$out', not '$program $BEXO_VERSION'"
  done
  # Each of these is written by hand beside the version in CMakeLists.txt.
  release=$(sed -nE 's/.*<release version="([^"]+)".*/\1/p' \
    "$usr/share/metainfo/org.bexo.Bexo.metainfo.xml" | head -1)
  [ "$release" = "$BEXO_VERSION" ] || fault "the newest release in the metainfo is '$release'"
  entry=$(zcat "$usr/share/doc/bexo/changelog.gz" | sed -nE '1s/^bexo \(([^)]+)\).*/\1/p')
  [ "$entry" = "$BEXO_VERSION" ] || fault "the newest changelog entry is '$entry'"
  for page in bexo-gtk bexo-qt; do
    zcat "$usr/share/man/man1/$page.1.gz" | grep -q "^\.TH .* \"bexo $BEXO_VERSION\"" ||
      fault "$page.1 does not name version $BEXO_VERSION"
  done
  ;;

man)
  for page in bexo-gtk bexo-qt; do
    # man-db hands --warnings on to groff, which reports on stderr.
    MANWIDTH=80 man --warnings -l "$usr/share/man/man1/$page.1.gz" >"$scratch/out" 2>"$scratch/err" ||
      fault "man failed on $page.1"
    if [ -s "$scratch/err" ]; then
      fault "$page.1 has warnings:"
      cat "$scratch/err" >&2
    fi
    grep -qE "^ +$page - run an LV2 plugin" "$scratch/out" || fault "$page.1 has no NAME line for $page"
    for section in SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" "SEE ALSO"; do
      grep -qx "$section" "$scratch/out" || fault "$page.1 has no $section section"
    done
  done
  ;;

man-options)
  help_options >"$scratch/help" || fault "bexo-gtk --help failed"
  man_options >"$scratch/man"
  [ -s "$scratch/help" ] || fault "no options found in bexo-gtk --help"
  if ! diff -u "$scratch/help" "$scratch/man" >"$scratch/diff"; then
    cat "$scratch/diff" >&2
    fault "bexo-gtk.1 and bexo-gtk --help list different options (- help, + man)"
  fi
  ;;

icons)
  theme=$usr/share/icons/hicolor
  for size in 16 22 24 32 48 64 128 256; do
    png=$theme/${size}x$size/apps/bexo.png
    if [ ! -f "$png" ]; then
      fault "no $size px icon"
      continue
    fi
    got=$(identify -format '%m %wx%h' "$png")
    [ "$got" = "PNG ${size}x$size" ] || fault "the $size px icon is '$got'"
    # The tile has rounded corners on a transparent ground: a render that
    # failed or lost its alpha channel is opaque or empty there.
    alpha=$(convert "$png" -format '%[fx:p{0,0}.a] %[fx:p{w/2,h/2}.a]' info:)
    [ "$alpha" = "0 1" ] || fault "the $size px icon's corner and centre alpha are '$alpha', not '0 1'"
  done
  if [ -n "${BEXO_ARTIFACTS_DIR:-}" ]; then
    mkdir -p "$BEXO_ARTIFACTS_DIR"
    cp "$theme/48x48/apps/bexo.png" "$BEXO_ARTIFACTS_DIR/bexo-icon-48.png"
  fi
  ;;

package)
  # What the `package` target runs, into a directory of the test's own.
  cpack --config "$BEXO_BUILD_DIR/CPackConfig.cmake" -B "$scratch/package" >"$scratch/log" 2>&1 ||
    { cat "$scratch/log" >&2; fault "cpack failed"; }
  debs=("$scratch"/package/*.deb)
  if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
    fault "cpack made ${#debs[@]} packages: ${debs[*]##*/}"
  else
    deb=${debs[0]}
    arch=$(dpkg --print-architecture)
    [ "${deb##*/}" = "bexo_${BEXO_VERSION}_$arch.deb" ] || fault "the package is named ${deb##*/}"
    for field in "Package bexo" "Version $BEXO_VERSION" "Architecture $arch" "Section sound"; do
      read -r name want <<<"$field"
      got=$(dpkg-deb --field "$deb" "$name")
      [ "$got" = "$want" ] || fault "$name is '$got', not '$want'"
    done
    dpkg-deb --field "$deb" Maintainer | grep -qE '^The Bexo developers <[^@>]+@[^>]+>$' ||
      fault "the Maintainer is '$(dpkg-deb --field "$deb" Maintainer)'"
    # dpkg-shlibdeps names each library's package with the least version
    # the binaries need; a list written by hand would rarely carry those.
    depends=$(dpkg-deb --field "$deb" Depends)
    echo "Depends: $depends"
    for lib in libc6 libstdc++6 libglib2.0-0 libgtk-3-0 libqt6core6 libqt6widgets6 liblilv-0-0 \
      libserd-0-0 libsratom-0-0 libsuil-0-0 libjack-jackd2-0; do
      pattern=${lib//./\\.}
      pattern=${pattern//+/\\+}
      grep -qE "(^|, )$pattern \(>= [^)]+\)" <<<"$depends" || fault "Depends has no versioned $lib"
    done
    lintian --display-info "$deb" >"$scratch/lintian" 2>/dev/null || true
    cat "$scratch/lintian"
    grep -E '^[EW]: ' "$scratch/lintian" >&2 && fault "lintian reports errors or warnings"
    mkdir "$scratch/unpacked"
    dpkg -x "$deb" "$scratch/unpacked"
    if ! diff -u <(files_under "$BEXO_DESTDIR") <(files_under "$scratch/unpacked") >"$scratch/diff"; then
      cat "$scratch/diff" >&2
      fault "the package's files are not those of the installation (- installed, + package)"
    fi
  fi
  ;;

jack-run)
  # Under bexo-test-env --jack --display: the private server and display.
  : "${JACK_DEFAULT_SERVER:?not under bexo-test-env --jack}" "${DISPLAY:?not under a display}"
  client=bexo-installed
  LV2_PATH=/usr/lib/lv2 "${isolated[@]}" "$usr/bin/bexo-gtk" -n "$client" \
    http://lv2plug.in/plugins/eg-amp >"$scratch/out" 2>&1 &
  pid=$!
  trap 'kill -KILL "$pid" 2>/dev/null || true; rm -rf "$scratch"' EXIT
  ports=""
  for _ in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || break
    ports=$(jack_lsp 2>/dev/null | grep "^$client:" | LC_ALL=C sort | tr '\n' ' ') || true
    [ "$ports" = "$client:in $client:out " ] && break
    sleep 0.2
  done
  [ "$ports" = "$client:in $client:out " ] || fault "JACK ports of $client: '$ports', not its in and out"
  # The desktop matches the window to its entry by the window's class.
  window=""
  for _ in $(seq 50); do
    window=$(xdotool search --onlyvisible --pid "$pid" 2>/dev/null | head -1) || true
    [ -n "$window" ] && break
    sleep 0.2
  done
  wm_class=$(xprop -id "${window:-0}" WM_CLASS 2>/dev/null || true)
  startup=$(desktop_key "$usr/share/applications/org.bexo.Bexo.desktop" StartupWMClass)
  grep -qF "\"$startup\"" <<<"$wm_class" ||
    fault "the window's class is '$wm_class', its entry's StartupWMClass '$startup'"
  kill -TERM "$pid" 2>/dev/null || true
  for _ in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.2
  done
  if kill -0 "$pid" 2>/dev/null; then
    fault "bexo-gtk still runs 10 s after SIGTERM"
    kill -KILL "$pid"
  fi
  status=0
  wait "$pid" || status=$?
  [ "$status" -eq 0 ] || fault "bexo-gtk ended with status $status after SIGTERM"
  left=$(jack_lsp 2>/dev/null | grep "^$client:" || true)
  [ -z "$left" ] || fault "ports left behind: $left"
  if [ "$faults" -ne 0 ]; then
    echo "bexo-gtk's output:" >&2
    cat "$scratch/out" >&2
  fi
  ;;

*)
  echo "install_checks.sh: no check named $check" >&2
  exit 2
  ;;
esac

if [ "$faults" -ne 0 ]; then
  echo "$check: $faults fault(s)" >&2
  exit 1
fi
