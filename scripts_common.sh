# Shared by run.sh and test.sh: install the Debian packages the build needs
# (only those missing), then configure and build into build/.

PACKAGES=(g++ cmake ninja-build qt6-base-dev libqt6printsupport6 qt6-qpa-plugins libqt6sql6-sqlite libsqlite3-dev
          libkainjow-mustache-dev fonts-dejavu-core libsodium-dev pkg-config libqt6sql6-psql
          qt6-serialport-dev libzint-dev libcurl4-openssl-dev qt6-charts-dev)
# A laboratory on a server, and the tests that run against one.
SERVER_PACKAGES=(postgresql-15 postgresql-contrib)

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

install_missing() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installing: ${missing[*]}"
        as_root apt-get update -q
        as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
    fi
}

build() {
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
    cmake --build build --parallel "$(nproc)"
}
