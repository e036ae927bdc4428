# Shared by ./run and ./test: installs the Debian packages the build needs
# (only those missing), then configures and builds the given preset.
# Usage: source scripts/setup.sh PRESET
set -euo pipefail

TS_PACKAGES=(cmake g++ ninja-build pkg-config libicu-dev libgtest-dev libgmock-dev libbenchmark-dev
             qt6-base-dev xvfb xauth)

ts_install_missing() {
    local missing=()
    for p in "${TS_PACKAGES[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$p")
        fi
    done
    if ((${#missing[@]})); then
        echo "Installing missing packages: ${missing[*]}"
        local sudo=""
        [[ $(id -u) -ne 0 ]] && sudo="sudo"
        $sudo apt-get update -qq
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
    fi
}

ts_build() {
    local preset=$1
    ts_install_missing
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
}
