#!/usr/bin/env bash
# The toolkit gallery, headless, after a click on its second navigation entry ("按钮与输入")
# with the pointer over the student-number field: the picture must show that state, not
# merely exist. Regions of the 1000 x 700 window, in its layout's pixels (scale 1).
#   gallery_screenshot_test.sh <VLUiGallery> <out.png>
set -euo pipefail
gallery="$1"
out="$2"
fail() { echo "gallery screenshot: $*" >&2; exit 1; }
command -v convert >/dev/null || fail "ImageMagick's convert is missing (scripts/setup.sh installs it)"

rm -f "$out"
"$gallery" --screenshot "$out" --click 802 --hover 621
[ -s "$out" ] || fail "no picture written"
size="$(identify -format '%wx%h' "$out")"
[ "$size" = 1000x700 ] || fail "the picture is $size, not 1000x700"

# The distinct colours of a region, e.g. "#EAF2FD".
colours() { convert "$out" -crop "$1" +repage -unique-colors txt:- | sed -n 's/.*  \(#[0-9A-F]\{6\}\).*/\1/p' | sort -u | tr '\n' ' ' | sed 's/ $//'; }
expect() { # region colours what
    local got
    got="$(colours "$1")"
    [ "$got" = "$2" ] || fail "$3: region $1 has $got, expected $2"
}
# Pixels of a region whose blue stands well above its red: the selected entry's blue text.
bluish() { convert "$out" -crop "$1" +repage txt:- | awk -F'[(,)]' 'NR > 1 && $5 - $3 > 80 { n++ } END { print n + 0 }'; }

# The clicked entry is selected (its background), the first one no longer is.
expect 30x20+150+124 "#EAF2FD" "the clicked navigation entry"
expect 30x20+150+83 "#FFFFFF" "the first navigation entry"
[ "$(bluish 100x30+20+118)" -gt 20 ] || fail "the clicked entry's text is not in the selected blue"
[ "$(bluish 100x30+20+76)" -eq 0 ] || fail "the first entry's text is blue"
# Its page shows only the buttons and inputs: below their cards, the bare page.
expect 600x250+300+350 "#F4F6F9" "the page below the cards of buttons and inputs"
# The field under the pointer has the darker border of a hot field; the one below it does not.
expect 1x1+628+141 "#8C959F" "the border of the field under the pointer"
expect 1x1+628+185 "#D0D7DE" "the border of the field below it"
echo "gallery screenshot: $out shows the clicked page and the hot field"
