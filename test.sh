#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite.
# Pass -DSANITIZE=ON to build and test with the sanitizers.
set -euo pipefail
cd "$(dirname "$0")"
source ./scripts_common.sh

# The suites that also run against a PostgreSQL server start a throwaway
# cluster of their own (tools/pg_test_cluster.sh) and stop it afterwards; the
# serial-line test links two pseudo-terminals with socat.
install_missing "${PACKAGES[@]}" "${SERVER_PACKAGES[@]}" poppler-utils python3 socat zbar-tools python3-aiosmtpd openssl
build "$@"
# Three suites at a time on two cores: the analyzer suites spend half their
# time waiting on purpose (a file held busy, a server stopped), and a third
# suite uses the core they leave idle. The whole run takes under three minutes.
ctest --test-dir build --output-on-failure --timeout 300 -j3
