#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite.
# Pass -DSANITIZE=ON to build and test with the sanitizers.
set -euo pipefail
cd "$(dirname "$0")"
source ./scripts_common.sh

install_missing "${PACKAGES[@]}" poppler-utils python3
build "$@"
ctest --test-dir build --output-on-failure --timeout 300
