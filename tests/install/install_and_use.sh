#!/usr/bin/env bash
# Installs tremora into a temporary prefix, builds the library example
# against the installed CMake package (find_package(tremora)) and runs it on
# the sample database: the installed program, libraries, headers and package
# files are all a user needs.
set -euo pipefail
build=$1 source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" > /dev/null
test -x "$work/prefix/bin/tremora"
ls "$work"/prefix/lib*/pkgconfig/tremora.pc > /dev/null
cmake -S "$source/examples" -B "$work/examples" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$work/prefix" > /dev/null
cmake --build "$work/examples" > /dev/null
cd "$work"
"$work/prefix/bin/tremora" sample-db sample.db --station 37001 > /dev/null
printf '[sample]\nDRIVER = sqlite\nHOST = sample.local\nDATABASE = sample.db\n' > default.conf
HOME="$work" "$work/prefix/bin/tremora" refresh-cache --db sample > /dev/null
HOME="$work" TREMORA_LOG_LEVEL=error "$work/examples/first_chart" > out.txt
grep -q "OBSVALUE" out.txt
test -f figures/4112_1.png
# The installed Python package finds its libraries in the prefix.
package=$(ls -d "$work"/prefix/lib/python3*/dist-packages 2>/dev/null || true)
if [[ -n "$package" ]]; then
  HOME="$work" PYTHONPATH="$package" "${PYTHON:-/usr/bin/python3}" -c '
import tremora.fetching as f
with f.conn_to_Oracle("sample") as c:
    df = f.fetching_data(c, "20240509", "20240509", "水位", "郯城", "小时值", "预处理库")
    assert len(df) == 24, len(df)
'
fi
echo "installed, built and ran the example"
