# Sourced by run.sh and test.sh: installs the Debian packages the build needs
# when any is missing (apt-get, through sudo when not root).
r7_install_deps() {
  local packages=(
    build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
    qt6-base-dev qt6-serialport-dev libgl-dev
    libsimpleini-dev libcli11-dev nlohmann-json3-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    libmodbus-dev socat srecord ser2net
    xvfb xauth fonts-dejavu-core
    dpkg-dev file lintian desktop-file-utils appstream bash-completion
  )
  local missing=()
  local p
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
  if printf '%s\n' "${missing[@]}" | grep -qx ser2net; then
    # ser2net is for the tests, which start their own on 127.0.0.1; the
    # system service that the package starts and enables is put out again.
    "${sudo[@]}" systemctl disable --now ser2net.service >/dev/null 2>&1 || true
    "${sudo[@]}" /etc/init.d/ser2net stop >/dev/null 2>&1 || true
    "${sudo[@]}" update-rc.d ser2net disable >/dev/null 2>&1 || true
  fi
}
