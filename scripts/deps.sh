# Sourced by the other scripts: installs the Debian packages Trimlet needs
# that are not there yet. Safe to run again.
trimlet_install_deps() {
  # The last line is for the tests: Qt's private headers, to switch
  # accessibility on under the offscreen platform, and an X server, a D-Bus
  # session with the AT-SPI bus and Python's AT-SPI bindings, to hear the
  # window as a screen reader does.
  local pkgs=(qt6-base-dev qt6-base-dev-tools cmake g++ make pkg-config
              libplist-dev libcanberra-dev comskip mencoder ffmpeg
              qt6-base-private-dev xvfb dbus at-spi2-core python3-gi gir1.2-atspi-2.0 "$@")
  local missing=()
  for p in "${pkgs[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
