#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite.
# Pass -DSANITIZE=ON to build and test with the sanitizers.
set -euo pipefail
cd "$(dirname "$0")"
source ./scripts_common.sh

# The suites that also run against a PostgreSQL server start a throwaway
# cluster of their own (tools/pg_test_cluster.sh) and stop it afterwards; the
# serial-line test links two pseudo-terminals with socat.
install_missing "${PACKAGES[@]}" "${SERVER_PACKAGES[@]}" poppler-utils python3 socat
build "$@"
# Two suites at a time: the whole run takes about three minutes on two cores.
ctest --test-dir build --output-on-failure --timeout 300 -j2
