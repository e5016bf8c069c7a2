#!/bin/sh
# Takes the README's screenshots of docs/garden-house.quillfern under Xvfb, light and dark, with its
# dates in British English and the critical path highlighted:
# docs/screenshot.png and docs/screenshot-dark.png; and its first page exported to PDF, as
# docs/export-page.png (needs pdftoppm from poppler-utils). Needs xvfb, xdotool and imagemagick, and a
# built Quillfern (scripts/run.sh builds one); run from the repository's root.
set -eu
binary=${QUILLFERN_BINARY:-build/dev/src/quillfern}
display=:97
Xvfb "$display" -screen 0 1100x700x24 >/dev/null 2>&1 &
server=$!
home=$(mktemp -d)
trap 'kill "$server" 2>/dev/null; rm -rf "$home"' EXIT
sleep 1
shoot() {
    output=$1
    shift
    # No update check: the settings say it is off. The critical path is on.
    mkdir -p "$home/.config/Quillfern"
    printf '[General]\ncheck%%20version=true\nProject%%20Window%%20Highlight%%20Critical%%20Path=true\n' \
        >"$home/.config/Quillfern/Quillfern.conf"
    LANG=en_GB.UTF-8 HOME=$home XDG_CONFIG_HOME=$home/.config DISPLAY=$display "$binary" "$@" \
        docs/garden-house.quillfern &
    program=$!
    sleep 3
    window=$(DISPLAY=$display xdotool search --name "Garden house" | head -n 1)
    DISPLAY=$display xdotool windowmove "$window" 0 0 windowsize "$window" 1000 560
    sleep 1
    # The selected task shows in the panel and the chart.
    DISPLAY=$display xdotool mousemove 340 306 click 1
    sleep 1
    DISPLAY=$display import -window root -crop 1000x560+0+0 "$output"
    kill "$program"
    wait "$program" 2>/dev/null || true
}
shoot docs/screenshot.png
shoot docs/screenshot-dark.png -style Fusion -stylesheet docs/dark.qss
pdf="$home/export.pdf"
env -u DISPLAY -u WAYLAND_DISPLAY LANG=en_GB.UTF-8 HOME=$home "$binary" --export "$pdf" docs/garden-house.quillfern
pdftoppm -png -r 110 -singlefile "$pdf" docs/export-page
