#!/usr/bin/env bash
# Installs every Debian package tremora builds, tests and runs with
# (with --fuzz, also those of the fuzz build).
# Idempotent and non-interactive: packages already present are skipped, and
# apt is only called when something is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  libspdlog-dev libfmt-dev
  libsqlite3-dev zlib1g-dev libsnappy-dev libzstd-dev liblz4-dev libbrotli-dev
  libgeographiclib-dev libcurl4-openssl-dev nlohmann-json3-dev
  libhowardhinnant-date-dev tzdata libfast-float-dev
  libcairo2-dev libpango1.0-dev fonts-noto-cjk fonts-stix fonts-dejavu-core
  libcli11-dev libgtest-dev libgmock-dev libbenchmark-dev
  nodejs python3
  python3-dev pybind11-dev python3-numpy python3-pandas python3-pytest
  python3-venv python3-pip python3-setuptools python3-wheel python3-build python3-mypy
  jupyter-nbconvert python3-ipykernel python3-nbformat python3-matplotlib
  chromium
  lcov clang-format-14
)
# `install-deps.sh --fuzz`: also clang with libFuzzer and the sanitizers,
# for the fuzz build (make fuzz).
if [[ "${1:-}" == "--fuzz" ]]; then
  packages+=(clang-14 libclang-rt-14-dev)
fi

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
# Debian's nodejs comes without npm (other Node.js builds bring their own).
command -v npm >/dev/null || missing+=(npm)

if ((${#missing[@]})); then
  echo "install-deps: installing ${missing[*]}"
  sudo=""
  [[ $(id -u) -eq 0 ]] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
  echo "install-deps: all packages present"
fi

# DuckDB for Node.js: an independent Parquet implementation that the tests
# check our Parquet files against. Installed into build/tools (ignored by git).
# It is optional: without it (no npm registry at hand) those tests are
# skipped, saying why, and everything else builds and runs.
root=$(cd "$(dirname "$0")/.." && pwd)
tools="$root/build/tools"
duckdb_version="1.5.6-r.1"
if command -v node >/dev/null && command -v npm >/dev/null; then
  installed=$(node -p "require('$tools/node_modules/@duckdb/node-api/package.json').version" 2>/dev/null || true)
  if [[ "$installed" != "$duckdb_version" ]]; then
    echo "install-deps: installing @duckdb/node-api@$duckdb_version into $tools"
    mkdir -p "$tools"
    # One retry, soon: an unreachable registry costs seconds, not a minute.
    if ! npm install --prefix "$tools" --no-audit --no-fund --loglevel=error --fetch-retries=1 \
      --fetch-retry-mintimeout=2000 --fetch-retry-maxtimeout=10000 "@duckdb/node-api@$duckdb_version"; then
      echo "install-deps: warning: @duckdb/node-api@$duckdb_version could not be installed;" \
        "the DuckDB interoperability tests will be skipped" >&2
    fi
  fi
else
  echo "install-deps: Node.js is missing; the DuckDB interoperability tests will be skipped"
fi
