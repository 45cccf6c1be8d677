#!/usr/bin/env bash
# Installs what is missing, builds into build/ (the program folder), creates
# an empty database there if none exists yet, and starts the program.
set -euo pipefail
cd "$(dirname "$0")"
source ./scripts_common.sh

install_missing "${PACKAGES[@]}"
build
if [ ! -e "build/tavora lab.mdb" ]; then
    ./build/tavora-lab-admin init "build/tavora lab.mdb"
fi
exec ./build/tavora-lab
